#include "responses/delete.h"

#include "config/configuration.h"
#include "server/http_request.h"
#include "server/servercontext.h"
#include "server/sharepath.h"
#include "server/statusline.h"
#include "web/deletedir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Delete::Delete(HTTP_Request *request)
    : Dav(request)
{
}

void Delete::reply(QFileInfo *, Configuration *)
{
    // The item by its folder and name: the name itself goes, never what a link leads to. The
    // shared folder itself has no place and stays.
    ShareRoot &items = share();
    const ShareRoot::Place target = items.place(request->path);
    struct stat status;
    switch (target.refusal) {
    case ShareRoot::Reached:
        break;
    case ShareRoot::Missing:
        sendHeader(StatusLine::OkNotExists, 0);
        return;
    case ShareRoot::Outside:
    case ShareRoot::Private:
        sendHeader(StatusLine::Forbidden, 0);
        return;
    case ShareRoot::Failed:
        sendHeader(StatusLine::Locked, 0);
        return;
    }
    const int folder = target.folder.get();
    if (::fstatat(folder, target.name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        sendHeader(StatusLine::OkNotExists, 0);
        return;
    }
    // A link goes as a link, even when it points at a folder.
    const bool file = !S_ISDIR(status.st_mode);
    const bool deleted = file ? ::unlinkat(folder, target.name.constData(), 0) == 0
                              : DeleteDir(folder, target.name, &items).deleteDir();
    // The locks on what is gone end with it.
    if (deleted)
        request->context->locks().dropWithin(request->path);
    sendHeader(!deleted ? StatusLine::Locked : file ? StatusLine::OkFileDeleted : StatusLine::OkDirDeleted, 0);
}
