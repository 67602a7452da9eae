#ifndef DAV_H
#define DAV_H

#include "server/response.h"

#include <QString>
#include <QUrl>

class QDateTime;

// Base of the WebDAV answers. Every answer with a body is an XML document in UTF-8; the helpers
// here map request paths onto the share, write hrefs and dates, and guard COPY and MOVE.
class Dav : public Response
{
    Q_OBJECT

public:
    explicit Dav(HTTP_Request *request);

    // Clears `body` and writes the prolog and the "<" that opens the root element.
    static void init(QByteArray *body);

    // The file-system path that a decoded request path names in the shared folder.
    static QString mapped(const QFileInfo *root, const QString &path);
    // The item the request line addresses.
    QString addressed(const QFileInfo *root) const;
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
    // The same for the Destination header `value` of a share at `rootPath`.
    static int destinationOf(const QByteArray &value, const QString &rootPath, QString *path);
    // The decoded path of an absolute URL or path (scheme and host are not looked at): 0 when it
    // names a place in a share (`*path` set), 400 when it has no path, 403 for "..", NUL.
    static int pathOfUrl(const QByteArray &value, QString *path);
    // Whether an existing file at the destination of COPY or MOVE may be replaced.
    bool overwriteAllowed(const Configuration *config) const;
    // The status of a COPY or MOVE that would destroy its source or the share: 403 when the
    // source is the shared folder, when both name the same file, or when the destination lies
    // in the source's own subtree; 0 otherwise.
    static int guard(const QFileInfo *root, const QString &source, const QString &target);

    // True when the two paths name one existing file (same device and inode, links followed).
    static bool sameFile(const QString &a, const QString &b);
    // The path with every link resolved; the part that does not exist yet is appended as given.
    static QString resolved(const QString &path);
};

#endif
