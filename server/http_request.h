#ifndef HTTP_REQUEST_H
#define HTTP_REQUEST_H

#include "server/requesthead.h"
#include "server/requestparser.h"
#include "server/socket.h"

#include <QByteArray>
#include <QString>

class ClientData;
class ClientManager;
class ServerContext;

// The request currently handled on one connection, with the connection's socket: the head the
// parser read (replaced whole by start(), so that a request on a keep-alive connection never
// sees values of the request before it) and the connection-wide state that outlives it.
class HTTP_Request : public RequestHead
{
public:
    HTTP_Request();
    ~HTTP_Request();

    // Takes the head the socket announced: parses it into the request's fields and keeps the
    // parser's verdict in `status`. False when there is no request line. The connection-wide
    // effects of the head are the connection handler's.
    bool start();
    void end();

    ClientData *getClientData();
    // Binds the connection to the registered `session`, leaving the one it had.
    void bind(ClientData *session);
    // The browser logged in with the right `password`: the connection gets a fresh session for it.
    void logIn(const QString &password);

    // Connection-wide state.
    // The listener's state: share, profile, data folders, thumbnails. Null outside a listener.
    const ServerContext *context = nullptr;
    ClientManager *clientManager = nullptr;
    Socket socket;
    bool singleFile = false;
    // The session of the connection: the one the last request named by its cookie, else one of
    // its own.
    ClientData *clientData = nullptr;

    // The current request, beyond its head.
    RequestParser::Status status = RequestParser::Status::NoRequestLine;
    QByteArray body;      // a collected small body (forms are turned into the query instead)

    // The item of the share opened by the check of the request's path (ShareRoot::open), kept
    // for the answer that sends it: the first to ask for that same share path takes it; the next
    // request or the end of the connection closes it.
    void keepOpened(const QString &path, int descriptor);
    int takeOpened(const QString &path);

private:
    // Leaves the session the connection has, if any.
    void unbind();
    void dropOpened();
    QString openedPath;
    int openedFile = -1;
    bool ownsClientData = false;
};

#endif
