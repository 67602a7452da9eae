#ifndef DAV_H
#define DAV_H

#include "server/response.h"

#include <QByteArray>
#include <QString>

class ShareRoot;

// Base of the WebDAV answers. Every answer with a body is an XML document in UTF-8; the helpers
// here map request paths onto the share, write hrefs, and guard COPY and MOVE.
class Dav : public Response
{
    Q_OBJECT

public:
    explicit Dav(HTTP_Request *request);

    // Clears `body` and writes the prolog and the "<" that opens the root element.
    static void init(QByteArray *body);

    // The share of this request's listener, where every item is reached.
    ShareRoot &share() const;
    // Scheme, local address and port of this connection (https on a TLS connection), as a URL
    // percent-encoded.
    QByteArray connectionUrl() const;
    // The absolute URL of a path of the share ("/" for the shared folder) as it stands in an
    // href: percent-encoded and XML-escaped.
    QByteArray href(const QString &sharePath) const;

    // Appends the href of a path of the share: `base` is connectionUrl(), the path is
    // percent-encoded as a URL path is, and the whole is XML-escaped (as href() does).
    static void appendHref(QByteArray *out, const QByteArray &base, QStringView sharePath);
    // The path part of appendHref() for UTF-8 bytes, written at `out` (room for five bytes per
    // byte of `utf8`); returns the end.
    static char *writeHrefPath(char *out, QByteArrayView utf8);
    // The decoded path of the Destination header. Returns 0 when it names a place in the share
    // (`*path` set), 400 when it is missing or cannot be parsed, 403 when it leaves the share.
    int destination(const QFileInfo *root, QString *path) const;
    // The same for the Destination header `value` of the share `items` (null: not looked at).
    static int destinationOf(const QByteArray &value, ShareRoot *items, QString *path);
    // The decoded path of an absolute URL or path (scheme and host are not looked at): 0 when it
    // names a place in a share (`*path` set), 400 when it has no path, 403 for "..", NUL.
    static int pathOfUrl(const QByteArray &value, QString *path);
    // Whether an existing file at the destination of COPY or MOVE may be replaced.
    bool overwriteAllowed(const Configuration *config) const;
};

#endif
