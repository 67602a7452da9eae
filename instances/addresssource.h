#ifndef ADDRESSSOURCE_H
#define ADDRESSSOURCE_H

#include <QList>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>

// Where the address table takes the machine's network addresses from. The application's source
// reads the interfaces of the system; a test installs one with a fixed list.
class AddressSource
{
public:
    virtual ~AddressSource() = default;

    static AddressSource *current();
    // `source` stays the caller's; nullptr brings back the system's interfaces.
    static void install(AddressSource *source);

    // The entries a server can listen on: those of interfaces that are up and not loopback,
    // with a broadcast address (IPv4).
    virtual QList<QNetworkAddressEntry> entries() const;

    static bool isUsable(QNetworkInterface::InterfaceFlags flags, const QNetworkAddressEntry &entry);
};

#endif
