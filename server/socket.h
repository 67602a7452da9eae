#ifndef SOCKET_H
#define SOCKET_H

#include "server/bodysink.h"
#include "server/deadlinesweeper.h"
#include "server/filesender.h"
#include "server/requestframing.h"
#include "server/trafficmeter.h"
#include "server/transport.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

#include <memory>

class QFile;
class QFileDevice;

// The stream of one client connection (plain TCP or TLS).
//
// The facade of the connection's parts: the bytes to and from the peer (a Transport, plain or
// encrypted), the framing of requests in the head buffer (RequestFraming), the file an upload is
// saved to (BodySink), the file an answer sends (FileSender), the deadlines (DeadlineSweeper)
// and, here, the queue of bytes the transport has not taken yet. The socket announces a complete head
// with headerReady(); the request record parses it with readLine(), then tells the socket how
// long the body is (beginBody()). Body bytes are handed out only up to that length: whatever
// follows belongs to the next request on the connection.
class Socket : public QObject, private FileSender::Output, private Transport::Listener
{
    Q_OBJECT

public:
    static constexpr int BufferSize = RequestFraming::BufferSize;
    // Sending a file pauses while more than this many bytes wait in the socket's queue.
    static constexpr qint64 SendQueueLimit = FileSender::TurnLimit;
    static constexpr int SendRetryMs = 200;
    // Plain connections hand a file of at least this many bytes to the kernel (sendfile(2)).
    static constexpr qint64 DirectSendFrom = FileSender::DirectFrom;
    // Smaller files, and every file on an encrypted connection, are read, (encrypted and) handed
    // over in batches of this many bytes (four full TLS records).
    static constexpr qint64 TlsBatch = FileSender::Batch;
    // A peer that does not close within this time after our close is aborted.
    static constexpr int CloseTimeoutMs = 10000;
    // A peer that makes no progress for this long is closed: no request head completed within
    // this time after the connection opened or the last answer ended, no byte of a declared body
    // arrived, or no byte of an answer was taken.
    static constexpr int IdleTimeoutMs = 120000;
    // Most bytes read ahead for a connection beyond the head buffer (one piece of an upload);
    // the rest waits in the kernel.
    static constexpr qint64 ReadBufferLimit = 64 * 1024;
    // The timeouts of the deadlines set from now on (tests shorten them).
    static int idleTimeout;
    static int closeTimeout;
    // Largest body collected into memory (forms, PROPFIND and LOCK bodies).
    static constexpr qint64 MaxCollectedBody = 64 * 1024;

    // Result codes of saving a body, delivered by startReply(int).
    enum SaveResult {
        Saved = BodySink::Saved,
        ReadFailed = BodySink::ReadFailed,
        WriteFailed = BodySink::WriteFailed,
        NoDelimiter = BodySink::NoDelimiter
    };

    // Told by a direct call in place of headerReady(), bodyReady() and idle(), which then stay
    // silent: the connection's handler, on the path of every request.
    class Handler
    {
    public:
        virtual void headArrived() = 0;
        virtual void bodyArrived() = 0;
        virtual void becameIdle() = 0;

    protected:
        ~Handler() = default;
    };

    Socket();
    ~Socket() override;

    void setHandler(Handler *to) { handler = to; }

    // Takes over the transport of an accepted connection (plain or encrypted); false when it is
    // not open. The socket owns it from here on.
    bool attach(Transport *transport);

    QHostAddress peerAddress() const;
    QHostAddress localAddress() const;
    quint16 localPort() const;
    bool isEncrypted() const;
    // Bytes of answers the transport has not taken yet.
    qint64 bytesQueued() const { return queue.size() - queueFrom; }
    void setSendBufferSize(int bytes);

    // The listener's count of the bytes of all its connections, wired when the connection is
    // accepted; null: nothing is counted.
    TrafficMeter *traffic = nullptr;

    // --- the request head
    bool hasCompleteHead() const { return framing.hasCompleteHead(); }
    bool headOverflowed() const { return framing.headOverflowed(); }
    // The announced head: up to and including the empty line, or the whole buffer when the
    // head did not fit.
    QByteArrayView head() const { return framing.head(); }
    QByteArray readLine() { return framing.readLine(); }

