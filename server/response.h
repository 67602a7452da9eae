#ifndef RESPONSE_H
#define RESPONSE_H

#include <QByteArray>
#include <QObject>

#include <initializer_list>

class Configuration;
class HTTP_Request;
class QFileInfo;

// What a response answers, one kind per response class (DispatchTable makes them); Plain is
// the bare answer of the connection handler (a refusal, a status without a body).
enum class ResponseKind { Plain, File, Folder, Listing, PropFind, Options, Head, Lock, UnLock, Put, Delete, MkCol, Copy, Move, PropPatch };

// Base of every answer. It frames the status line and the fixed header block in one place;
// the subclass writes the body through the connection's socket.
class Response : public QObject
{
    Q_OBJECT

public:
    explicit Response(HTTP_Request *request);

    virtual void reply();
    virtual void reply(QFileInfo *root, Configuration *conf);
    virtual void reply(QFileInfo *root);
    virtual void sendFile(const QString &path);

    // Writes the head. An answer without a body (length 0) ends the exchange here.
    void sendHeader(const char *status, qint64 length, const QByteArray *extra = nullptr);
    // The head sendHeader() writes, for an answer that sends it together with its body; it
    // switches keep-alive off as sendHeader() does.
    QByteArray header(const char *status, qint64 length, const QByteArray *extra = nullptr);
    // Appends the parts to `text` with one allocation at most.
    static void append(QByteArray *text, std::initializer_list<QByteArrayView> parts);
    static void addLine(QByteArray *text);
    static void addLine(QByteArray *text, const char *line);

    // The header lines of every page the server writes itself: no other site may show it in a
    // frame (where a visitor could be made to click in it unawares).
    static const QByteArray PageHeaders;

    HTTP_Request *request;
    QByteArray contentType;
    // The Cache-Control value of the next head (then "no-cache" again): what every answer had.
    const char *cacheControl = NoCache;
    static constexpr char NoCache[] = "no-cache";
    ResponseKind kind = ResponseKind::Plain;

public slots:
    virtual void reply(int code);
};

#endif
