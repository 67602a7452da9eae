#include "responses/messagepages.h"

#include "responses/textcoding.h"
#include "server/http_request.h"
#include "server/response.h"
#include "server/servercontext.h"
#include "server/statusline.h"

#include <QFile>

namespace MessagePages {

void sendNotFound(Response *response)
{
    const QString &path = response->request->path;
    QByteArray body = "<html><title>Wrong URL</title><body><h1>Wrong URL</h1>Path=";
    body += TextCoding::escaped(QByteArrayView(path.toLatin1()));
    body += "<br>or File=";
    body += TextCoding::escaped(QStringView(path));
    body += "<br>Not found.</body></html>";
    response->contentType = "text/html";
    response->sendHeader(StatusLine::NotFound, body.size(), &Response::PageHeaders);
    response->request->socket.write(body, true);
}

void sendLogin(Response *response, const char *status)
{
    QFile page(response->request->context->langPath + QLatin1String("login.html"));
    if (!page.open(QIODevice::ReadOnly)) {
        sendNotFound(response);
        return;
    }
    const QByteArray body = page.readAll();
    response->contentType = "text/html; charset=UTF-8";
    response->sendHeader(status, body.size(), &Response::PageHeaders);
    response->request->socket.write(body, true);
}

void sendMessage(Response *response, const char *message)
{
    QByteArray body = "<html><body><h2>";
    body += message;
    body += "</h2></body></html>";
    response->contentType = "text/html; charset=UTF-8";
    response->sendHeader(StatusLine::Ok, body.size(), &Response::PageHeaders);
    response->request->socket.write(body, true);
}

} // namespace MessagePages
