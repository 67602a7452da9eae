#ifndef HTTPCLIENT_H
#define HTTPCLIENT_H

#include "httpreply.h"

#include <QByteArray>
#include <QSslSocket>

#include <functional>

// A client that writes raw bytes and reads raw answers, for tests that run the server in the
// same thread: every wait spins the event loop, so the server keeps working meanwhile.
// Made for a port it connects at once (over TLS with `Tls`, the server's certificate not
// checked). With `Browser` it connects when it first sends, connects again when the server has
// closed, and keeps the session cookie it is given and sends it with get(), post() and
// multipart(), as a browser does.
class HttpClient
{
public:
    static constexpr int Timeout = 10000;
    enum Mode { Raw, Tls, Browser };

    HttpClient();
    explicit HttpClient(quint16 port, Mode mode = Raw);

    // Runs the event loop until `done` holds or the time is up; returns `done`.
    static bool waitUntil(const std::function<bool()> &done, int timeoutMs = Timeout);

    bool connectTo(quint16 serverPort);
    // Connects and completes a TLS handshake (the server's certificate is not checked).
    bool connectEncrypted(quint16 serverPort);
    bool isConnected() const { return socket.state() == QAbstractSocket::ConnectedState; }
    void send(const QByteArray &bytes);
    // Waits for the next complete answer; false when none came before the timeout or the close.
    bool read(HttpReply *reply, int timeoutMs = Timeout, bool headOnly = false);
    // The next answer; `complete` is false when it did not arrive whole in time.
    HttpReply reply(int timeoutMs = Timeout);
    // Sends `request` and reads one answer.
    HttpReply exchange(const QByteArray &request, int timeoutMs = Timeout);
    // Sends a HEAD `request` and reads the head that answers it.
    HttpReply exchangeHead(const QByteArray &request, int timeoutMs = Timeout);
    // Requests with the session cookie and "Host: 127.0.0.1".
    HttpReply get(const QByteArray &target, const QByteArray &extraHeaders = QByteArray());
    HttpReply post(const QByteArray &target, const QByteArray &form);
    HttpReply multipart(const QByteArray &target, const QByteArray &contentType, const QByteArray &body);
    // Waits until the server has closed the connection.
    bool waitClosed(int timeoutMs = Timeout);
    bool isClosed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    // Everything until the server closes the connection (answers not yet taken included).
    QByteArray readUntilClosed(int timeoutMs = Timeout);
    // Bytes received and not yet taken as an answer.
    QByteArray pending();
    void close() { socket.abort(); }
    void abort() { socket.abort(); }

    QSslSocket socket;
    QByteArray received;
    qint64 totalReceived = 0;
    QByteArray cookie; // "ID=<id>", the session cookie kept in the Browser mode

private:
    void pump();
    HttpReply request(const QByteArray &head, const QByteArray &body = QByteArray());

    quint16 port = 0;
    Mode mode = Raw;
};

// The body of a form upload with one file part (and the "submit" field browsers add after it).
QByteArray multipartBody(const QByteArray &boundary, const QByteArray &fileName, const QByteArray &data);

#endif
