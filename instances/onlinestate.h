#ifndef ONLINESTATE_H
#define ONLINESTATE_H

#include <QObject>
#include <QTimer>

// Whether the machine is online. Follows the system's reachability report where a backend for it
// loads; otherwise the machine counts as online while an interface that is up and not loopback
// has an address, looked at every few seconds.
class OnlineState : public QObject
{
    Q_OBJECT

public:
    explicit OnlineState(QObject *parent = nullptr);

    bool isOnline() const { return online; }

signals:
    void onlineStateChanged(bool online);

private:
    void setOnline(bool now);
    void poll();

    QTimer pollTimer;
    bool online = false;
};

#endif
