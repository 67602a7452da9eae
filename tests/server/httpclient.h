#ifndef HTTPCLIENT_H
#define HTTPCLIENT_H

#include "httpreply.h"

#include <QByteArray>
#include <QSslSocket>

#include <functional>

// A client that writes raw bytes and reads raw answers, for tests that run the server in the
// same thread: every wait spins the event loop, so the server keeps working meanwhile.
class HttpClient
{
public:
    static constexpr int Timeout = 10000;

    HttpClient();

    // Runs the event loop until `done` holds or the time is up; returns `done`.
    static bool waitUntil(const std::function<bool()> &done, int timeoutMs = Timeout);

    bool connectTo(quint16 port);
    // Connects and completes a TLS handshake (the server's certificate is not checked).
    bool connectEncrypted(quint16 port);
    void send(const QByteArray &bytes);
    // Waits for the next complete answer; false when none came before the timeout or the close.
    bool read(HttpReply *reply, int timeoutMs = Timeout, bool headOnly = false);
    // Sends `request` and reads one answer.
    HttpReply exchange(const QByteArray &request, int timeoutMs = Timeout);
    // Sends a HEAD `request` and reads the head that answers it.
    HttpReply exchangeHead(const QByteArray &request, int timeoutMs = Timeout);
    // Waits until the server has closed the connection.
    bool waitClosed(int timeoutMs = Timeout);
    bool isClosed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    // Bytes received and not yet taken as an answer.
    QByteArray pending();
    void close() { socket.abort(); }

    QSslSocket socket;
    QByteArray received;
    qint64 totalReceived = 0;

private:
    void pump();
};

#endif
