#ifndef FILESENDER_H
#define FILESENDER_H

#include "server/requestframing.h"

#include <QtGlobal>

class QFile;

// The body of an answer read from a file (or a range of it), in one of three ways:
// - Direct: the kernel copies the file to a plain connection (sendfile(2)); its bytes never pass
//   through this process.
// - Batches: read with pread(2) in batches of a few TLS records, each handed over (and encrypted)
//   at once, so that the same few buffers serve the whole file.
// - Pieces: read a head buffer's worth at a time, so that a traffic limit stops the send after the
//   piece in progress, and for files without a descriptor of their own.
// The sender owns the file while it sends and closes it when it stops.
class FileSender
{
public:
    // Where the bytes go: the connection, which queues what its transport does not take yet.
    class Output
    {
    public:
        virtual ~Output() = default;
        // Bytes waiting in the connection's queue.
        virtual qint64 queued() const = 0;
        // Hands bytes over (after a held head, which also goes with a length of 0); `more`: further
        // bytes follow at once. The length, or -1 when the connection has failed.
        virtual qint64 push(const char *data, qint64 length, bool more) = 0;
        // Hands up to `count` bytes of the file at *offset to the kernel and advances *offset; the
        // count taken, 0 when the kernel has no room now (the connection says when it has), or one
        // of Transport's failure codes.
        virtual qint64 sendFile(int descriptor, qint64 *offset, qint64 count) = 0;
        // The connection closes or its traffic limit is reached: the body is cut short.
        virtual bool mustStop() const = 0;
        // `n` bytes of the body have been handed over.
        virtual void sent(qint64 n) = 0;
    };

    // Sees every byte of the body once it is handed over (to take a checksum of it). On a plain
    // connection that the kernel sends the file to, the bytes sent are read once more for it.
    class Tap
    {
    public:
        virtual void seen(const char *data, qint64 length) = 0;

    protected:
        ~Tap() = default;
    };

    enum class Step {
        Finished,   // the whole body has been handed over
        Wait,       // the queue is full: go on when the connection has room
        Later,      // this turn's share is sent: go on after the other events
        Cut         // failed, or stopped short: only closing the connection tells the peer
    };

    // Files of at least this many bytes go to a plain connection directly.
    static constexpr qint64 DirectFrom = 64 * 1024;
    // The batch read and handed over at once (four full TLS records).
    static constexpr qint64 Batch = 64 * 1024;
    // Most bytes sent in one turn of the event loop, and most bytes queued before sending waits.
    static constexpr qint64 TurnLimit = 1000000;
    // Not the head buffer itself: that may already hold the next pipelined request.
    static constexpr int PieceSize = RequestFraming::BufferSize;

    FileSender() = default;
    ~FileSender() { stop(); }
    FileSender(const FileSender &) = delete;
    FileSender &operator=(const FileSender &) = delete;

    // Takes `file` over to send `count` bytes from `offset` (0: the rest of the file). `pieces`:
    // a piece at a time, whatever the file; `plain`: the connection may be handed the file
    // directly; `tap`, when given, sees the bytes. False when there is nothing to send (the file
    // is closed then).
    bool start(QFile *file, qint64 offset, qint64 count, bool pieces, bool plain, Tap *tap = nullptr);
    bool isActive() const { return source != nullptr; }
    // Sends what the connection takes now.
    Step send(Output &out);
    // Closes the file; nothing more is sent.
    void stop();

private:
    enum class Way { Pieces, Batches, Direct };

    Step sendPieces(Output &out);
    Step sendBatches(Output &out);
    Step sendDirect(Output &out);
    Step advanced(Output &out, qint64 n);
    // Shows the tap the `n` bytes at `from` that the kernel sent; false when they cannot be read.
    bool tapSent(int descriptor, qint64 from, qint64 n);

    QFile *source = nullptr;
    Tap *tap = nullptr;
    Way way = Way::Pieces;
    qint64 left = 0;
    // Batches and Direct: the file offset of the next byte (the file's own position is not used).
    qint64 pos = 0;
};

#endif
