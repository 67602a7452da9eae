#include "responses/unlock.h"

#include "responses/preconditions.h"
#include "server/http_request.h"
#include "server/lockmanager.h"
#include "server/servercontext.h"

UnLock::UnLock(HTTP_Request *request)
    : Dav(request)
{
}

void UnLock::reply()
{
    const QByteArray header = request->lockToken.trimmed();
    if (header.size() < 3 || !header.startsWith('<') || !header.endsWith('>')) {
        sendHeader("400 Bad Request", 0);
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
        sendHeader("409 Conflict", body.size());
        request->socket.write(body, true);
        return;
    }
    locks.remove(token);
    sendHeader("200 OK", 0);
}
