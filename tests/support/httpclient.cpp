#include "httpclient.h"

#include "requests.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTimer>

#include <utility>

bool HttpClient::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake; // so that the wait below returns now and then even when nothing happens
    wake.start(20);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

HttpClient::HttpClient()
{
    QObject::connect(&socket, &QIODevice::readyRead, &socket, [this] { pump(); });
}

HttpClient::HttpClient(quint16 port, Mode mode)
    : HttpClient()
{
    this->port = port;
    this->mode = mode;
    if (mode == Tls)
        connectEncrypted(port);
    else if (mode == Raw)
        connectTo(port);
}

void HttpClient::pump()
{
    const QByteArray bytes = socket.readAll();
    totalReceived += bytes.size();
    received += bytes;
}

bool HttpClient::connectTo(quint16 serverPort)
{
    socket.connectToHost(QHostAddress::LocalHost, serverPort);
    // A refused connection ends in the unconnected state.
    return waitUntil([this] { return isConnected() || isClosed(); }, Timeout) && isConnected();
}

bool HttpClient::connectEncrypted(quint16 serverPort)
{
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), serverPort);
    return waitUntil([this] { return socket.isEncrypted() || isClosed(); }, Timeout)
        && socket.isEncrypted();
}

void HttpClient::send(const QByteArray &bytes)
{
    if (mode == Browser && !isConnected()) {
        received.clear();
        connectTo(port);
    }
    socket.write(bytes);
    socket.flush();
}

bool HttpClient::read(HttpReply *reply, int timeoutMs, bool headOnly)
{
    bool done = false;
    (void)waitUntil([&] {
        pump();
        done = reply->takeFrom(received, headOnly);
        return done || isClosed();
    }, timeoutMs);
    // The cookie without its attributes, as a browser sends it back.
    if (done && mode == Browser && reply->header("Set-Cookie").startsWith("ID="))
        cookie = cookieOf(*reply);
    return done;
}

HttpReply HttpClient::reply(int timeoutMs)
{
    HttpReply reply;
    read(&reply, timeoutMs);
    return reply;
}

HttpReply HttpClient::exchange(const QByteArray &request, int timeoutMs)
{
    send(request);
    return reply(timeoutMs);
}

HttpReply HttpClient::exchangeHead(const QByteArray &request, int timeoutMs)
{
    send(request);
    HttpReply reply;
    read(&reply, timeoutMs, true);
    return reply;
}

HttpReply HttpClient::request(const QByteArray &head, const QByteArray &body)
{
    QByteArray bytes = head + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!cookie.isEmpty())
        bytes += "Cookie: " + cookie + "\r\n";
    return exchange(bytes + body);
}

HttpReply HttpClient::get(const QByteArray &target, const QByteArray &extraHeaders)
{
    return request("GET " + target, extraHeaders + "\r\n");
}

HttpReply HttpClient::post(const QByteArray &target, const QByteArray &form)
{
    return multipart(target, "application/x-www-form-urlencoded", form);
}

HttpReply HttpClient::multipart(const QByteArray &target, const QByteArray &contentType, const QByteArray &body)
{
    return request("POST " + target, "Content-Type: " + contentType + "\r\nContent-Length: "
                                         + QByteArray::number(body.size()) + "\r\n\r\n" + body);
}

bool HttpClient::waitClosed(int timeoutMs)
{
    (void)waitUntil([this] { return isClosed(); }, timeoutMs);
    pump();
    return isClosed();
}

QByteArray HttpClient::readUntilClosed(int timeoutMs)
{
    waitClosed(timeoutMs);
    return std::exchange(received, QByteArray());
}

QByteArray HttpClient::pending()
{
    pump();
    return received;
}

QByteArray multipartBody(const QByteArray &boundary, const QByteArray &fileName, const QByteArray &data)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"" + fileName
           + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + data + "\r\n--" + boundary
           + "\r\nContent-Disposition: form-data; name=\"submit\"\r\n\r\nSend\r\n--" + boundary + "--\r\n";
}
