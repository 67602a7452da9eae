#include "responses/unlock.h"

UnLock::UnLock(HTTP_Request *request)
    : Dav(request)
{
    setObjectName(QStringLiteral("UL"));
}

void UnLock::reply()
{
    sendHeader("200 OK", 0);
}
