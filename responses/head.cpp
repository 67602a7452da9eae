#include "responses/head.h"

#include "responses/http_response.h"
#include "server/http_request.h"
#include "web/folderzip.h"

#include <QDateTime>
#include <QFileInfo>

Head::Head(HTTP_Request *request)
    : Dav(request)
{
}

Head::~Head() = default;

void Head::reply(QFileInfo *root)
{
    const QFileInfo target(addressed(root));
    if (!target.exists()) {
        sendHeader("404 Not Found", 0);
        return;
    }
    if (target.isDir()) {
        if (request->param("a") == QLatin1String("zip")) {
            if (!zip)
                zip = std::make_unique<FolderZip>(this);
            zip->reply(request->path, false);
            return;
        }
        sendHeader("200 OK", 0);
        return;
    }
    QByteArray extra;
    const qint64 size = target.size();
    contentType = HTTP_Response::describeFile(target.fileName(), size, target.lastModified().toMSecsSinceEpoch(), &extra);
    sendHeader("200 OK", size, &extra);
    // With a length the head alone does not end the exchange.
    if (size > 0)
        request->socket.end();
}
