#include "responses/mkcol.h"

#include "server/http_request.h"

#include <QDir>
#include <QFileInfo>

MkCol::MkCol(HTTP_Request *request)
    : Dav(request)
{
}

void MkCol::reply(QFileInfo *root)
{
    // A body would say what to make; none is understood.
    if (request->contentLength > 0) {
        sendHeader("415 Unsupported Media Type", 0);
        return;
    }
    const QString path = addressed(root);
    if (QFileInfo(path).isDir()) {
        sendHeader("201 Created", 0);
        return;
    }
    sendHeader(QDir(root->absoluteFilePath()).mkpath(path) ? "201 Created" : "500 MKPATH Failed", 0);
}
