#include "server/serverthread.h"

#include "config/configuration.h"
#include "responses/dispatchtable.h"
#include "responses/http_response.h"
#include "server/clientdata.h"
#include "server/clientmanager.h"
#include "server/response.h"
#include "server/servercontext.h"
#include "server/sharepath.h"
#include "web/sharedir.h"

#include <sys/stat.h>

ServerThread::ServerThread(ServerContext *listener, QObject *parent)
    : QObject(parent)
    , context(listener)
{
    request.context = context;
    request.clientManager = &context->clients;
    request.singleFile = context->singleFile;
    request.socket.traffic = &context->traffic;
    // Told of heads, bodies and the wait for the next request (which keeps no answer: the next
    // request makes its own).
    request.socket.setHandler(this);
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
    context->requestFrom(peer);
    if (!request.start()) {
        finish();
        return;
    }
    useHead();
    using Status = RequestParser::Status;
    if (request.status == Status::Parsed) {
        // A path that leads out of the share, or into the profile folder, is refused at once.
        // A download that needs no password: the step that looks at the path opens the file.
        ShareRoot &share = context->share();
        const Configuration *c = context->config;
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
    socket.beginBody(request.contentLength, request.expectContinue);
    // After a head cut at the buffer the connection cannot go on: say so in the answer.
    if (request.status != RequestParser::Status::Parsed || socket.headOverflowed())
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
        dispatch();
        break;
    case Awaiting::Prefetch:
        dispatch();
        break;
    case Awaiting::Nothing:
        break;
    }
}

void ServerThread::authorize()
{
    if (!accept()) {
        refuse();
        return;
    }
    Socket &socket = request.socket;
    if (socket.unreadBody() > 0) {
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

bool ServerThread::accept()
{
    const Configuration *c = context->config;
    switch (c->authMode) {
    case AuthMode::None:
        return true;
    case AuthMode::Password: {
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
    const Configuration *c = context->config;
    if (c->authMode == AuthMode::Basic) {
        const QByteArray body = "<h2>" + tr("Wrong password").toUtf8() + "</h2>";
        if (!response)
            response = new Response(&request);
        response->contentType = "text/xml; charset=\"utf-8\"";
        const QByteArray extra = "WWW-Authenticate: Basic realm=\"Private Area\"\r\n";
        response->sendHeader("401 Authorization Required", body.size(), &extra);
        socket.write(body, true);
    } else if (request.type == HTTP_Request::Get || request.type == HTTP_Request::Post) {
        // The range asked for belongs to the refused file, not to the login page.
        request.rangeStart = request.rangeEnd = 0;
        request.rangeSuffix = false;
        // Only a folder page is answered with the page itself: a download tool must not store
        // the login page under the name of the file it asked for.
        struct stat status;
        const ShareRoot::Opened opened = request.singleFile ? ShareRoot::Opened() : context->share().open(request.path, O_PATH);
        const bool folderPage = opened.reached() && ::fstat(opened.fd.get(), &status) == 0 && S_ISDIR(status.st_mode);
        // An "HR" response is always an HTTP_Response.
        static_cast<HTTP_Response *>(responseFor(ResponseKind::File))
            ->sendLoginPage(folderPage ? "200 OK" : "403 Forbidden");
    } else {
        // Never the login page: a client must not take it for the success of a write.
        answer("403 Forbidden");
    }
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
    DispatchTable::call(responseFor(kind), method->call, &context->root, context->config);
}

Response *ServerThread::responseFor(ResponseKind kind)
{
    if (checkResponse(kind))
        return response;
    response = DispatchTable::create(kind, context->config, &request);
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
