#ifndef REQUESTFRAMING_H
#define REQUESTFRAMING_H

#include "server/bufferpool.h"
#include "server/chunkeddecoder.h"

#include <QByteArray>
#include <QByteArrayView>

// Where one request ends and the next begins on a connection, and the buffer that holds the
// bytes in between.
//
// One buffer serves in turn for the request head, for pieces of a body and for the bytes of
// pipelined requests that came with them. It starts at 2048 bytes and grows to 8 KiB only while a
// head needs it; a head that does not end within 8 KiB overflowed and is never parsed. Once the
// body is declared, bytes are handed out only up to its end: whatever follows belongs to the next
// request. A body sent in chunks is decoded as its bytes come, in the buffer itself: the buffer
// then holds the decoded body bytes, and after the last chunk the bytes that follow it. The
// buffer is held only while a request is in progress; between requests it goes back to the pool
// unless it holds bytes of the next one.
class RequestFraming
{
public:
    static constexpr int BufferSize = BufferPool::BufferSize;
    // The longest head accepted (nginx's default).
    static constexpr int MaxHeadSize = 8 * 1024;
    // What unreadBody() says of a body whose end is not known yet.
    static constexpr qint64 UnknownLength = -1;

    RequestFraming() = default;
    RequestFraming(const RequestFraming &) = delete;
    RequestFraming &operator=(const RequestFraming &) = delete;
    ~RequestFraming();

    // --- receiving the head
    // Where the next bytes of a head go, and how many fit.
    char *room();
    int roomSize() const { return capacity - fill; }
    // `n` bytes were read into room(). Returns true when that completed the head, or when the
    // head does not fit MaxHeadSize (it overflowed).
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
    // Declares the body that follows the head: `length` bytes (0 for none), or chunks.
    void beginBody(qint64 length, bool chunked);
    // The head was refused: whatever follows it is of no known length and is never read as a
    // request.
    void refuseBody();
    // The body bytes still to come, those held included; UnknownLength while the end of the body
    // is not known (chunks before the last one, or a refused head).
    qint64 unreadBody() const;
    // Whether any of the body remains to be handed out.
    bool bodyPending() const;
    bool isChunked() const { return chunked; }
    // The chunks broke their framing: the body, and the connection, cannot go on.
    bool bodyMalformed() const { return chunked && decoder.hasFailed(); }
    // Body bytes held in the buffer and not handed out yet.
    qint64 heldBody() const;
    QByteArray read(qint64 n);
    // The next body bytes held, at most `max`; they count as handed out.
    QByteArrayView takeHeld(qint64 max);
    // How many bytes a read past the buffer may take: the rest of a counted body; for chunks the
    // rest of the current chunk and as many bytes more as the buffer can keep of what may follow
    // the last chunk (0 where a chunk's size line comes next: that goes into the buffer).
    qint64 bodyBytesAhead() const;
    // `n` bytes at `data` were read past the buffer, at most bodyBytesAhead(). Returns how many
    // body bytes they hold, now at `data`: chunks are decoded in place, and bytes after the last
    // chunk go to the buffer for the next request.
    qint64 bodyBytesTaken(char *data, qint64 n);
    // Moves the unread bytes to the front and returns where further bytes of the body go; the
    // number that fit is roomSize().
    char *bodyRoom();
    // `n` bytes were read into bodyRoom(); the bytes of chunks are decoded at once.
    void bodyBytesAdded(int n);

    // --- between requests
    // The request ended: the bytes after its body become the start of the next one. Returns
    // whether any are held; when none are, the buffer goes back to the pool.
    bool nextRequest();
    // The buffer goes back to the pool when it holds nothing.
    void releaseIfEmpty();
    bool holdsBuffer() const { return buffer != nullptr; }
    int filled() const { return fill; }

private:
    void consume(int n);
    // Decodes the raw bytes held after the decoded ones.
    void decodeHeld();
    // Replaces the buffer by one of `size` bytes holding the same bytes.
    void resize(int size);
    void release();

    char *buffer = nullptr;
    int capacity = BufferSize;
    bool headerComplete = false;
    bool headOverflow = false;
    bool inBody = false;
    bool chunked = false;
    bool refused = false;
    int headLength = 0;
    int readPos = 0;
    int fill = 0;
    // Where the search for the end of the head goes on.
    int searchFrom = 0;
    // Chunked: the end of the decoded body bytes in the buffer.
    int bodyEnd = 0;
    qint64 bodyLeft = 0;
    ChunkedDecoder decoder;
};

#endif
