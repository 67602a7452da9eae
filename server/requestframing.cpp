#include "server/requestframing.h"

#include <cstring>

RequestFraming::~RequestFraming()
{
    release();
}

void RequestFraming::release()
{
    if (capacity == BufferSize)
        BufferPool::instance().give(buffer);
    else
        delete[] buffer;
    buffer = nullptr;
    capacity = BufferSize;
}

void RequestFraming::resize(int size)
{
    char *bigger = size == BufferSize ? BufferPool::instance().take() : new char[size_t(size)];
    const int kept = fill - readPos;
    if (kept > 0)
        std::memcpy(bigger, buffer + readPos, size_t(kept));
    bodyEnd -= readPos;
    searchFrom = qMax(0, searchFrom - readPos);
    fill = kept;
    readPos = 0;
    release();
    buffer = bigger;
    capacity = size;
}

char *RequestFraming::room()
{
    if (!buffer)
        buffer = BufferPool::instance().take();
    return buffer + fill;
}

bool RequestFraming::headBytesAdded(int n)
{
    fill += n;
    // Empty lines before a request line are skipped.
    int skip = 0;
    while (skip + 1 < fill && buffer[skip] == '\r' && buffer[skip + 1] == '\n')
        skip += 2;
    if (skip > 0) {
        std::memmove(buffer, buffer + skip, size_t(fill - skip));
        fill -= skip;
        searchFrom = 0;
    }
    if (fill == 0) {
        releaseIfEmpty();
        return false;
    }
    const QByteArrayView held(buffer, fill);
    const qsizetype blank = held.indexOf(QByteArrayView("\r\n\r\n", 4), qMax(0, searchFrom - 3));
    if (blank < 0) {
        searchFrom = fill;
        if (fill < capacity)
            return false;
        // The head goes on past the buffer: it may have all of MaxHeadSize, no more.
        if (capacity < MaxHeadSize) {
            resize(MaxHeadSize);
            return false;
        }
    }
    headerComplete = true;
    headOverflow = blank < 0;
    headLength = headOverflow ? fill : int(blank) + 4;
    readPos = 0;
    searchFrom = 0;
    return true;
}

QByteArrayView RequestFraming::nextLine(QByteArrayView bytes, qsizetype *pos)
{
    const qsizetype start = *pos;
    const qsizetype limit = bytes.size();
    if (start >= limit)
        return QByteArrayView();
    if (bytes.at(start) == '\r') {
        *pos = qMin(start + 2, limit);
        return QByteArrayView();
    }
    const qsizetype cr = bytes.indexOf('\r', start + 1);
    if (cr < 0)
        return QByteArrayView();
    *pos = qMin(cr + 2, limit);
    return bytes.sliced(start, cr - start);
}

QByteArray RequestFraming::readLine()
{
    // Inside a body, lines are taken only from the body's own bytes.
    const int limit = inBody ? int(readPos + heldBody()) : fill;
    qsizetype pos = readPos;
    const QByteArray line = nextLine(QByteArrayView(buffer, limit), &pos).toByteArray();
    consume(int(pos - readPos));
    return line;
}

void RequestFraming::consume(int n)
{
    readPos += n;
    if (inBody && !chunked)
        bodyLeft -= n;
}

void RequestFraming::beginBody(qint64 length, bool chunkedBody)
{
    room();
    // The body starts right after the head; move it to the front so that it has the whole buffer.
    if (!headOverflow && headLength > 0) {
        std::memmove(buffer, buffer + headLength, size_t(fill - headLength));
        fill -= headLength;
    } else if (headOverflow) {
        fill = 0;
    }
    readPos = 0;
    headLength = 0;
    inBody = true;
    chunked = chunkedBody;
    refused = false;
    decoder = ChunkedDecoder();
    bodyEnd = 0;
    bodyLeft = chunked ? 0 : qMax<qint64>(0, length);
    if (chunked)
        decodeHeld();
}

void RequestFraming::refuseBody()
{
    beginBody(0, false);
    refused = true;
}

