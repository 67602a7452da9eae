#include "instances/netrequest.h"

NetRequest::NetRequest(QObject *parent)
    : QObject(parent)
{
}

void NetRequest::getIP(ServerItem *)
{
}

void NetRequest::getDNS(ServerItem *)
{
}

void NetRequest::getQRcode(const QString &)
{
}

QString NetRequest::dnsDomain()
{
    return QString();
}
