#include "server/requestframing.h"

#include <cstring>

RequestFraming::~RequestFraming()
{
    BufferPool::instance().give(buffer);
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
    }
    if (fill == 0) {
        releaseIfEmpty();
        return false;
    }
    const qsizetype blank = QByteArrayView(buffer, fill).indexOf(QByteArrayView("\r\n\r\n", 4));
    if (blank < 0 && fill < BufferSize)
        return false;
    headerComplete = true;
    headOverflow = blank < 0;
    headLength = headOverflow ? fill : int(blank) + 4;
    readPos = 0;
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
    const int limit = inBody ? int(qMin<qint64>(fill, readPos + bodyLeft)) : fill;
    qsizetype pos = readPos;
    const QByteArray line = nextLine(QByteArrayView(buffer, limit), &pos).toByteArray();
    consume(int(pos - readPos));
    return line;
}

void RequestFraming::consume(int n)
{
    readPos += n;
    if (inBody)
        bodyLeft -= n;
}

void RequestFraming::beginBody(qint64 length)
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
    bodyLeft = qMax<qint64>(0, length);
}

QByteArray RequestFraming::read(qint64 n)
{
    const qint64 held = inBody ? qMin<qint64>(fill - readPos, bodyLeft) : fill - readPos;
    n = qMin(n, held);
    if (n <= 0)
        return QByteArray();
    const QByteArray out(buffer + readPos, n);
    consume(int(n));
    return out;
}

QByteArrayView RequestFraming::takeHeld(qint64 max)
{
    if (readPos >= fill) {
        readPos = fill = 0;
        return QByteArrayView();
    }
    const int n = int(qMin<qint64>(fill - readPos, max));
    const QByteArrayView piece(buffer + readPos, n);
    readPos += n;
    return piece;
}

char *RequestFraming::prefetchRoom()
{
    char *to = room();
    if (readPos > 0) {
        std::memmove(buffer, buffer + readPos, size_t(fill - readPos));
        fill -= readPos;
        readPos = 0;
        to = buffer + fill;
    }
    return to;
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
    inBody = false;
    bodyLeft = 0;
    if (fill > 0)
        return true;
    releaseIfEmpty();
    return false;
}

void RequestFraming::releaseIfEmpty()
{
    if (buffer && fill == 0) {
        BufferPool::instance().give(buffer);
        buffer = nullptr;
        readPos = 0;
        headLength = 0;
    }
}
