#include "web/shortdates.h"

#include "responses/textcoding.h"

#include <QDateTime>

namespace {

// The start of the span holding `msecs`, rounding towards minus infinity.
qint64 spanStart(qint64 msecs, qint64 span)
{
    qint64 start = msecs / span;
    if (msecs % span < 0)
        --start;
    return start * span;
}

} // namespace

ShortDates::ShortDates()
{
    // The fields of the format outside quoted text decide how long a text stays the same.
    const QString format = locale.dateTimeFormat(QLocale::ShortFormat);
    bool seconds = false;
    bool finer = false;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == u's')
            seconds = true;
        else if (c == u'z' || c == u't')
            finer = true;
    }
    span = finer ? 1 : seconds ? 1000 : 60000;
}

QByteArray ShortDates::make(qint64 msecs) const
{
    QByteArray out;
    TextCoding::appendEscaped(
        &out, locale.toString(QDateTime::fromMSecsSinceEpoch(msecs), QLocale::ShortFormat).toUtf8());
    return out;
}

const QByteArray &ShortDates::text(qint64 msecs)
{
    if (span == 1) {
        single = make(msecs);
        return single;
    }
    const qint64 start = spanStart(msecs, span);
    auto found = texts.constFind(start);
    if (found == texts.constEnd()) {
        if (span > 1000) {
            // A minute shows as one only at one offset that is a whole number of minutes.
            const int offset = QDateTime::fromMSecsSinceEpoch(start).offsetFromUtc();
            if (offset % 60 != 0
                || QDateTime::fromMSecsSinceEpoch(start + span - 1).offsetFromUtc() != offset) {
                single = make(msecs);
                return single;
            }
        }
        found = texts.insert(start, make(start));
    }
    return *found;
}
