#include "instances/addresssource.h"

#include "server/localaddresses.h"

namespace {

AddressSource *installed = nullptr;

} // namespace

AddressSource *AddressSource::current()
{
    static AddressSource system;
    return installed ? installed : &system;
}

void AddressSource::install(AddressSource *source)
{
    installed = source;
}

QList<QNetworkAddressEntry> AddressSource::entries() const
{
    return LocalAddresses::list(LocalAddresses::Scope::Network);
}
