#include "server/serverthread.h"

#include "config/configuration.h"
#include "server/clientdata.h"
#include "server/clientmanager.h"
#include "server/response.h"
#include "server/servercontext.h"
#include "server/sharepath.h"
#include "server/statusline.h"

#include <climits>

ServerThread::ServerThread(ServerContext *listener, QObject *parent)
    : QObject(parent)
    , context(listener)
{
    request.context = context;
    request.clientManager = &context->clients;
    request.socket.traffic = &context->traffic;
    // Told of heads, bodies and the wait for the next request (which keeps no answer: the next
    // request makes its own).
    request.socket.setHandler(this);
    turn.setSingleShot(true);
    connect(&turn, &QTimer::timeout, this, [this] {
        const Handling scope(this);
        if (awaiting != Awaiting::Turn)
            return;
        awaiting = Awaiting::Nothing;
        authorize();
    });
}

ServerThread::Handling::Handling(ServerThread *thread)
    : thread(thread->handling ? nullptr : thread)
{
    thread->handling = true;
}

ServerThread::Handling::~Handling()
{
    // Only the outermost handling: what it called has returned.
    if (!thread)
        return;
    thread->handling = false;
    delete thread->dropped;
    thread->dropped = nullptr;
}

void ServerThread::readyRead()
{
    const Handling scope(this);
    Socket &socket = request.socket;
    if (socket.peerAddress().isNull() || socket.isClosing()) {
        finish();
        return;
    }
    if (peer.isEmpty())
        peer = socket.peerAddress().toString();
    // Each request is answered on the share and the profile as they are when it arrives.
    if (profile.get() != context->config)
        dropResponse();
    profile.use(context->config);
    request.singleFile = context->singleFile;
    context->requestFrom(peer);
    if (!request.start()) {
        finish();
        return;
    }
    useHead();
    using Status = RequestParser::Status;
    if (request.status == Status::Parsed) {
        if (localHost.isNull())
            localHost = Socket::hostText(socket.localAddress());
        if (const char *refused = context->responder->admission(request, localHost)) {
            socket.setKeepAlive(false);
            answer(refused);
            return;
        }
        // A path that leads out of the share, or into the profile folder, is refused at once.
        // A download that needs no password: the step that looks at the path opens the file.
        ShareRoot &share = context->share();
        const Configuration *c = profile.get();
        const bool download = request.type == HTTP_Request::Get && c && c->authMode == AuthMode::None;
        ShareRoot::Opened opened = request.singleFile ? ShareRoot::Opened()
                                                      : share.open(request.path, download ? ShareRoot::ReadFlags : O_PATH);
        if (share.isPrivate() || opened.refusal == ShareRoot::Outside || opened.refusal == ShareRoot::Private)
            request.status = Status::Forbidden;
        else if (download && opened.reached())
            request.keepOpened(request.path, opened.fd.release());
    }
    if (request.status != Status::Parsed) {
        socket.setKeepAlive(false);
        answer(RequestParser::statusLine(request.status));
        return;
    }
    // A url-encoded form is read whole and becomes the request's parameters.
    if (request.type == HTTP_Request::Post && request.contentType.startsWith("application/x-www")) {
        if (request.contentLength > Socket::MaxCollectedBody) {
            answer(StatusLine::RequestEntityTooLarge);
            return;
        }
        awaiting = Awaiting::Form;
        socket.collectBody();
        return;
    }
    authorize();
}

void ServerThread::useHead()
{
    Socket &socket = request.socket;
    if (request.keepAlive)
        socket.setKeepAlive(*request.keepAlive);
    // The ID cookie names the session; one the server did not issue leaves the connection with
    // the session it has (or a fresh one).
    const QNetworkCookie *id = request.getCookie("ID");
    if (id && request.clientManager) {
        if (ClientData *named = request.clientManager->getClientData(id))
            request.bind(named);
    }
    using Status = RequestParser::Status;
    // After a head refused for its framing, or too long to be read, nothing that follows can be
    // told apart from a body: the connection cannot go on.
    if (request.status == Status::BadRequest || request.status == Status::UriTooLong
        || request.status == Status::HeadTooLarge || socket.headOverflowed())
        socket.refuseBody();
    else
        socket.beginBody(request.contentLength, request.expectContinue, request.chunked);
    if (request.status != Status::Parsed)
        socket.setKeepAlive(false);
}

