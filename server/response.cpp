#include "server/response.h"

#include "server/clientdata.h"
#include "server/http_request.h"

#include <charconv>
#include <cstring>

namespace {
const char ServerName[] = "Kestrune_4";
}

const QByteArray Response::PageHeaders = "Content-Security-Policy: frame-ancestors 'none'\r\n";

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
    if (socket.bodyPending())
        socket.setKeepAlive(false);

    // The id of the session this connection has, never bytes a client sent.
    char id[24];
    const QByteArrayView cookieValue(id, std::to_chars(id, id + sizeof id, request->getClientData()->id).ptr - id);
    const bool typed = length > 0 && !contentType.isEmpty();
    char number[24];
    const char *const lengthEnd = std::to_chars(number, number + sizeof number, length).ptr;

    QByteArray head;
    append(&head, {
        "HTTP/1.1 ", status, "\r\nServer: ", ServerName, "\r\nCache-Control: ", cacheControl, "\r\nSet-Cookie: ",
        "ID=", cookieValue,
        // Out of reach of page scripts and of requests that other sites make; over TLS only
        // when it came over TLS.
        "; HttpOnly; SameSite=Lax", socket.isEncrypted() ? QByteArrayView("; Secure\r\n") : QByteArrayView("\r\n"),
        socket.isKeepAlive() ? QByteArrayView() : QByteArrayView("Connection: close\r\n"),
        "Accept-Ranges: bytes\r\n",
        extra ? QByteArrayView(*extra) : QByteArrayView(),
        typed ? QByteArrayView("Content-Type: ") : QByteArrayView(),
        typed ? QByteArrayView(contentType) : QByteArrayView(),
        typed ? QByteArrayView("\r\n") : QByteArrayView(),
        "Content-Length: ", QByteArrayView(number, lengthEnd - number), "\r\n\r\n",
    });
    cacheControl = NoCache;
    return head;
}

void Response::append(QByteArray *text, std::initializer_list<QByteArrayView> parts)
{
    qsizetype size = 0;
    for (const QByteArrayView part : parts)
        size += part.size();
    const qsizetype at = text->size();
    text->resize(at + size);
    char *out = text->data() + at;
    for (const QByteArrayView part : parts) {
        if (!part.isEmpty())
            std::memcpy(out, part.data(), size_t(part.size()));
        out += part.size();
    }
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
