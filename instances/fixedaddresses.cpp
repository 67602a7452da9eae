#include "instances/fixedaddresses.h"

#include <QHostAddress>

void FixedAddresses::set(const QStringList &ips)
{
    list.clear();
    for (const QString &ip : ips) {
        QNetworkAddressEntry entry;
        entry.setIp(QHostAddress(ip));
        entry.setPrefixLength(8);
        entry.setBroadcast(QHostAddress(QStringLiteral("127.255.255.255")));
        list.append(entry);
    }
}
