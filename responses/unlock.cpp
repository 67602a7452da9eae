#include "responses/unlock.h"

UnLock::UnLock(HTTP_Request *request)
    : Dav(request)
{
}

void UnLock::reply()
{
    sendHeader("200 OK", 0);
}
