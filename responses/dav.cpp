#include "responses/dav.h"

#include "config/configuration.h"
#include "responses/accesspolicy.h"
#include "responses/textcoding.h"
#include "server/http_request.h"
#include "server/servercontext.h"
#include "server/serverurl.h"
#include "server/sharepath.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

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

QByteArray Dav::connectionUrl() const
{
    const Socket &socket = request->socket;
    // The zone of a link-local address is percent-encoded in a URL (RFC 6874).
    QString host = socket.localAddress().toString();
    host.replace(u'%', QLatin1String("%25"));
    return serverUrl(host, socket.localPort(), socket.isEncrypted(), UrlPort::Always).toLatin1();
}

QByteArray Dav::href(const QString &sharePath) const
{
    // The connection's URL holds nothing to escape.
    QByteArray out;
    appendHref(&out, connectionUrl(), sharePath);
    return out;
}

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

int Dav::destination(const QFileInfo *root, QString *path) const
{
    Q_UNUSED(root);
    return destinationOf(request->destination, request->context ? &share() : nullptr, path);
}

int Dav::pathOfUrl(const QByteArray &value, QString *path)
{
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
    // The same rules as for the request line: no "..", no NUL.
    if (decoded.contains(QChar(0)))
        return 403;
    for (const QStringView segment : QStringView(decoded).split(u'/')) {
        if (segment == u"..")
            return 403;
    }
    *path = decoded;
    return 0;
}

int Dav::destinationOf(const QByteArray &header, ShareRoot *items, QString *path)
{
    const QByteArray value = header.trimmed();
    if (value.isEmpty())
        return 400;
    QString decoded;
    if (const int refused = pathOfUrl(value, &decoded))
        return refused;
    // Nothing outside the share.
    if (items) {
        const ShareRoot::Refusal refusal = items->open(decoded, O_PATH).refusal;
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

