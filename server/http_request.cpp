#include "server/http_request.h"

#include "server/clientdata.h"
#include "server/clientmanager.h"

#include <QRandomGenerator>

#include <unistd.h>

HTTP_Request::HTTP_Request() = default;

HTTP_Request::~HTTP_Request()
{
    // A body still being saved ends now, while the record it belongs to is whole.
    socket.discard();
    unbind();
    dropOpened();
}

void HTTP_Request::keepOpened(const QString &path, int descriptor)
{
    dropOpened();
    openedPath = path;
    openedFile = descriptor;
}

int HTTP_Request::takeOpened(const QString &path)
{
    if (openedFile < 0 || path != openedPath)
        return -1;
    const int descriptor = openedFile;
    openedFile = -1;
    openedPath.clear();
    return descriptor;
}

void HTTP_Request::dropOpened()
{
    if (openedFile >= 0)
        ::close(openedFile);
    openedFile = -1;
    openedPath.clear();
}

void HTTP_Request::unbind()
{
    if (!clientData)
        return;
    if (ownsClientData)
        delete clientData;
    else
        clientManager->release(clientData);
    clientData = nullptr;
    ownsClientData = false;
}

bool HTTP_Request::start()
{
    dropOpened();
    const bool overflowed = socket.headOverflowed();
    RequestParser::Result parsed;
    if (socket.hasCompleteHead() || overflowed)
        parsed = RequestParser::parse(socket.head(), overflowed, singleFile);
    static_cast<RequestHead &>(*this) = std::move(parsed.head);
    status = parsed.status;
    body.clear();
    return status != RequestParser::Status::NoRequestLine;
}

void HTTP_Request::end()
{
    socket.end();
    if (clientData && clientManager)
        clientData->end(clientManager->now());
}

ClientData *HTTP_Request::getClientData()
{
    if (!clientData) {
        if (clientManager) {
            clientData = clientManager->newSession();
            ++clientData->bindings;
        } else {
            clientData = new ClientData(qint64(QRandomGenerator::system()->generate64() >> 1));
            ownsClientData = true;
        }
    }
    return clientData;
}

void HTTP_Request::bind(ClientData *session)
{
    if (session == clientData)
        return;
    unbind();
    clientData = session;
    ++clientData->bindings;
}

void HTTP_Request::logIn(const QString &password)
{
    ClientData *session = getClientData();
    if (clientManager)
        bind(clientManager->renew(session, password));
    else
        session->password = password;
}