void ServerThread::bodyArrived()
{
    const Handling scope(this);
    const Awaiting was = awaiting;
    awaiting = Awaiting::Nothing;
    switch (was) {
    case Awaiting::Form:
        request.setQuery(request.socket.takeBody());
        authorize();
        break;
    case Awaiting::Body:
        request.body = request.socket.takeBody();
        // Chunks, now read, have a length like any body.
        if (request.chunked)
            request.contentLength = request.body.size();
        dispatch();
        break;
    case Awaiting::Prefetch:
        dispatch();
        break;
    case Awaiting::Turn:
    case Awaiting::Nothing:
        break;
    }
}

void ServerThread::bodyFailed()
{
    const Handling scope(this);
    awaiting = Awaiting::Nothing;
    request.socket.setKeepAlive(false);
    answer(StatusLine::BadRequest);
}

void ServerThread::authorize()
{
    Socket &socket = request.socket;
    // OPTIONS tells nothing about the share, and Windows' WebDAV client asks it before it sends
    // any credentials (and gives up when refused).
    if (request.type != HTTP_Request::Options) {
        const bool attempt = context->responder->isAttempt(request, *profile.get());
        if (attempt) {
            // The connection waits its turn; nothing blocks meanwhile.
            const qint64 wait = context->guesses.wait(socket.peerAddress());
            if (wait > 0) {
                awaiting = Awaiting::Turn;
                turn.start(int(qMin<qint64>(wait, INT_MAX)));
                return;
            }
        }
        const bool accepted = context->responder->accept(request, *profile.get());
        if (attempt) {
            if (accepted)
                context->guesses.succeeded(socket.peerAddress());
            else
                context->guesses.failed(socket.peerAddress());
        }
        if (!accepted) {
            context->responder->refuse(request, *profile.get(), held());
            return;
        }
    }
    if (const char *refused = context->responder->refusal(request)) {
        answer(refused);
        return;
    }
    if (socket.bodyPending()) {
        if (request.type == HTTP_Request::Post) {
            // Enough of a form upload to read its part headers.
            awaiting = Awaiting::Prefetch;
            socket.prefetchBody();
            return;
        }
        if (request.type != HTTP_Request::Put) {
            if (socket.unreadBody() > Socket::MaxCollectedBody) {
                answer(StatusLine::RequestEntityTooLarge);
                return;
            }
            awaiting = Awaiting::Body;
            socket.collectBody();
            return;
        }
    }
    dispatch();
}

void ServerThread::dispatch()
{
    if (const char *refused = context->responder->dispatch(request, &context->root, profile.get(), held())) {
        request.socket.setKeepAlive(false);
        answer(refused);
    }
}

Response *ServerThread::responseFor(ResponseKind kind)
{
    if (checkResponse(kind))
        return response;
    response = context->responder->create(kind, profile.get(), &request);
    return response;
}

bool ServerThread::checkResponse(ResponseKind kind)
{
    if (response && (response->kind == kind || kind == ResponseKind::Plain))
        return true;
    dropResponse();
    return false;
}

void ServerThread::dropResponse()
{
    if (!response)
        return;
    // The response may still be on the stack.
    if (handling && !dropped)
        dropped = response;
    else
        response->deleteLater();
    response = nullptr;
}

void ServerThread::becameIdle()
{
    dropResponse();
    profile.use(nullptr);
}

void ServerThread::ProfileUse::use(Configuration *c)
{
    Configuration::moveUse(profile, c);
}

void ServerThread::answer(const char *status)
{
    responseFor(ResponseKind::Plain)->sendHeader(status, 0);
}

void ServerThread::finish()
{
    if (request.clientData && request.clientManager)
        request.clientData->end(request.clientManager->now());
    request.socket.closeConnection();
    deleteLater();
}
