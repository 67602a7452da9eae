#include "server/httpdate.h"

#include <QDateTime>
#include <QList>
#include <QLocale>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace {

char *writeNumber(char *out, qint64 n, int minDigits = 1)
{
    char digits[24];
    int k = 0;
    const bool negative = n < 0;
    quint64 u = negative ? quint64(0) - quint64(n) : quint64(n);
    do {
        digits[k++] = char('0' + u % 10);
        u /= 10;
    } while (u);
    while (k < minDigits)
        digits[k++] = '0';
    if (negative)
        *out++ = '-';
    while (k)
        *out++ = digits[--k];
    return out;
}

// The date of write() through QDateTime, for the years gmtime_r() cannot take.
QByteArray longDate(const QDateTime &time)
{
    const QLocale english = QLocale::c();
    const QDateTime utc = time.toUTC();
    return QStringLiteral("%1, %2 %3 %4 %5 GMT")
        .arg(english.dayName(utc.date().dayOfWeek(), QLocale::ShortFormat))
        .arg(utc.date().day())
        .arg(english.monthName(utc.date().month(), QLocale::ShortFormat))
        .arg(utc.date().year())
        .arg(utc.time().toString(QStringLiteral("HH:mm:ss")))
        .toLatin1();
}

} // namespace

namespace HttpDate {

char *write(char *out, qint64 msecsSinceEpoch, bool twoDigitDay)
{
    static const char days[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char months[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // Whole seconds, rounded down also before 1970.
    qint64 secs = msecsSinceEpoch / 1000;
    if (msecsSinceEpoch % 1000 < 0)
        --secs;
    const time_t t = time_t(secs);
    struct tm utc;
    if (!::gmtime_r(&t, &utc)) {
        const QByteArray text = longDate(QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, Qt::UTC));
        const qsizetype n = qMin<qsizetype>(text.size(), 40);
        std::memcpy(out, text.constData(), size_t(n));
        return out + n;
    }
    std::memcpy(out, days[utc.tm_wday], 3);
    out[3] = ',';
    out[4] = ' ';
    out = writeNumber(out + 5, utc.tm_mday, twoDigitDay ? 2 : 1);
    *out++ = ' ';
    std::memcpy(out, months[utc.tm_mon], 3);
    out[3] = ' ';
    out = writeNumber(out + 4, qint64(utc.tm_year) + 1900);
    *out++ = ' ';
    out = writeNumber(out, utc.tm_hour, 2);
    *out++ = ':';
    out = writeNumber(out, utc.tm_min, 2);
    *out++ = ':';
    out = writeNumber(out, utc.tm_sec, 2);
    std::memcpy(out, " GMT", 4);
    return out + 4;
}

char *writeIso(char *out, qint64 msecsSinceEpoch)
{
    qint64 secs = msecsSinceEpoch / 1000;
    if (msecsSinceEpoch % 1000 < 0)
        --secs;
    const time_t t = time_t(secs);
    struct tm utc;
    if (!::gmtime_r(&t, &utc))
        return out;
    out = writeNumber(out, qint64(utc.tm_year) + 1900, 4);
    *out++ = '-';
    out = writeNumber(out, utc.tm_mon + 1, 2);
    *out++ = '-';
    out = writeNumber(out, utc.tm_mday, 2);
    *out++ = 'T';
    out = writeNumber(out, utc.tm_hour, 2);
    *out++ = ':';
    out = writeNumber(out, utc.tm_min, 2);
    *out++ = ':';
    out = writeNumber(out, utc.tm_sec, 2);
    *out++ = 'Z';
    return out;
}

bool parseTime(QByteArrayView text, struct timespec *time)
{
    const QByteArrayView value = text.trimmed();
    const auto digitsOnly = [](QByteArrayView v) {
        return !v.isEmpty() && std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    // Seconds, as X-OC-Mtime and rclone's lastmodified give them; a fraction to nanoseconds.
    const qsizetype point = value.indexOf('.');
    const QByteArrayView whole = point < 0 ? value : value.first(point);
    const QByteArrayView fraction = point < 0 ? QByteArrayView() : value.sliced(point + 1);
    if (digitsOnly(whole) && whole.size() <= 12 && (point < 0 || digitsOnly(fraction))) {
        long nanoseconds = 0;
        for (qsizetype i = 0; i < 9; ++i)
            nanoseconds = nanoseconds * 10 + (i < fraction.size() ? fraction.at(i) - '0' : 0);
        time->tv_sec = time_t(whole.toLongLong());
        time->tv_nsec = nanoseconds;
        return true;
    }
    // An HTTP date names its zone GMT, which Qt's RFC 2822 reader does not take.
    QString date = QString::fromLatin1(value);
    for (const QLatin1StringView zone : {QLatin1StringView(" GMT"), QLatin1StringView(" UTC"), QLatin1StringView(" UT")}) {
        if (date.endsWith(zone)) {
            date.chop(zone.size());
            date += QLatin1StringView(" +0000");
            break;
        }
    }
    QDateTime parsed = QDateTime::fromString(date, Qt::RFC2822Date);
    if (!parsed.isValid())
        parsed = QDateTime::fromString(date, Qt::ISODateWithMs);
    if (!parsed.isValid())
        return false;
    const qint64 ms = parsed.toMSecsSinceEpoch();
    time->tv_sec = time_t(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
    time->tv_nsec = long((ms % 1000 + 1000) % 1000) * 1000000;
    return true;
}

bool parse(QByteArrayView text, qint64 *secondsSinceEpoch)
{
    // "Sun, 06 Nov 1994 08:49:37 GMT" (RFC 9110 5.6.7); the older forms are not read.
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const QList<QByteArray> parts = text.trimmed().toByteArray().split(' ');
    if (parts.size() != 6 || !parts.at(0).endsWith(',') || parts.at(5) != "GMT" || parts.at(2).size() != 3)
        return false;
    const qsizetype month = QByteArrayView(months).indexOf(parts.at(2));
    bool dayOk = false;
    bool yearOk = false;
    const int day = parts.at(1).toInt(&dayOk);
    const int year = parts.at(3).toInt(&yearOk);
    const QTime time = QTime::fromString(QString::fromLatin1(parts.at(4)), QStringLiteral("HH:mm:ss"));
    const QDate calendarDay(year, int(month / 3) + 1, day);
    if (!dayOk || !yearOk || month < 0 || month % 3 != 0 || !time.isValid() || !calendarDay.isValid())
        return false;
    *secondsSinceEpoch = QDateTime(calendarDay, time, Qt::UTC).toSecsSinceEpoch();
    return true;
}

} // namespace HttpDate
