#ifndef ADDRESSSOURCE_H
#define ADDRESSSOURCE_H

#include <QList>
#include <QNetworkAddressEntry>

// Where the address table takes the machine's network addresses from. The application's source
// reads the interfaces of the system; a test installs one with a fixed list.
class AddressSource
{
public:
    virtual ~AddressSource() = default;

    static AddressSource *current();
    // `source` stays the caller's; nullptr brings back the system's interfaces.
    static void install(AddressSource *source);

    // The entries a server can listen on: the machine's addresses in its networks
    // (LocalAddresses::Scope::Network).
    virtual QList<QNetworkAddressEntry> entries() const;
};

#endif
