#include "webclient.h"

#include <QHostAddress>
#include <QTest>

QByteArray WebReply::header(const QByteArray &name) const
{
    for (const QByteArray &line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return QByteArray();
}

bool WebReply::takeFrom(QByteArray &bytes)
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    const qsizetype lineEnd = bytes.indexOf("\r\n");
    statusLine = bytes.left(lineEnd);
    head = bytes.mid(lineEnd + 2, end - lineEnd);
    const qint64 length = header("Content-Length").toLongLong();
    if (bytes.size() < end + 4 + length)
        return false;
    body = bytes.mid(end + 4, length);
    bytes.remove(0, end + 4 + length);
    complete = true;
    return true;
}

WebClient::WebClient(quint16 port)
    : port(port)
{
    QObject::connect(&socket, &QIODevice::readyRead, &socket, [this] { pump(); });
}

void WebClient::pump()
{
    received += socket.readAll();
}

bool WebClient::connect()
{
    received.clear();
    socket.connectToHost(QHostAddress::LocalHost, port);
    return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }, Timeout);
}

void WebClient::send(const QByteArray &bytes)
{
    if (socket.state() != QAbstractSocket::ConnectedState)
        connect();
    socket.write(bytes);
    socket.flush();
}

bool WebClient::read(WebReply *reply, int timeoutMs)
{
    bool done = false;
    (void)QTest::qWaitFor([&] {
        pump();
        done = reply->takeFrom(received);
        return done || isClosed();
    }, timeoutMs);
    if (!done) {
        pump();
        done = reply->takeFrom(received);
    }
    if (done) {
        const QByteArray set = reply->header("Set-Cookie");
        // The cookie without its attributes, as a browser sends it back.
        if (set.startsWith("ID="))
            cookie = set.left(set.indexOf(';') < 0 ? set.size() : set.indexOf(';'));
    }
    return done;
}

bool WebClient::waitClosed(int timeoutMs)
{
    (void)QTest::qWaitFor([this] { return isClosed(); }, timeoutMs);
    return isClosed();
}

WebReply WebClient::exchange(const QByteArray &request)
{
    if (isClosed())
        connect();
    send(request);
    WebReply reply;
    read(&reply);
    return reply;
}

WebReply WebClient::get(const QByteArray &target, const QByteArray &extraHeaders)
{
    QByteArray request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!cookie.isEmpty())
        request += "Cookie: " + cookie + "\r\n";
    request += extraHeaders;
    request += "\r\n";
    return exchange(request);
}

WebReply WebClient::post(const QByteArray &target, const QByteArray &form)
{
    QByteArray request = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!cookie.isEmpty())
        request += "Cookie: " + cookie + "\r\n";
    request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: "
               + QByteArray::number(form.size()) + "\r\n\r\n" + form;
    return exchange(request);
}

WebReply WebClient::multipart(const QByteArray &target, const QByteArray &contentType, const QByteArray &body)
{
    QByteArray request = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!cookie.isEmpty())
        request += "Cookie: " + cookie + "\r\n";
    request += "Content-Type: " + contentType + "\r\nContent-Length: " + QByteArray::number(body.size())
               + "\r\n\r\n" + body;
    return exchange(request);
}

QByteArray multipartBody(const QByteArray &boundary, const QByteArray &fileName, const QByteArray &data)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"" + fileName
           + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + data + "\r\n--" + boundary
           + "\r\nContent-Disposition: form-data; name=\"submit\"\r\n\r\nSend\r\n--" + boundary + "--\r\n";
}
