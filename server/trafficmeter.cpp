#include "server/trafficmeter.h"

void TrafficMeter::countSent(qint64 n)
{
    sentBytes += n;
    check();
}

void TrafficMeter::countReceived(qint64 n)
{
    receivedBytes += n;
    check();
}

void TrafficMeter::check()
{
    if (limit < 1 || limitReached || sentBytes + receivedBytes < limit)
        return;
    limitReached = true;
    emit dataLimit();
}
