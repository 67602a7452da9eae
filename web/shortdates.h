#ifndef SHORTDATES_H
#define SHORTDATES_H

#include <QByteArray>
#include <QHash>
#include <QLocale>

// The modification times of one folder page in the short date-and-time form of the current
// locale, HTML-escaped. Entries of a folder are often written within the same second or minute;
// their texts are made once. A text is shared only across a span the locale's format cannot
// tell apart: a minute when the format shows no seconds (and the minute lies at one whole-minute
// offset from UTC), a second when it shows no fraction and no zone name, else nothing.
class ShortDates
{
public:
    ShortDates();

    // The text of the time `msecs` (milliseconds since the epoch, local time shown); valid until
    // the next call.
    const QByteArray &text(qint64 msecs);

private:
    QByteArray make(qint64 msecs) const;

    QLocale locale;
    qint64 span = 1;
    QHash<qint64, QByteArray> texts;
    QByteArray single;
};

#endif
