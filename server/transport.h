#ifndef TRANSPORT_H
#define TRANSPORT_H

#include <QByteArrayView>
#include <QHostAddress>
#include <QObject>

// How the bytes of one connection reach the peer: a plain descriptor or an encryption engine.
//
// A transport never buffers on its own: read() hands out what the system holds now, write()
// takes what the system takes now and says how much that was. Whoever owns the transport keeps
// what was not taken and asks for writable() by waitForRoom(); readable() is announced while
// reading is on and bytes (or the peer's close) wait. Nothing blocks.
class Transport : public QObject
{
    Q_OBJECT

public:
    // Results of sendFile() besides a count of bytes.
    static constexpr qint64 Failed = -1;
    // The file or the transport does not take this way of sending: send it in pieces.
    static constexpr qint64 Unsupported = -2;
    // The file ended before the count.
    static constexpr qint64 FileEnded = -3;

    using QObject::QObject;

    // Whether the connection is open; false after the peer's close, a failure or close().
    virtual bool isOpen() const = 0;
    virtual bool isEncrypted() const = 0;
    // Reads up to `max` bytes: the count, 0 when nothing waits now, Failed when the peer has
    // closed or the connection failed.
    virtual qint64 read(char *into, qint64 max) = 0;
    // Writes the parts in order, as far as the system takes them now: the count taken, or
    // Failed. `more`: further bytes follow at once (they may share a packet).
    virtual qint64 write(const QByteArrayView *parts, int count, bool more = false) = 0;
    qint64 write(QByteArrayView data, bool more = false) { return write(&data, 1, more); }
    // Sends up to `count` bytes of the open file `file` from `*offset`, which is moved on: the
    // count sent (0: the system takes nothing now), Failed, Unsupported or FileEnded.
    virtual qint64 sendFile(int file, qint64 *offset, qint64 count);
    // Turns the announcing of readable() on or off (off: the peer waits in the kernel).
    virtual void setReading(bool on) = 0;
    // Announces writable() once, when the system takes bytes again.
    virtual void waitForRoom() = 0;
    // Closes at once; bytes the system still holds are sent by it.
    virtual void close() = 0;
    // Nothing more is sent: the peer learns that the stream ends after what was sent (a FIN, for
    // TLS after a close_notify). Reading goes on.
    virtual void shutdownSending() = 0;

    virtual void setKeepAlive(bool on) = 0;
    virtual void setSendBufferSize(int bytes) = 0;
    virtual QHostAddress localAddress() const = 0;
    virtual quint16 localPort() const = 0;
    virtual QHostAddress peerAddress() const = 0;

    // Told by a direct call in place of the signals, which then stay silent: the owner on the
    // path of every request, where an emission (a walk through the sender's connections, cold
    // among many connections) costs more than the call.
    class Listener
    {
    public:
        virtual void transportReadable() = 0;
        virtual void transportWritable() = 0;

    protected:
        ~Listener() = default;
    };
    void setListener(Listener *to) { listener = to; }

signals:
    void readable();
    void writable();

protected:
    void tellReadable();
    void tellWritable();

private:
    Listener *listener = nullptr;
};

#endif
