#ifndef DAV_H
#define DAV_H

#include "server/response.h"

#include <QString>
#include <QUrl>

class QDateTime;
class ShareRoot;

// Base of the WebDAV answers. Every answer with a body is an XML document in UTF-8; the helpers
// here map request paths onto the share, write hrefs and dates, and guard COPY and MOVE.
class Dav : public Response
{
    Q_OBJECT

public:
    explicit Dav(HTTP_Request *request);

    // Clears `body` and writes the prolog and the "<" that opens the root element.
    static void init(QByteArray *body);

    // The share of this request's listener, where every item is reached.
    ShareRoot &share() const;
    // Scheme, local address and port of this connection (https on a TLS connection).
    QUrl connectionUrl() const;
    // The absolute URL of a path of the share ("/" for the shared folder) as it stands in an
    // href: percent-encoded and XML-escaped.
    QByteArray href(const QString &sharePath) const;

    // Appends the href of a path of the share: `base` is connectionUrl() percent-encoded, the
    // path is percent-encoded as a URL path is, and the whole is XML-escaped (as href() does).
    static void appendHref(QByteArray *out, const QByteArray &base, QStringView sharePath);
    // The path part of appendHref() for UTF-8 bytes, written at `out` (room for five bytes per
    // byte of `utf8`); returns the end.
    static char *writeHrefPath(char *out, QByteArrayView utf8);
    // The date of appendDate() written at `out` (room for 40 bytes); returns the end. With
    // `twoDigitDay` the day has a leading zero where it needs one, as HTTP headers write it.
    static char *writeDate(char *out, qint64 msecsSinceEpoch, bool twoDigitDay = false);
    // Last-modification dates: English names, no leading zero on the day, always GMT.
    static QByteArray httpDate(const QDateTime &time);
    static void appendDate(QByteArray *out, qint64 msecsSinceEpoch);

    // The decoded path of the Destination header. Returns 0 when it names a place in the share
    // (`*path` set), 400 when it is missing or cannot be parsed, 403 when it leaves the share.
    int destination(const QFileInfo *root, QString *path) const;
    // Whether an existing file at the destination of COPY or MOVE may be replaced.
    bool overwriteAllowed(const Configuration *config) const;
};

#endif
