#include "httpclient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTimer>

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

void HttpClient::pump()
{
    const QByteArray bytes = socket.readAll();
    totalReceived += bytes.size();
    received += bytes;
}

bool HttpClient::connectTo(quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    // A refused connection ends in the unconnected state.
    return waitUntil([this] { return socket.state() == QAbstractSocket::ConnectedState || isClosed(); }, Timeout)
        && socket.state() == QAbstractSocket::ConnectedState;
}

bool HttpClient::connectEncrypted(quint16 port)
{
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    return waitUntil([this] { return socket.isEncrypted() || isClosed(); }, Timeout)
        && socket.isEncrypted();
}

void HttpClient::send(const QByteArray &bytes)
{
    socket.write(bytes);
    socket.flush();
}

bool HttpClient::read(HttpReply *reply, int timeoutMs, bool headOnly)
{
    pump();
    bool done = reply->takeFrom(received, headOnly);
    if (done)
        return true;
    (void)waitUntil([&] {
        pump();
        done = reply->takeFrom(received, headOnly);
        return done || isClosed();
    }, timeoutMs);
    if (!done) {
        pump();
        done = reply->takeFrom(received, headOnly);
    }
    return done;
}

HttpReply HttpClient::exchange(const QByteArray &request, int timeoutMs)
{
    send(request);
    HttpReply reply;
    read(&reply, timeoutMs);
    return reply;
}

HttpReply HttpClient::exchangeHead(const QByteArray &request, int timeoutMs)
{
    send(request);
    HttpReply reply;
    read(&reply, timeoutMs, true);
    return reply;
}

bool HttpClient::waitClosed(int timeoutMs)
{
    (void)waitUntil([this] { return isClosed(); }, timeoutMs);
    pump();
    return isClosed();
}

QByteArray HttpClient::pending()
{
    pump();
    return received;
}
