#include "server/transport.h"

qint64 Transport::sendFile(int, qint64 *, qint64)
{
    return Unsupported;
}

void Transport::tellReadable()
{
    if (listener)
        listener->transportReadable();
    else
        emit readable();
}

void Transport::tellWritable()
{
    if (listener)
        listener->transportWritable();
    else
        emit writable();
}
