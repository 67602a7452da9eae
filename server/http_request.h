#ifndef HTTP_REQUEST_H
#define HTTP_REQUEST_H

#include "server/socket.h"

#include <QByteArray>
#include <QList>
#include <QNetworkCookie>
#include <QString>
#include <utility>

class ClientData;
class ClientManager;

// The request currently handled on one connection, with the connection's socket.
// start() parses the next head from the socket's buffer; the per-request fields are reset first,
// so that a request on a keep-alive connection never sees values of the request before it.
class HTTP_Request
{
public:
    enum Type { Unknown = 0, Get, Post, PropFind, Options, Delete, Copy, Put, Move, MkCol, Head, Lock, UnLock };

    HTTP_Request();
    ~HTTP_Request();

    // Parses the head the socket holds and declares the body that follows it.
    bool start();
    // Parses a request head (the request line and the header lines up to the empty line);
    // `overflowed` says that it was cut at the end of the buffer. False when there is no request
    // line; the connection-wide state (keep-alive, session) is updated as the lines say.
    bool parse(QByteArrayView head, bool overflowed);
    void end();

    ClientData *getClientData();
    // The browser logged in with the right `password`: the connection gets a fresh session for it.
    void logIn(const QString &password);
    const QNetworkCookie *getCookie(const QByteArray &name) const;
    void setCookie(const QByteArray &value);
    void addCookie(QByteArray piece);

    // Request parameters: the query of the request line, or the body of a url-encoded form.
    void setQuery(const QByteArray &rawQuery);
    QString param(QByteArrayView name) const;
    QList<std::pair<QString, QString>> params() const;
    static QString decodeFormValue(QByteArrayView raw);

    // Connection-wide state.
    ClientManager *clientManager = nullptr;
    Socket socket;
    bool singleFile = false;
    // The session of the connection: the one the last request named by its cookie, else one of
    // its own.
    ClientData *clientData = nullptr;

    // The current request.
    QList<QNetworkCookie> cookies;
    qint64 contentLength = 0;
    int type = Unknown;
    qint64 rangeStart = 0;
    qint64 rangeEnd = 0;
    // The range names the last rangeEnd bytes ("bytes=-N").
    bool rangeSuffix = false;
    QByteArray contentType;
    QByteArray referer;
    QByteArray host;
    QByteArray userAgent;
    QString path;         // the decoded request path
    QByteArray rawQuery;
    QString credentials;  // decoded Basic credentials: name, colon, password
    QByteArray depth;
    QByteArray destination;
    QByteArray overwrite;
    QByteArray ifNoneMatch;
    QByteArray ifRange;
    QByteArray contentRange;
    QByteArray ifHeader;  // the WebDAV If header
    QByteArray timeout;
    QByteArray body;      // a collected small body (forms are turned into the query instead)
    bool expectContinue = false;
    // A status the head itself calls for (400, 403, 411, 414), answered before anything else.
    int refusal = 0;

private:
    void reset();
    void parseHeader(QByteArrayView line);
    void parseTarget(const QByteArray &target);
    // Binds the connection to `session` (registered), leaving the one it had.
    void bind(ClientData *session);
    // Leaves the session the connection has, if any.
    void unbind();
    bool ownsClientData = false;
    bool sessionCookieRead = false;
    bool lengthSeen = false;
};

#endif