void RequestFraming::decodeHeld()
{
    if (decoder.isDone() || decoder.hasFailed() || bodyEnd >= fill)
        return;
    qint64 consumed = 0;
    const qint64 decoded = decoder.decode(buffer + bodyEnd, fill - bodyEnd, &consumed);
    // What follows the last chunk stays where the decoded bytes end.
    const int after = int(fill - bodyEnd - consumed);
    if (after > 0 && consumed > decoded)
        std::memmove(buffer + bodyEnd + decoded, buffer + bodyEnd + consumed, size_t(after));
    fill -= int(consumed - decoded);
    bodyEnd += int(decoded);
}

qint64 RequestFraming::unreadBody() const
{
    if (refused || (chunked && !decoder.isDone()))
        return UnknownLength;
    return chunked ? bodyEnd - readPos : bodyLeft;
}

bool RequestFraming::bodyPending() const
{
    if (refused)
        return true;
    return chunked ? !decoder.isDone() || bodyEnd > readPos : bodyLeft > 0;
}

qint64 RequestFraming::heldBody() const
{
    if (refused)
        return 0;
    return chunked ? bodyEnd - readPos : qMin<qint64>(fill - readPos, bodyLeft);
}

QByteArray RequestFraming::read(qint64 n)
{
    const qint64 held = inBody ? heldBody() : fill - readPos;
    n = qMin(n, held);
    if (n <= 0)
        return QByteArray();
    const QByteArray out(buffer + readPos, n);
    consume(int(n));
    return out;
}

QByteArrayView RequestFraming::takeHeld(qint64 max)
{
    const int n = int(qMin(heldBody(), max));
    if (n <= 0) {
        if (readPos >= fill)
            readPos = fill = bodyEnd = 0;
        return QByteArrayView();
    }
    const QByteArrayView piece(buffer + readPos, n);
    consume(n);
    return piece;
}

qint64 RequestFraming::bodyBytesAhead() const
{
    if (!chunked)
        return bodyLeft;
    // The bytes held are all handed out when the socket reads past the buffer.
    return decoder.dataLeft() > 0 ? decoder.dataLeft() + capacity - (fill - readPos) : 0;
}

qint64 RequestFraming::bodyBytesTaken(char *data, qint64 n)
{
    if (!chunked) {
        bodyLeft -= n;
        return n;
    }
    qint64 consumed = 0;
    const qint64 decoded = decoder.decode(data, n, &consumed);
    if (consumed < n && decoder.isDone()) {
        const qint64 after = n - consumed;
        std::memcpy(bodyRoom(), data + consumed, size_t(after));
        fill += int(after);
    }
    return decoded;
}

char *RequestFraming::bodyRoom()
{
    room();
    if (readPos > 0) {
        std::memmove(buffer, buffer + readPos, size_t(fill - readPos));
        fill -= readPos;
        bodyEnd = qMax(0, bodyEnd - readPos);
        readPos = 0;
    }
    return buffer + fill;
}

void RequestFraming::bodyBytesAdded(int n)
{
    fill += n;
    if (chunked)
        decodeHeld();
}

bool RequestFraming::nextRequest()
{
    if (fill > readPos)
        std::memmove(buffer, buffer + readPos, size_t(fill - readPos));
    fill -= readPos;
    readPos = 0;
    headerComplete = false;
    headOverflow = false;
    headLength = 0;
    searchFrom = 0;
    inBody = false;
    chunked = false;
    refused = false;
    bodyEnd = 0;
    bodyLeft = 0;
    if (fill > 0) {
        // A buffer grown for a long head goes back to the usual size once what it holds fits.
        if (capacity > BufferSize && fill <= BufferSize)
            resize(BufferSize);
        return true;
    }
    releaseIfEmpty();
    return false;
}

void RequestFraming::releaseIfEmpty()
{
    if (buffer && fill == 0) {
        release();
        readPos = 0;
        headLength = 0;
        searchFrom = 0;
    }
}
