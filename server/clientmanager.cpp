#include "server/clientmanager.h"

#include "config/configuration.h"
#include "server/clientdata.h"

#include <QElapsedTimer>
#include <QNetworkCookie>
#include <QRandomGenerator>

ClientManager::ClientManager(QObject *parent)
    : QObject(parent)
{
    clock = [] {
        static QElapsedTimer since;
        if (!since.isValid())
            since.start();
        return since.elapsed();
    };
    random = [] { return QRandomGenerator::system()->generate64(); };
    timer.setInterval(SweepIntervalMs);
    connect(&timer, &QTimer::timeout, this, &ClientManager::checkSessions);
}

ClientManager::~ClientManager()
{
    timer.stop();
    qDeleteAll(sessions);
}

void ClientManager::configurationChanged(const Configuration *c)
{
    lifetime = c->sessionLifetime;
}

void ClientManager::startTimer()
{
    if (!timer.isActive())
        timer.start();
}

void ClientManager::stopTimer()
{
    timer.stop();
}

ClientData *ClientManager::getSession(qint64 id)
{
    for (ClientData *session : std::as_const(sessions)) {
        if (session->id == id) {
            session->active = true;
            return session;
        }
    }
    return nullptr;
}

ClientData *ClientManager::getClientData(const QNetworkCookie *cookie)
{
    if (!cookie)
        return nullptr;
    const qint64 id = cookie->value().toLongLong(); // 0 when not a number
    if (ClientData *session = getSession(id))
        return session;
    auto *session = new ClientData(id);
    sessions.append(session);
    return session;
}

qint64 ClientManager::newId() const
{
    for (;;) {
        const qint64 id = qint64(random() >> 1);
        if (id == 0)
            continue;
        bool taken = false;
        for (const ClientData *session : sessions)
            taken = taken || session->id == id;
        if (!taken)
            return id;
    }
}

void ClientManager::checkSessions()
{
    const qint64 t = now();
    const QList<ClientData *> snapshot = sessions;
    for (ClientData *session : snapshot) {
        if (!session->active && session->bindings == 0
            && (t - session->endTime) / 1000 > lifetime) {
            sessions.removeOne(session);
            delete session;
        }
    }
}
