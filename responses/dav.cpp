#include "responses/dav.h"

#include "config/configuration.h"
#include "responses/textcoding.h"
#include "server/accesspolicy.h"
#include "server/http_request.h"
#include "server/servercontext.h"
#include "server/sharepath.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <cstring>
#include <ctime>
#include <sys/stat.h>

Dav::Dav(HTTP_Request *request)
    : Response(request)
{
    contentType = "text/xml; charset=\"utf-8\"";
}

void Dav::init(QByteArray *body)
{
    body->clear();
    body->append("<?xml version=\"1.0\" encoding=\"utf-8\"?><");
}

ShareRoot &Dav::share() const
{
    return request->context->share();
}

QUrl Dav::connectionUrl() const
{
    const Socket &socket = request->socket;
    QUrl url;
    url.setScheme(socket.isEncrypted() ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(socket.localAddress().toString());
    url.setPort(socket.localPort());
    return url;
}

QByteArray Dav::href(const QString &sharePath) const
{
    // The connection's URL holds nothing to escape.
    QByteArray out;
    appendHref(&out, connectionUrl().toEncoded(), sharePath);
    return out;
}

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
} // namespace

char *Dav::writeHrefPath(char *out, QByteArrayView utf8)
{
    // Of the characters a URL path keeps only "&" and "'" have references ("&amp;", "&#39;"):
    // five bytes at most per byte, which is the room callers make.
    return TextCoding::writeEncodedEscaped(out, utf8, TextCoding::Kept::UrlPath);
}

void Dav::appendHref(QByteArray *out, const QByteArray &base, QStringView sharePath)
{
    *out += base;
    if (sharePath.isEmpty()) {
        *out += '/';
        return;
    }
    const QByteArray utf8 = sharePath.toUtf8();
    const qsizetype at = out->size();
    out->resize(at + 5 * utf8.size());
    char *end = writeHrefPath(out->data() + at, utf8);
    out->truncate(end - out->constData());
}

char *Dav::writeDate(char *out, qint64 msecsSinceEpoch, bool twoDigitDay)
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
        const QByteArray text = httpDate(QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, Qt::UTC));
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

void Dav::appendDate(QByteArray *out, qint64 msecsSinceEpoch)
{
    char text[48];
    out->append(text, writeDate(text, msecsSinceEpoch) - text);
}

QByteArray Dav::httpDate(const QDateTime &time)
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

int Dav::destination(const QFileInfo *root, QString *path) const
{
    const QByteArray value = request->destination.trimmed();
    if (value.isEmpty())
        return 400;
    // Tolerant: a blank or a UTF-8 byte that a client left unencoded is taken as meant.
    const QUrl url = QUrl::fromEncoded(value, QUrl::TolerantMode);
    if (!url.isValid())
        return 400;
    QByteArray rawPath = url.path(QUrl::FullyEncoded).toLatin1();
    if (rawPath.isEmpty() && !url.host().isEmpty())
        rawPath = "/";
    if (!rawPath.startsWith('/'))
        return 400;
    const QString decoded = QString::fromUtf8(QByteArray::fromPercentEncoding(rawPath));
    // The same rules as for the request line: no "..", no NUL, nothing outside the share.
    if (decoded.contains(QChar(0)))
        return 403;
    for (const QStringView segment : QStringView(decoded).split(u'/')) {
        if (segment == u"..")
            return 403;
    }
    Q_UNUSED(root);
    if (request->context) {
        const ShareRoot::Refusal refusal = share().open(decoded, O_PATH).refusal;
        if (refusal == ShareRoot::Outside || refusal == ShareRoot::Private)
            return 403;
    }
    *path = decoded;
    return 0;
}

bool Dav::overwriteAllowed(const Configuration *config) const
{
    return AccessPolicy::mayReplace(*config) && request->overwrite.trimmed() != "F";
}

