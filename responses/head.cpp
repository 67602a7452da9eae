#include "responses/head.h"

#include "responses/http_response.h"
#include "server/http_request.h"

#include <QDateTime>
#include <QFileInfo>

Head::Head(HTTP_Request *request)
    : Dav(request)
{
}

void Head::reply(QFileInfo *root)
{
    const QFileInfo target(addressed(root));
    if (!target.exists()) {
        sendHeader("404 Not Found", 0);
        return;
    }
    if (target.isDir()) {
        sendHeader("200 OK", 0);
        return;
    }
    QByteArray extra;
    const qint64 size = target.size();
    const qint64 modifiedMs = target.lastModified().toMSecsSinceEpoch();
    if (HTTP_Response::answerConditions(this, size, modifiedMs))
        return;
    contentType = HTTP_Response::describeFile(target.fileName(), size, modifiedMs, &extra);
    sendHeader("200 OK", size, &extra);
    // With a length the head alone does not end the exchange.
    if (size > 0)
        request->socket.end();
}
