#ifndef REQUESTFRAMING_H
#define REQUESTFRAMING_H

#include "server/bufferpool.h"

#include <QByteArray>
#include <QByteArrayView>

// Where one request ends and the next begins on a connection, and the buffer that holds the
// bytes in between.
//
// One 2048-byte buffer serves in turn for the request head, for pieces of a body and for the
// bytes of pipelined requests that came with them. A head is complete at its empty line, or
// when it fills the buffer (it overflowed). Once the body's length is declared, bytes are handed
// out only up to it: whatever follows belongs to the next request. The buffer is held only while
// a request is in progress; between requests it goes back to the pool unless it holds bytes of
// the next one.
class RequestFraming
{
public:
    static constexpr int BufferSize = BufferPool::BufferSize;

    RequestFraming() = default;
    RequestFraming(const RequestFraming &) = delete;
    RequestFraming &operator=(const RequestFraming &) = delete;
    ~RequestFraming();

    // --- receiving the head
    // Where the next bytes of a head go, and how many fit.
    char *room();
    int roomSize() const { return BufferSize - fill; }
    // `n` bytes were read into room(). Returns true when that completed the head (or filled the
    // buffer without an empty line).
    bool headBytesAdded(int n);
    bool isHeadComplete() const { return headerComplete; }
    bool hasCompleteHead() const { return headerComplete && !headOverflow; }
    bool headOverflowed() const { return headOverflow; }
    QByteArrayView head() const { return QByteArrayView(buffer, headLength); }
    QByteArray readLine();
    // The line reader of heads and part headers: the bytes from *pos to the next CR, the byte
    // after the CR being skipped unseen (taken to be LF). *pos moves past them. An empty result
    // stands both for an empty line and for the lack of a complete line (then *pos stays).
    static QByteArrayView nextLine(QByteArrayView bytes, qsizetype *pos);

    // --- the body
    // Declares the body that follows the head (0 for none).
    void beginBody(qint64 length);
    qint64 unreadBody() const { return bodyLeft; }
    // Body bytes held in the buffer and not handed out yet.
    qint64 heldBody() const { return qMin<qint64>(fill - readPos, bodyLeft); }
    QByteArray read(qint64 n);
    // The next body bytes held, at most `max`; they count as handed out (the caller counts
    // them off the body with bodyBytesTaken()).
    QByteArrayView takeHeld(qint64 max);
    // `n` bytes of the body were taken, from the buffer (takeHeld()) or past it.
    void bodyBytesTaken(qint64 n) { bodyLeft -= n; }
    // Moves the unread bytes to the front and returns where up to `want` bytes in all go; the
    // number of bytes that still fit is `want - filled()`.
    char *prefetchRoom();
    int filled() const { return fill; }
    void prefetched(int n) { fill += n; }

    // --- between requests
    // The request ended: the bytes after its body become the start of the next one. Returns
    // whether any are held; when none are, the buffer goes back to the pool.
    bool nextRequest();
    // The buffer goes back to the pool when it holds nothing.
    void releaseIfEmpty();
    bool holdsBuffer() const { return buffer != nullptr; }

private:
    void consume(int n);

    char *buffer = nullptr;
    bool headerComplete = false;
    bool headOverflow = false;
    bool inBody = false;
    int headLength = 0;
    int readPos = 0;
    int fill = 0;
    qint64 bodyLeft = 0;
};

#endif
