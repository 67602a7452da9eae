#ifndef QSSLTRANSPORT_H
#define QSSLTRANSPORT_H

#include "server/transport.h"

#include <QList>
#include <QSslCipher>

class QSslCertificate;
class QSslKey;
class QSslSocket;

// An encrypted connection through Qt's TLS socket, server side.
//
// The socket keeps buffers of its own; so that the connection's queue stays the one that counts,
// write() takes bytes only while fewer than Room wait in the socket, and announces writable()
// when they drop below it again. A failed handshake aborts the connection. At close() the socket
// outlives the transport until it has sent what it holds and its close alert, or until the close
// timeout passes.
class QSslTransport : public Transport
{
    Q_OBJECT

public:
    // Plain and encrypted bytes the socket may hold before write() takes no more.
    static constexpr qint64 Room = 64 * 1024;

    // Takes over a connected descriptor and starts the handshake with the key pair. The socket
    // reads ahead at most `readAhead` bytes; a closing socket is aborted after `closeTimeoutMs`.
    QSslTransport(qintptr descriptor, const QSslKey &key, const QSslCertificate &certificate,
                  qint64 readAhead, int closeTimeoutMs, QObject *parent = nullptr);
    ~QSslTransport() override;

    // The cipher suites a TLS connection offers: forward-secret ones only.
    static QList<QSslCipher> forwardSecretCiphers();

    bool isOpen() const override;
    bool isEncrypted() const override;
    qint64 read(char *into, qint64 max) override;
    qint64 write(const QByteArrayView *parts, int count, bool more = false) override;
    using Transport::write;
    void setReading(bool on) override;
    void waitForRoom() override;
    void close() override;

    void setKeepAlive(bool on) override;
    void setSendBufferSize(int bytes) override;
    QHostAddress localAddress() const override;
    quint16 localPort() const override;
    QHostAddress peerAddress() const override;

private:
    qint64 held() const;
    void announceReadable();
    void bytesLeft();

    QSslSocket *socket = nullptr;
    int closeTimeout;
    bool reading = true;
    bool roomWanted = false;
    bool readableQueued = false;
};

#endif
