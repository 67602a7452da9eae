#ifndef FIXEDADDRESSES_H
#define FIXEDADDRESSES_H

#include "instances/addresssource.h"

#include <QStringList>

// A fixed list of loopback addresses in place of the machine's interfaces: the window then
// serves, and is visited, on this machine alone (tests, benchmarks, screenshots).
class FixedAddresses : public AddressSource
{
public:
    explicit FixedAddresses(const QStringList &ips = {}) { set(ips); }

    QList<QNetworkAddressEntry> entries() const override { return list; }
    void set(const QStringList &ips);

    QList<QNetworkAddressEntry> list;
};

#endif
