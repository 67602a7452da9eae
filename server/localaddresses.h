#ifndef LOCALADDRESSES_H
#define LOCALADDRESSES_H

#include <QList>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>

// The addresses of this machine a server can listen on, read from the interfaces that are up.
class LocalAddresses
{
public:
    enum class Scope {
        // The machine's addresses in its networks: IPv4 entries with a broadcast address, not on
        // the loopback interface. The window's address table lists these.
        Network,
        // Every address, loopback included, but IPv6 link-local ones (which need a scope to be
        // reached). The server without a window listens on these.
        Everything,
    };

    static QList<QNetworkAddressEntry> list(Scope scope);
    static bool isUsable(Scope scope, QNetworkInterface::InterfaceFlags flags, const QNetworkAddressEntry &entry);
};

#endif
