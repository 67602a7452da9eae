#include "instances/addresssource.h"

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
    QList<QNetworkAddressEntry> list;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        const QList<QNetworkAddressEntry> addresses = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : addresses) {
            if (isUsable(iface.flags(), entry))
                list.append(entry);
        }
    }
    return list;
}

bool AddressSource::isUsable(QNetworkInterface::InterfaceFlags flags, const QNetworkAddressEntry &entry)
{
    // The loopback interface has a broadcast address too (127.255.255.255).
    return (flags & QNetworkInterface::IsUp) && !(flags & QNetworkInterface::IsLoopBack)
        && !entry.broadcast().isNull() && !entry.ip().isLoopback();
}
