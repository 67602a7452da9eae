#ifndef RAWCLIENT_H
#define RAWCLIENT_H

#include <QByteArray>
#include <QList>
#include <QSslSocket>
#include <utility>

// One answer as it came over the wire.
struct Reply
{
    QByteArray status;  // "207 Multi-Status"
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    bool complete = false;

    // The value of a header line (name compared without case), null when absent.
    QByteArray header(const QByteArray &name) const;
};

// A client connection on loopback that sends raw bytes and reads answers framed by their
// Content-Length. Waiting spins the event loop, so a server in the same thread keeps working.
class RawClient
{
public:
    explicit RawClient(quint16 port, bool tls = false);

    bool isConnected() const { return connected; }
    void send(const QByteArray &bytes);
    // The next answer; `complete` is false when it did not arrive whole in time.
    Reply reply(int timeoutMs = 5000);
    // Everything until the server closes the connection.
    QByteArray readUntilClosed(int timeoutMs = 5000);
    bool waitClosed(int timeoutMs = 5000);
    void abort() { socket.abort(); }

    QSslSocket socket;

private:
    bool connected = false;
    QByteArray pending;
};

#endif
