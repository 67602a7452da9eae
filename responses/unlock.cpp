#include "responses/unlock.h"

#include "responses/preconditions.h"
#include "server/http_request.h"
#include "server/lockmanager.h"
#include "server/servercontext.h"
#include "server/statusline.h"

UnLock::UnLock(HTTP_Request *request)
    : Dav(request)
{
}

void UnLock::reply()
{
    const QByteArray header = request->lockToken.trimmed();
    if (header.size() < 3 || !header.startsWith('<') || !header.endsWith('>')) {
        sendHeader(StatusLine::BadRequest, 0);
        return;
    }
    const QByteArray token = header.sliced(1, header.size() - 2);
    LockManager &locks = request->context->locks();
    const LockManager::Lock *lock = locks.find(token);
    if (!lock || !lock->covers(LockManager::normalized(request->path))
        || lock->principal != Preconditions::principal(*request, *request->context)) {
        QByteArray body;
        init(&body);
        body += "D:error xmlns:D=\"DAV:\"><D:lock-token-matches-request-uri/></D:error>";
        sendHeader(StatusLine::Conflict, body.size());
        request->socket.write(body, true);
        return;
    }
    locks.remove(token);
    sendHeader(StatusLine::Ok, 0);
}
