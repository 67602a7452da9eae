#include "server/bodysink.h"

#include <QSaveFile>

#include <fcntl.h>

namespace {
// A file that is synced to disk once complete (a QSaveFile when committed) is handed to the disk
// in stretches of this many bytes while it arrives, so that the sync at the end waits only for
// the last stretch instead of for the whole file.
constexpr qint64 WritebackStretch = 8 * 1024 * 1024;
// Blanks a delimiter line may carry before its line end (RFC 2046 5.1.1 allows any number; a
// longer run is taken for content).
constexpr qsizetype MostPadding = 64;
// The header lines of one part, at most.
constexpr qsizetype MostPartHeaders = 8 * 1024;

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

void BodySink::start(QFileDevice *file, const QByteArray &delimiter, qint64 length, Parts *handler)
{
    target = file;
    parts = handler;
    active = true;
    boundary = delimiter;
    matcher.setPattern(delimiter);
    held.clear();
    state = State::Content;
    left = length;
    syncedAtEnd = qobject_cast<QSaveFile *>(file) != nullptr;
}

bool BodySink::write(QByteArrayView piece)
{
    if (left >= 0)
        left -= piece.size();
    if (!boundary.isEmpty())
        return take(piece);
    return put(piece);
}

BodySink::Ending BodySink::endingOf(QByteArrayView after, qsizetype *partStart)
{
    // "--" ends the last part; blanks and a line end, another one. Anything else is content that
    // happens to begin like a delimiter.
    if (after.isEmpty() || after == "-")
        return Ending::Unknown;
    if (after.startsWith("--"))
        return Ending::Closing;
    qsizetype at = 0;
    while (at < after.size() && at <= MostPadding && (after.at(at) == ' ' || after.at(at) == '\t'))
        ++at;
    if (at > MostPadding)
        return Ending::NotOne;
    if (at == after.size() || (at + 1 == after.size() && after.at(at) == '\r'))
        return Ending::Unknown;
    if (after.sliced(at).startsWith("\r\n")) {
        *partStart = at + 2;
        return Ending::NextPart;
    }
    return Ending::NotOne;
}

bool BodySink::take(QByteArrayView data)
{
    // Bytes held from the last piece go first; they are few.
    QByteArray joined;
    if (!held.isEmpty() && state == State::Content) {
        joined.swap(held);
        joined.append(data);
        data = joined;
    }
    while (!data.isEmpty()) {
        if (state == State::Epilogue)
            return true;
        if (state == State::Headers) {
            held.append(data);
            qsizetype headersEnd = -1;
            qsizetype contentFrom = -1;
            if (held.startsWith("\r\n")) {
                headersEnd = 0;
                contentFrom = 2;
            } else if (const qsizetype blank = held.indexOf("\r\n\r\n"); blank >= 0) {
                headersEnd = blank + 2;
                contentFrom = blank + 4;
            }
            if (headersEnd < 0) {
                // A part without the empty line that ends its headers: the body is not a form.
                if (held.size() > MostPartHeaders) {
                    held.clear();
                    state = State::Epilogue;
                    malformed = true;
                }
                return true;
            }
            target = parts ? parts->nextPart(QByteArrayView(held).first(headersEnd)) : nullptr;
            state = State::Content;
            joined = held.mid(contentFrom);
            held.clear();
            data = joined;
            continue;
        }
        if (!content(data, &data))
            return false;
    }
    return true;
}

bool BodySink::content(QByteArrayView data, QByteArrayView *rest)
{
    *rest = QByteArrayView();
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = matcher.indexIn(data.data(), data.size(), from);
        if (at < 0)
            break;
        qsizetype partStart = 0;
        switch (endingOf(data.sliced(at + boundary.size()), &partStart)) {
        case Ending::NotOne:
            from = at + 1;
            continue;
        case Ending::Unknown:
            // Decided by the next piece.
            held = data.sliced(at).toByteArray();
            return put(data.first(at));
        case Ending::Closing:
            if (!put(data.first(at)))
                return false;
            endPart();
            state = State::Epilogue;
            return true;
        case Ending::NextPart:
            if (!put(data.first(at)))
                return false;
            endPart();
            state = State::Headers;
            *rest = data.sliced(at + boundary.size() + partStart);
            return true;
        }
    }
    // The end may be the beginning of a delimiter: held back until the next piece says.
    qsizetype keep = qMin(data.size(), boundary.size() - 1);
    while (keep > 0 && !boundary.startsWith(data.last(keep)))
        --keep;
    if (keep > 0)
        held = data.last(keep).toByteArray();
    return put(data.first(data.size() - keep));
}

bool BodySink::put(QByteArrayView data)
{
    // A part passed over goes nowhere.
    if (!target || data.isEmpty())
        return true;
    if (target->write(data.data(), data.size()) != data.size())
        return false;
    if (syncedAtEnd)
        startWriteback(target, data.size());
    return true;
}

void BodySink::endPart()
{
    if (!target)
        return;
    QFileDevice *ended = target;
    target = nullptr;
    const bool flushed = ended->flush();
    if (parts)
        parts->partEnded(ended, flushed);
}

BodySink::Result BodySink::complete()
{
    if (boundary.isEmpty())
        return target->flush() ? Saved : WriteFailed;
    // Every part of a form ends with a delimiter, the last with the closing one.
    return state == State::Epilogue && !malformed ? Saved : NoDelimiter;
}

void BodySink::stop()
{
    target = nullptr;
    parts = nullptr;
    active = false;
    left = 0;
    boundary.clear();
    held.clear();
    state = State::Content;
    malformed = false;
}

qsizetype BodySink::findDelimiter(QByteArrayView data, QByteArrayView delimiter)
{
    for (qsizetype at = data.indexOf(delimiter); at >= 0; at = data.indexOf(delimiter, at + 1)) {
        qsizetype partStart = 0;
        const Ending ending = endingOf(data.sliced(at + delimiter.size()), &partStart);
        if (ending == Ending::Closing || ending == Ending::NextPart)
            return at;
    }
    return -1;
}
