#include "instances/onlinestate.h"

#include "instances/addresssource.h"

#include <QNetworkInformation>

namespace {

constexpr int PollInterval = 5000;

} // namespace

OnlineState::OnlineState(QObject *parent)
    : QObject(parent)
{
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        QNetworkInformation *info = QNetworkInformation::instance();
        online = info->reachability() == QNetworkInformation::Reachability::Online;
        connect(info, &QNetworkInformation::reachabilityChanged, this,
                [this](QNetworkInformation::Reachability now) {
                    setOnline(now == QNetworkInformation::Reachability::Online);
                });
        return;
    }
    online = !AddressSource::current()->entries().isEmpty();
    pollTimer.setInterval(PollInterval);
    connect(&pollTimer, &QTimer::timeout, this, &OnlineState::poll);
    pollTimer.start();
}

void OnlineState::poll()
{
    setOnline(!AddressSource::current()->entries().isEmpty());
}

void OnlineState::setOnline(bool now)
{
    if (now == online)
        return;
    online = now;
    emit onlineStateChanged(online);
}
