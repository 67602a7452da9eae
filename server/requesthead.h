#ifndef REQUESTHEAD_H
#define REQUESTHEAD_H

#include <QByteArray>
#include <QList>
#include <QNetworkCookie>
#include <QString>
#include <optional>
#include <utility>

// What one request head says: the method, the target, and the header values the responses read.
// Values are kept as they stand after the header name, its colon and the blanks after it.
class RequestHead
{
public:
    enum Type { Unknown = 0, Get, Post, PropFind, Options, Delete, Copy, Put, Move, MkCol, Head, Lock, UnLock, PropPatch };
    // The length of a body sent in chunks, as long as it has not been read.
    static constexpr qint64 UnknownLength = -1;

    const QNetworkCookie *getCookie(QByteArrayView name) const;
    void setCookie(const QByteArray &value);
    void addCookie(QByteArray piece);

    // Request parameters: the query of the request line, or the body of a url-encoded form.
    void setQuery(const QByteArray &rawQuery);
    QString param(QByteArrayView name) const;
    QList<std::pair<QString, QString>> params() const;
    static QString decodeFormValue(QByteArrayView raw);

    QList<QNetworkCookie> cookies;
    // The declared length of the body; UnknownLength for chunks.
    qint64 contentLength = 0;
    // The body comes in chunks (Transfer-Encoding: chunked).
    bool chunked = false;
    int type = Unknown;
    qint64 rangeStart = 0;
    qint64 rangeEnd = 0;
    // The range names the last rangeEnd bytes ("bytes=-N").
    bool rangeSuffix = false;
    QByteArray contentType;
    QByteArray referer;
    QByteArray host;
    // Where a browser says the request comes from: the Origin header, and Sec-Fetch-Site.
    QByteArray origin;
    QByteArray fetchSite;
    QByteArray userAgent;
    QString path;         // the decoded request path
    QByteArray rawQuery;
    QString credentials;  // decoded Basic credentials (UTF-8, else Latin-1): name, colon, password
    QByteArray depth;
    QByteArray destination;
    QByteArray overwrite;
    // The conditions of RFC 9110 13.1; the lists of several lines are joined with ", ".
    QByteArray ifMatch;
    QByteArray ifNoneMatch;
    QByteArray ifModifiedSince;
    QByteArray ifUnmodifiedSince;
    QByteArray ifRange;
    QByteArray contentRange;
    QByteArray ifHeader;  // the WebDAV If header (several lines joined with a blank)
    QByteArray lockToken; // the Lock-Token header of UNLOCK
    QByteArray timeout;
    QByteArray ocMtime;   // X-OC-Mtime: the time a PUT's file is to have (seconds since the epoch)
    bool expectContinue = false;
    // What the last Connection header asks of the connection; unset when the head has none.
    std::optional<bool> keepAlive;
};

#endif
