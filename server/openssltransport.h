#ifndef OPENSSLTRANSPORT_H
#define OPENSSLTRANSPORT_H

#include "server/transport.h"

#include <memory>

class PlainTransport;
class QSslCertificate;
class QSslKey;
class TlsContext;
struct bio_st;
struct ssl_st;

// An encrypted connection, OpenSSL on the connection's descriptor: the server's side of the
// handshake, driven by the descriptor's notifiers without blocking, then records in both
// directions. The descriptor is served by a PlainTransport underneath (its non-blocking reads and
// writes without SIGPIPE, its notifiers, its options and addresses). readable() is announced for
// decrypted bytes (also those OpenSSL holds already, for which the descriptor stays silent) and
// for the peer's close; a handshake that fails closes the connection at once and announces it.
// An idle connection keeps no record buffers.
class OpenSslTransport : public Transport, private Transport::Listener
{
    Q_OBJECT

public:
    // Takes over a connected descriptor and begins the handshake with `context`.
    OpenSslTransport(qintptr descriptor, std::shared_ptr<const TlsContext> context, QObject *parent = nullptr);
    // The same with the shared context of this key pair (TlsContext::forKeyPair).
    OpenSslTransport(qintptr descriptor, const QSslKey &key, const QSslCertificate &certificate,
                     QObject *parent = nullptr);
    ~OpenSslTransport() override;

    bool isOpen() const override;
    // True once the handshake is done.
    bool isEncrypted() const override { return state == State::Open; }
    qint64 read(char *into, qint64 max) override;
    qint64 write(const QByteArrayView *parts, int count, bool more = false) override;
    using Transport::write;
    void setReading(bool on) override;
    void waitForRoom() override;
    // Sends a close_notify when the system takes it now, then closes the descriptor.
    void close() override;
    // Sends the close_notify the same way; records of the peer are still read.
    void shutdownSending() override;

    void setKeepAlive(bool on) override;
    void setSendBufferSize(int bytes) override;
    QHostAddress localAddress() const override;
    quint16 localPort() const override;
    QHostAddress peerAddress() const override;

private:
    // PeerClosed: the peer sends no more (it may still read); Failed: closed by a failure, not
    // yet by the owner.
    enum class State { Handshake, Open, PeerClosed, Failed, Closed };
    // What the last OpenSSL call waits for before it can go on.
    enum class Wait { Nothing, Read, Write };

    void handshake();
    void descriptorReadable();
    void descriptorWritable();
    void transportReadable() override { descriptorReadable(); }
    void transportWritable() override { descriptorWritable(); }
    // Closes after a failure and tells the owner (a read then fails).
    void fail();
    // Asks the descriptor for what OpenSSL and the owner wait for.
    void listen();
    // Announces readable() at the next turn of the event loop when decrypted bytes wait.
    void announcePending();

    std::shared_ptr<const TlsContext> context;
    PlainTransport *plain = nullptr;
    ssl_st *ssl = nullptr;
    State state = State::Handshake;
    bool reading = true;
    bool roomWanted = false;
    bool announcing = false;
    // A fatal error: OpenSSL takes no further call on the connection, not even a close_notify.
    bool broken = false;
    // The close_notify has been sent: nothing more is written.
    bool sendingShut = false;
    Wait handshakeWait = Wait::Nothing;
    Wait readWait = Wait::Nothing;
    Wait writeWait = Wait::Nothing;
    // Bytes the last write handed to OpenSSL without their being taken: its retry hands the
    // same bytes again, at least as many.
    int retryLength = 0;
};

#endif
