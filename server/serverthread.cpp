#include "server/serverthread.h"

#include "config/configuration.h"
#include "responses/dispatchtable.h"
#include "responses/http_response.h"
#include "server/accesspolicy.h"
#include "server/clientdata.h"
#include "server/clientmanager.h"
#include "server/preconditions.h"
#include "server/response.h"
#include "server/servercontext.h"
#include "server/sharepath.h"
#include "web/sharedir.h"

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
            localHost = AccessPolicy::hostText(socket.localAddress());
        if (const char *refused = AccessPolicy::admission(request, *context, localHost)) {
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
            answer("413 Request Entity Too Large");
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
    answer("400 Bad Request");
}

void ServerThread::authorize()
{
    Socket &socket = request.socket;
    // OPTIONS tells nothing about the share, and Windows' WebDAV client asks it before it sends
    // any credentials (and gives up when refused).
    if (request.type != HTTP_Request::Options) {
        const bool attempt = isAttempt();
        if (attempt) {
            // The connection waits its turn; nothing blocks meanwhile.
            const qint64 wait = context->guesses.wait(socket.peerAddress());
            if (wait > 0) {
                awaiting = Awaiting::Turn;
                turn.start(int(qMin<qint64>(wait, INT_MAX)));
                return;
            }
        }
        const bool accepted = accept();
        if (attempt) {
            if (accepted)
                context->guesses.succeeded(socket.peerAddress());
            else
                context->guesses.failed(socket.peerAddress());
        }
        if (!accepted) {
            refuse();
            return;
        }
    }
    if (const char *refused = AccessPolicy::refusal(request, *context)) {
        answer(refused);
        return;
    }
    // The conditions and locks of what the request would change.
    if (const char *refused = Preconditions::refusal(request, *context)) {
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
                answer("413 Request Entity Too Large");
                return;
            }
            awaiting = Awaiting::Body;
            socket.collectBody();
            return;
        }
    }
    dispatch();
}

bool ServerThread::isAttempt() const
{
    switch (profile->authMode) {
    case AuthMode::None:
        return false;
    case AuthMode::Password:
        return !request.credentials.isEmpty() || request.param("a") == QLatin1String("log");
    default:
        return !request.credentials.isEmpty();
    }
}

bool ServerThread::accept()
{
    const Configuration *c = profile.get();
    switch (c->authMode) {
    case AuthMode::None:
        return true;
    case AuthMode::Password: {
        // A WebDAV client cannot fill in the login page: the password as Basic credentials, under
        // any user name, lets it in.
        if (!request.credentials.isEmpty()) {
            const qsizetype colon = request.credentials.indexOf(u':');
            return colon >= 0 && QStringView(request.credentials).sliced(colon + 1) == c->password;
        }
        if (request.param("a") == QLatin1String("log")) {
            const QString given = request.param("password");
            // A wrong password logs the session out; the right one logs in under a fresh id.
            if (given == c->password)
                request.logIn(given);
            else
                request.getClientData()->password = given;
        } else if (!request.singleFile && request.path == QLatin1String(ShareDir::ClientArchivePath)
                   && (request.type == HTTP_Request::Get || request.type == HTTP_Request::Head)) {
            // The applet's own archive, nothing else, is served before its page logs it in.
            return true;
        }
        return request.getClientData()->password == c->password;
    }
    case AuthMode::Basic:
        return !request.credentials.isEmpty() && c->users.contains(request.credentials);
    default:
        return false;
    }
}

void ServerThread::refuse()
{
    Socket &socket = request.socket;
    socket.setKeepAlive(false);
    const Configuration *c = profile.get();
    // A browser asking for a page gets the login page; a client that sent credentials, or asks
    // by another method (a WebDAV client), the challenge it can answer.
    const bool loginPage = c->authMode == AuthMode::Password && request.credentials.isEmpty()
                           && (request.type == HTTP_Request::Get || request.type == HTTP_Request::Post);
    if (!loginPage) {
        const QByteArray body = "<h2>" + tr("Wrong password").toUtf8() + "</h2>";
        if (!response)
            response = new Response(&request);
        response->contentType = "text/xml; charset=\"utf-8\"";
        const QByteArray extra = "WWW-Authenticate: Basic realm=\"Private Area\"\r\n";
        response->sendHeader("401 Authorization Required", body.size(), &extra);
        // The answer to HEAD has the length of the body but not the body.
        if (request.type == HTTP_Request::Head)
            socket.end();
        else
            socket.write(body, true);
        return;
    }
    // The range asked for belongs to the refused file, not to the login page.
    request.rangeStart = request.rangeEnd = 0;
    request.rangeSuffix = false;
    // The same answer for every path, so that it tells nobody which names exist; not "200 OK",
    // so that a download tool does not store the login page under the name it asked for.
    // An "HR" response is always an HTTP_Response.
    static_cast<HTTP_Response *>(responseFor(ResponseKind::File))->sendLoginPage("403 Forbidden");
}

void ServerThread::dispatch()
{
    if (request.singleFile) {
        responseFor(ResponseKind::File)->reply(&context->root);
        return;
    }
    const DispatchTable::Method *method = DispatchTable::byType(request.type);
    if (!method) {
        request.socket.setKeepAlive(false);
        answer("405 Method Not Allowed");
        return;
    }
    // The applet's listing asks by PROPFIND too.
    const ResponseKind kind = method->kind == ResponseKind::PropFind && request.userAgent == "mc"
                                  ? ResponseKind::Listing
                                  : method->kind;
    DispatchTable::call(responseFor(kind), method->call, &context->root, profile.get());
}

Response *ServerThread::responseFor(ResponseKind kind)
{
    if (checkResponse(kind))
        return response;
    response = DispatchTable::create(kind, profile.get(), &request);
    return response;
}

bool ServerThread::checkResponse(ResponseKind kind)
{
    if (response && response->kind == kind)
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
    if (c == profile)
        return;
    if (profile)
        --profile->useCount;
    profile = c;
    if (profile)
        ++profile->useCount;
}

void ServerThread::answer(const char *status)
{
    if (!response)
        response = new Response(&request);
    response->sendHeader(status, 0);
}

void ServerThread::finish()
{
    if (request.clientData && request.clientManager)
        request.clientData->end(request.clientManager->now());
    request.socket.closeConnection();
    deleteLater();
}
