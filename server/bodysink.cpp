#include "server/bodysink.h"

#include <QSaveFile>

#include <fcntl.h>

namespace {
// Parts of a form body are held back once fewer than this many body bytes remain, so that the
// closing delimiter can be searched in them.
constexpr qint64 TailThreshold = 512;
// A file that is synced to disk once complete (a QSaveFile when committed) is handed to the disk
// in stretches of this many bytes while it arrives, so that the sync at the end waits only for
// the last stretch instead of for the whole file.
constexpr qint64 WritebackStretch = 8 * 1024 * 1024;

// Starts writing back the stretch that the last piece of `n` bytes completed, without waiting.
void startWriteback(QFileDevice *file, qint64 n)
{
    const qint64 end = file->pos();
    const qint64 boundary = end / WritebackStretch * WritebackStretch;
    if (boundary == 0 || end - n >= boundary)
        return;
    file->flush();
    ::sync_file_range(file->handle(), off64_t(boundary - WritebackStretch), off64_t(WritebackStretch),
                      SYNC_FILE_RANGE_WRITE);
}
} // namespace

void BodySink::start(QFileDevice *file, const QByteArray &delimiter, qint64 length)
{
    target = file;
    boundary = delimiter;
    tail.clear();
    left = length;
    syncedAtEnd = qobject_cast<QSaveFile *>(file) != nullptr;
}

bool BodySink::write(QByteArrayView piece)
{
    const qint64 n = piece.size();
    if (left >= 0)
        left -= n;
    if (boundary.isEmpty() || left >= TailThreshold)
        return put(piece);
    if (left >= 0) {
        tail.append(piece.data(), n);
        return true;
    }
    // The end is not known: all but the last bytes that came so far can go.
    const qint64 go = tail.size() + n - TailThreshold;
    if (go <= 0) {
        tail.append(piece.data(), n);
        return true;
    }
    const qint64 fromTail = qMin<qint64>(go, tail.size());
    if (!put(QByteArrayView(tail).first(fromTail)) || !put(piece.first(go - fromTail)))
        return false;
    tail.remove(0, fromTail);
    tail.append(piece.sliced(go - fromTail));
    return true;
}

bool BodySink::put(QByteArrayView bytes)
{
    const qint64 n = bytes.size();
    if (n == 0)
        return true;
    if (target->write(bytes.data(), n) != n)
        return false;
    if (syncedAtEnd)
        startWriteback(target, n);
    return true;
}

BodySink::Result BodySink::complete()
{
    if (!boundary.isEmpty()) {
        const qsizetype at = findDelimiter(tail, boundary);
        if (at < 0)
            return NoDelimiter;
        if (target->write(tail.constData(), at) != at)
            return WriteFailed;
    }
    return target->flush() ? Saved : WriteFailed;
}

void BodySink::stop()
{
    target = nullptr;
    left = 0;
    boundary.clear();
    tail.clear();
}

qsizetype BodySink::findDelimiter(QByteArrayView data, QByteArrayView delimiter)
{
    // The delimiter line goes on with "--" (the last one) or with the line end, perhaps after
    // blanks (RFC 2046 5.1.1); anything else is content that happens to begin like it.
    for (qsizetype at = data.indexOf(delimiter); at >= 0; at = data.indexOf(delimiter, at + 1)) {
        qsizetype next = at + delimiter.size();
        if (data.sliced(next).startsWith("--"))
            return at;
        while (next < data.size() && (data.at(next) == ' ' || data.at(next) == '\t'))
            ++next;
        if (data.sliced(next).startsWith("\r\n"))
            return at;
    }
    return -1;
}
