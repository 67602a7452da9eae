#include "server/localaddresses.h"

QList<QNetworkAddressEntry> LocalAddresses::list(Scope scope)
{
    QList<QNetworkAddressEntry> found;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const QList<QNetworkAddressEntry> addresses = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : addresses) {
            if (isUsable(scope, iface.flags(), entry))
                found.append(entry);
        }
    }
    return found;
}

bool LocalAddresses::isUsable(Scope scope, QNetworkInterface::InterfaceFlags flags, const QNetworkAddressEntry &entry)
{
    if (!(flags & QNetworkInterface::IsUp))
        return false;
    const QHostAddress ip = entry.ip();
    if (scope == Scope::Everything)
        return !(ip.isLinkLocal() && ip.protocol() == QAbstractSocket::IPv6Protocol);
    // The loopback interface has a broadcast address too (127.255.255.255).
    return !(flags & QNetworkInterface::IsLoopBack) && !entry.broadcast().isNull() && !ip.isLoopback();
}
