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
// and, here, the queue of bytes the transport has not taken yet. The socket tells its Handler of
// a complete head; the request record parses the bytes of head(), then tells the socket how long
// the body is (beginBody()). Body bytes are handed out only up to that length: whatever follows
// belongs to the next request on the connection.
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
    // An answer that went out before the request's body was read closes lingering: the sending
    // side is shut down, and what the client still sends is read and dropped, for at most this
    // time and this many bytes (the rest of a declared body, else all of this), then the
    // connection closes. Closed at once, the unread bytes would make the system reset the
    // connection, and the client would lose the answer.
    static constexpr int LingerTimeoutMs = 5000;
    static constexpr qint64 LingerBytes = 8 * 1024 * 1024;
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
    static int lingerTimeout;
    // Largest body collected into memory (forms, PROPFIND and LOCK bodies).
    static constexpr qint64 MaxCollectedBody = 64 * 1024;

    // Result codes of saving a body, delivered by startReply(int).
    enum SaveResult {
        Saved = BodySink::Saved,
        ReadFailed = BodySink::ReadFailed,
        WriteFailed = BodySink::WriteFailed,
        NoDelimiter = BodySink::NoDelimiter
    };

    // Told by a direct call: the connection's handler, on the path of every request.
    class Handler
    {
    public:
        virtual void headArrived() = 0;
        virtual void bodyArrived() = 0;
        // An answer has ended and the connection waits for the next request, none being held.
        virtual void becameIdle() = 0;
        // The chunks of the body broke their framing, or a body collected into memory grew too
        // large: the handler answers before a response that saves the body learns of it (as
        // ReadFailed), and the connection closes.
        virtual void bodyFailed() = 0;

    protected:
        ~Handler() = default;
    };

    // An answer made piece by piece while it goes out (a long listing): produce() appends the
    // next piece to `out` and says whether more follow. It is called once per turn of the event
    // loop, other connections being served in between, and only while fewer than
    // ProducedQueueLimit bytes wait to be sent: the answer is made as fast as the client takes
    // it, and what waits stays small. A piece may be followed by a part of a file (sendPart()).
    class Producer
    {
    public:
        virtual bool produce(QByteArray *out) = 0;

    protected:
        ~Producer() = default;
    };
    static constexpr qint64 ProducedQueueLimit = 256 * 1024;

    Socket();
    ~Socket() override;

    void setHandler(Handler *to) { handler = to; }

    // Takes over the transport of an accepted connection (plain or encrypted); false when it is
    // not open. The socket owns it from here on.
    bool attach(Transport *transport);

    QHostAddress peerAddress() const;
    QHostAddress localAddress() const;
    // An address as it stands in a Host header (without brackets): an IPv4 client of an IPv6
    // socket by its IPv4 address, no scope.
    static QByteArray hostText(const QHostAddress &address);
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
    // Declares the body that follows the head (`length` bytes, 0 for none, or chunks) and whether
    // the client waits for "100 Continue" before sending it.
    void beginBody(qint64 length, bool expectContinue, bool chunked = false);
    // The head was refused: nothing after it is read as a request.
    void refuseBody() { framing.refuseBody(); continuePending = false; }
    // The body bytes still to come; RequestFraming::UnknownLength until the last chunk.
    qint64 unreadBody() const { return framing.unreadBody(); }
    // Whether any of the body is still to be read.
    bool bodyPending() const { return framing.bodyPending(); }
    QByteArray read(qint64 n) { return framing.read(n); }
    // Reads the whole body (at most MaxCollectedBody) into memory; the handler's bodyArrived()
    // follows, or bodyFailed() for chunks that grow beyond it.
    void collectBody();
    QByteArray takeBody();
    // Waits until the buffer is full or holds the whole body; the handler's bodyArrived() follows.
    void prefetchBody();
    // The target may be any file device: a QSaveFile writes a replacement that takes the
    // target's place only when committed. A `length` below 0 saves the rest of the body, however
    // long (a body in chunks).
    void saveFile(QFileDevice *file, qint64 length);
    // The content of the form part the body begins with goes to `file`; the parts after it as
    // `parts` says.
    void saveFile(QFileDevice *file, const QByteArray &delimiter, qint64 length, BodySink::Parts *parts = nullptr);
    bool isSaving() const { return sink.isActive(); }

    // --- the answer
    void write(const QByteArray &data, bool end);
    void sendFile(QFile *file, qint64 offset, qint64 count);
    // Sends what `producer` makes until it says that nothing follows, then ends the answer. The
    // producer must live until then or until the connection closes.
    void sendProduced(Producer *producer);
    // Called by the producer in produce(), not for its last piece: after the piece, `count` bytes
    // of `file` from `offset` go out as sendFile() sends them (`tap` sees them), then the file is
    // closed and produce() is called again.
    void sendPart(QFile *file, qint64 offset, qint64 count, FileSender::Tap *tap = nullptr);
    void end();
    void setKeepAlive(bool on);
    bool isKeepAlive() const { return keepAlive; }
    // Whether the connection holds a head buffer now (it does while a request is in progress).
    bool holdsBuffer() const { return framing.holdsBuffer(); }
    // Closes without waiting: queued bytes are sent first, then the connection closes; a peer
    // that does not take them within the close timeout is aborted.
    void closeConnection();
    bool isClosing() const { return closing; }
    // No request is in progress: the connection waits for (the rest of) a head, since the time
    // waitingSince() (monotonic milliseconds).
    bool isWaitingForRequest() const { return !closing && !framing.isHeadComplete(); }
    qint64 waitingSince() const { return waitStart; }
    // Drops the connection at once; a body being saved ends as ReadFailed. Used on destruction.
    void discard();

    void sentBytes(qint64 n);
    void receivedBytes(qint64 n);