    // --- the request body
    // Declares the body that follows the head (0 for none) and whether the client waits for
    // "100 Continue" before sending it.
    void beginBody(qint64 length, bool expectContinue);
    qint64 unreadBody() const { return framing.unreadBody(); }
    QByteArray read(qint64 n) { return framing.read(n); }
    // Reads the whole body (at most MaxCollectedBody) into memory; bodyReady() follows.
    void collectBody();
    QByteArray takeBody();
    // Waits until the buffer is full or holds the whole body; bodyReady() follows.
    void prefetchBody();
    // The target may be any file device: a QSaveFile writes a replacement that takes the
    // target's place only when committed.
    void saveFile(QFileDevice *file, qint64 length);
    // The content of the form part the body begins with goes to `file`; the parts after it as
    // `parts` says.
    void saveFile(QFileDevice *file, const QByteArray &delimiter, qint64 length, BodySink::Parts *parts = nullptr);
    bool isSaving() const { return sink.isActive(); }

    // --- the answer
    void write(const QByteArray &data, bool end);
    void sendFile(QFile *file, qint64 offset, qint64 count);
    void end();
    void setKeepAlive(bool on);
    bool isKeepAlive() const { return keepAlive; }
    // Whether the connection holds a head buffer now (it does while a request is in progress).
    bool holdsBuffer() const { return framing.holdsBuffer(); }
    // Closes without waiting: queued bytes are sent first, then the connection closes; a peer
    // that does not take them within the close timeout is aborted.
    void closeConnection();
    bool isClosing() const { return closing; }
    // Drops the connection at once; a body being saved ends as ReadFailed. Used on destruction.
    void discard();

    void sentBytes(qint64 n);
    void receivedBytes(qint64 n);

signals:
    void headerReady();
    void bodyReady();
    void startReply(int code);
    // An answer has ended and the connection waits for the next request, none being held.
    void idle();
    // The connection has ended: closed by either side, failed or aborted. Once.
    void closed();

public slots:
    void readyRead();
    void sendFile();

private:
    friend class DeadlineSweeper;

    enum class BodyWait { None, Collect, Prefetch };

    qint64 readSocket(char *into, qint64 max);
    // The peer has closed (or the connection failed) while the socket read.
    void readFinished();
    void flushHeld();
    // The transport has room again: queued bytes go on.
    void sendQueued();
    // Reading goes on while the socket consumes bytes and pauses otherwise (the peer then
    // waits in the kernel).
    void updateReading();
    bool limitIsReached() const { return traffic && traffic->isReached(); }
    void stopSending();
    void waitForRoom();
    // What the file sender hands its bytes to.
    qint64 queued() const override { return bytesQueued(); }
    qint64 push(const char *data, qint64 length, bool more) override;
    qint64 sendFile(int descriptor, qint64 *offset, qint64 count) override;
    bool mustStop() const override { return closing || limitIsReached(); }
    void sent(qint64 n) override { sentBytes(n); }
    void transportReadable() override { readyRead(); }
    void transportWritable() override { sendQueued(); }
    void tellHeaderReady();
    void tellBodyReady();
    void tellIdle();
    void continueLater();
    void sendContinue();
    void continueWaiting();
    void continueSaving();
    void finishSaving(int code);
    // The connection ends now: what is queued is dropped, the transport closes, closed() follows.
    void shutDown();
    void startIdleTime();
    // The peer made progress: the idle time starts anew.
    void touch();
    void deadlinePassed(DeadlineSweeper::Kind kind);

    std::unique_ptr<Transport> transport;
    Handler *handler = nullptr;
    QHostAddress peer;
    // What the transport did not take yet: the bytes from queueFrom on, in order.
    QByteArray queue;
    qsizetype queueFrom = 0;

    bool keepAlive = false;
    bool closing = false;
    bool ended = false;
    bool reading = false;
    bool continuePending = false;
    bool sendWaiting = false;
    RequestFraming framing;
    BodyWait bodyWait = BodyWait::None;
    QByteArray collected;

    BodySink sink;
    // The head of an answer, sent together with the first bytes after it.
    QByteArray held;

    FileSender sender;
    bool continueQueued = false;

    // No request head completed, no body byte arrived, no byte of an answer was taken.
    DeadlineSweeper::Entry idleDeadline{this, DeadlineSweeper::Idle};
    // The peer has not closed after our close.
    DeadlineSweeper::Entry closeDeadline{this, DeadlineSweeper::Close};
    // A send waits for room; normally the bytes written resume it sooner.
    DeadlineSweeper::Entry retryDeadline{this, DeadlineSweeper::Retry};
};

#endif
