#include "responses/delete.h"

#include "config/configuration.h"
#include "server/http_request.h"
#include "server/sharepath.h"
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
        sendHeader("200 Not exists", 0);
        return;
    case ShareRoot::Outside:
    case ShareRoot::Private:
        sendHeader("403 Forbidden", 0);
        return;
    case ShareRoot::Failed:
        sendHeader("423 Locked", 0);
        return;
    }
    const int folder = target.folder.get();
    if (::fstatat(folder, target.name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        sendHeader("200 Not exists", 0);
        return;
    }
    // A link goes as a link, even when it points at a folder.
    if (!S_ISDIR(status.st_mode)) {
        sendHeader(::unlinkat(folder, target.name.constData(), 0) == 0 ? "200 File deleted" : "423 Locked", 0);
        return;
    }
    sendHeader(DeleteDir(folder, target.name, &items).deleteDir() ? "200 Dir deleted" : "423 Locked", 0);
}
