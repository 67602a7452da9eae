#include "server/clientdata.h"

ClientData::ClientData(qint64 id)
    : id(id)
{
}

void ClientData::end(qint64 now)
{
    active = false;
    endTime = now;
}
