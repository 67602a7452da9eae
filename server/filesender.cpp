#include "server/filesender.h"

#include "server/transport.h"

#include <QFile>

#include <unistd.h>

bool FileSender::start(QFile *file, qint64 offset, qint64 count, bool pieces, bool plain, Tap *bytesTap)
{
    stop();
    tap = bytesTap;
    if (offset > 0)
        file->seek(offset);
    source = file;
    left = count > 0 ? count : file->size() - file->pos();
    if (left <= 0) {
        stop();
        return false;
    }
    if (pieces || file->handle() < 0)
        way = Way::Pieces;
    else if (plain && left >= DirectFrom)
        way = Way::Direct;
    else
        way = Way::Batches;
    pos = file->pos();
    return true;
}

void FileSender::stop()
{
    if (source) {
        source->close();
        source = nullptr;
    }
    tap = nullptr;
    left = 0;
    pos = 0;
}

FileSender::Step FileSender::send(Output &out)
{
    if (!source)
        return Step::Finished;
    switch (way) {
    case Way::Direct:
        return sendDirect(out);
    case Way::Batches:
        return sendBatches(out);
    case Way::Pieces:
        break;
    }
    return sendPieces(out);
}

FileSender::Step FileSender::advanced(Output &out, qint64 n)
{
    out.sent(n);
    left -= n;
    if (left > 0)
        return Step::Later;
    stop();
    return Step::Finished;
}

FileSender::Step FileSender::sendPieces(Output &out)
{
    for (;;) {
        if (out.mustStop())
            return Step::Cut;
        if (out.queued() > TurnLimit)
            return Step::Wait;
        char piece[PieceSize];
        const qint64 n = source->read(piece, qMin<qint64>(PieceSize, left));
        if (n <= 0 || out.push(piece, n, false) != n)
            return Step::Cut;
        if (tap)
            tap->seen(piece, n);
        if (advanced(out, n) == Step::Finished)
            return Step::Finished;
    }
}

// Queuing up a megabyte of plain text first, and then as much cipher text, costs more in fresh
// memory than the encryption itself; a small file goes out with its header in one write.
FileSender::Step FileSender::sendBatches(Output &out)
{
    const int in = source->handle();
    qint64 budget = TurnLimit;
    for (;;) {
        if (out.mustStop())
            return Step::Cut;
        if (out.queued() >= Batch)
            return Step::Wait;
        if (budget <= 0)
            return Step::Later;
        char batch[Batch];
        const ssize_t n = ::pread(in, batch, size_t(qMin(Batch, left)), off_t(pos));
        if (n <= 0 || out.push(batch, n, false) != n)
            return Step::Cut;
        if (tap)
            tap->seen(batch, n);
        pos += n;
        budget -= n;
        if (advanced(out, n) == Step::Finished)
            return Step::Finished;
    }
}

FileSender::Step FileSender::sendDirect(Output &out)
{
    if (out.mustStop())
        return Step::Cut;
    // The header (and anything else) goes first; a held head joins the file's first bytes.
    if (out.push(nullptr, 0, true) < 0)
        return Step::Cut;
    if (out.queued() > 0)
        return Step::Wait;
    const int in = source->handle();
    qint64 budget = TurnLimit;
    while (budget > 0) {
        const qint64 before = pos;
        const qint64 n = out.sendFile(in, &pos, qMin(left, budget));
        if (n == Transport::Unsupported) {
            // The transport does not send this way after all: the rest goes in pieces.
            way = Way::Pieces;
            pos = before;
            source->seek(pos);
            return sendPieces(out);
        }
        if (n == 0)
            return Step::Wait;
        if (n < 0)
            // Failed, or the file ended before the length announced.
            return Step::Cut;
        if (tap && !tapSent(in, before, n))
            return Step::Cut;
        budget -= n;
        if (advanced(out, n) == Step::Finished)
            return Step::Finished;
    }
    return Step::Later;
}

bool FileSender::tapSent(int descriptor, qint64 from, qint64 n)
{
    // Read right after the kernel sent them, the bytes are still in the page cache.
    char batch[Batch];
    while (n > 0) {
        const ssize_t got = ::pread(descriptor, batch, size_t(qMin(Batch, n)), off_t(from));
        if (got <= 0)
            return false;
        tap->seen(batch, got);
        from += got;
        n -= got;
    }
    return true;
}
