#include "responses/mkcol.h"

#include "server/http_request.h"
#include "server/sharepath.h"

#include <fcntl.h>

MkCol::MkCol(HTTP_Request *request)
    : Dav(request)
{
}

void MkCol::reply(QFileInfo *root)
{
    Q_UNUSED(root);
    // A body would say what to make; none is understood.
    if (request->contentLength > 0) {
        sendHeader("415 Unsupported Media Type", 0);
        return;
    }
    ShareRoot &items = share();
    ShareRoot::Refusal made = items.open(request->path, O_PATH | O_DIRECTORY).refusal;
    if (made != ShareRoot::Reached && made != ShareRoot::Outside && made != ShareRoot::Private)
        made = items.makeFolders(request->path);
    switch (made) {
    case ShareRoot::Reached:
        sendHeader("201 Created", 0);
        break;
    case ShareRoot::Outside:
    case ShareRoot::Private:
        sendHeader("403 Forbidden", 0);
        break;
    default:
        sendHeader("500 MKPATH Failed", 0);
        break;
    }
}
