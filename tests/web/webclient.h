#ifndef WEBCLIENT_H
#define WEBCLIENT_H

#include <QByteArray>
#include <QList>
#include <QTcpSocket>

// One answer as it came over the wire.
struct WebReply
{
    QByteArray statusLine; // "HTTP/1.1 200 OK"
    QByteArray head;       // every header line, each ending in CRLF
    QByteArray body;
    bool complete = false;

    QByteArray status() const { return statusLine.mid(9); }
    QByteArray header(const QByteArray &name) const;
    // Takes one whole answer off the front of `bytes`.
    bool takeFrom(QByteArray &bytes);
};

// A browser stand-in for tests that run the server in the same thread: raw bytes out, raw
// answers in, every wait spinning the event loop. It keeps the session cookie like a browser.
class WebClient
{
public:
    static constexpr int Timeout = 10000;

    explicit WebClient(quint16 port);

    bool connect();
    void send(const QByteArray &bytes);
    bool read(WebReply *reply, int timeoutMs = Timeout);
    bool waitClosed(int timeoutMs = Timeout);
    bool isClosed() const { return socket.state() == QAbstractSocket::UnconnectedState; }

    // A request with the session cookie, on the open connection (connecting first if needed).
    WebReply get(const QByteArray &target, const QByteArray &extraHeaders = QByteArray());
    WebReply post(const QByteArray &target, const QByteArray &form);
    WebReply multipart(const QByteArray &target, const QByteArray &contentType, const QByteArray &body);
    WebReply exchange(const QByteArray &request);

    QByteArray cookie;
    QTcpSocket socket;
    QByteArray received;

private:
    void pump();
    quint16 port;
};

// The body of a form upload with one file part (and the "submit" field browsers add after it).
QByteArray multipartBody(const QByteArray &boundary, const QByteArray &fileName, const QByteArray &data);

#endif
