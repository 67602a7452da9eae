#include "server/transport.h"

qint64 Transport::sendFile(int, qint64 *, qint64)
{
    return Unsupported;
}