signals:
    void startReply(int code);
    // The connection has ended: closed by either side, failed or aborted. Once.
    void closed();

public slots:
    void readyRead();
    void sendFile();

private:
    friend class DeadlineSweeper;

    enum class BodyWait { None, Collect, Prefetch };
    // What nextBodyPiece() returns for chunks that broke their framing.
    static constexpr qint64 BodyBroken = -2;

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
    void produceNext();
    // The producer goes on after the other events.
    void produceLater();
    void sendContinue();
    void continueWaiting();
    void continueSaving();
    qint64 nextBodyPiece(char *scratch, qint64 max, QByteArrayView *piece);
    void failBody();
    void finishSaving(int code);
    // The answer is complete and the connection closes: lingering when the client may still send.
    void closeAfterAnswer();
    // The queued bytes are out: the connection closes, or begins to linger.
    void finishClose();
    void discardInput();
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
    // Closing lingers once the queued bytes are out (linger), and does from then on (lingering).
    bool linger = false;
    bool lingering = false;
    qint64 lingerLeft = 0;
    qint64 waitStart = 0;
    RequestFraming framing;
    BodyWait bodyWait = BodyWait::None;
    QByteArray collected;

    BodySink sink;
    // The head of an answer, sent together with the first bytes after it.
    QByteArray held;

    FileSender sender;
    bool continueQueued = false;
    Producer *producer = nullptr;
    // The producer waits for the queue to shrink, or for its turn in the event loop.
    bool producerWaiting = false;
    bool produceQueued = false;

    // No request head completed, no body byte arrived, no byte of an answer was taken.
    DeadlineSweeper::Entry idleDeadline{this, DeadlineSweeper::Idle};
    // The peer has not closed after our close, or the lingering time is over.
    DeadlineSweeper::Entry closeDeadline{this, DeadlineSweeper::Close};
    // A send waits for room; normally the bytes written resume it sooner.
    DeadlineSweeper::Entry retryDeadline{this, DeadlineSweeper::Retry};
};

#endif
