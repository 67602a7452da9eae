#include "responses/mkcol.h"

#include "server/http_request.h"
#include "server/sharepath.h"
#include "server/statusline.h"

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
        sendHeader(StatusLine::UnsupportedMediaType, 0);
        return;
    }
    ShareRoot &items = share();
    ShareRoot::Refusal made = items.open(request->path, O_PATH | O_DIRECTORY).refusal;
    if (made != ShareRoot::Reached && made != ShareRoot::Outside && made != ShareRoot::Private)
        made = items.makeFolders(request->path);
    switch (made) {
    case ShareRoot::Reached:
        sendHeader(StatusLine::Created, 0);
        break;
    case ShareRoot::Outside:
    case ShareRoot::Private:
        sendHeader(StatusLine::Forbidden, 0);
        break;
    default:
        sendHeader(StatusLine::MkpathFailed, 0);
        break;
    }
}
