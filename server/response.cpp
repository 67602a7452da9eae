#include "server/response.h"

#include "server/clientdata.h"
#include "server/http_request.h"

namespace {
const char ServerName[] = "Kestrune_4";
}

Response::Response(HTTP_Request *request)
    : QObject(&request->socket)
    , request(request)
{
}

void Response::reply() {}
void Response::reply(QFileInfo *, Configuration *) {}
void Response::reply(QFileInfo *) {}
void Response::sendFile(const QString &) {}
void Response::reply(int) {}

void Response::sendHeader(const char *status, qint64 length, const QByteArray *extra)
{
    request->socket.write(header(status, length, extra), length == 0);
}

QByteArray Response::header(const char *status, qint64 length, const QByteArray *extra)
{
    Socket &socket = request->socket;
    // Body bytes left unread cannot be told from the next request: close after this answer.
    if (socket.unreadBody() > 0)
        socket.setKeepAlive(false);

    QByteArray head;
    head.reserve(512);
    head += "HTTP/1.1 ";
    head += status;
    head += "\r\nServer: ";
    head += ServerName;
    head += "\r\nCache-Control: no-cache\r\nSet-Cookie: ";
    if (const QNetworkCookie *cookie = request->getCookie("ID")) {
        head += cookie->name();
        head += '=';
        head += cookie->value();
    } else {
        head += "ID=";
        head += QByteArray::number(request->getClientData()->id);
    }
    head += "\r\n";
    if (!socket.isKeepAlive())
        head += "Connection: close\r\n";
    head += "Accept-Ranges: bytes\r\n";
    if (extra)
        head += *extra;
    if (length > 0 && !contentType.isEmpty()) {
        head += "Content-Type: ";
        head += contentType;
        head += "\r\n";
    }
    head += "Content-Length: ";
    head += QByteArray::number(length);
    head += "\r\n\r\n";
    return head;
}

void Response::addLine(QByteArray *text)
{
    text->append("\r\n");
}

void Response::addLine(QByteArray *text, const char *line)
{
    text->append(line);
    text->append("\r\n");
}
