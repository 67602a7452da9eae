#include "server/clientmanager.h"

#include "config/configuration.h"
#include "server/clientdata.h"

#include <QElapsedTimer>
#include <QNetworkCookie>
#include <QRandomGenerator>

#include <algorithm>

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
    ClientData *session = sessions.value(id);
    if (session) {
        session->active = true;
        session->confirmed = true;
    }
    return session;
}

ClientData *ClientManager::getClientData(const QNetworkCookie *cookie)
{
    const qint64 id = cookie ? parseId(cookie->value()) : 0;
    return id ? getSession(id) : nullptr;
}

qint64 ClientManager::parseId(QByteArrayView value)
{
    // 18 digits cannot overflow; the ids drawn have up to 19.
    if (value.isEmpty() || value.size() > 19 || value.front() == '0')
        return 0;
    quint64 n = 0;
    for (const char c : value) {
        if (c < '0' || c > '9')
            return 0;
        n = n * 10 + quint64(c - '0');
    }
    // Nineteen digits may exceed 63 bits (or even wrap 64).
    if (value.size() == 19 && (value > QByteArrayView("9223372036854775807")))
        return 0;
    return qint64(n);
}

ClientData *ClientManager::renew(ClientData *old, const QString &password)
{
    ClientData *session = newSession();
    session->showList = old->showList;
    session->sortFlags = old->sortFlags;
    session->page = old->page;
    session->pageSize = old->pageSize;
    session->descending = old->descending;
    session->gridView = old->gridView;
    session->message = old->message;
    session->password = password;
    session->confirmed = true;
    old->password = QString();
    old->message.clear();
    return session;
}

ClientData *ClientManager::newSession()
{
    if (sessions.size() >= maxSessions)
        makeRoom();
    auto *session = new ClientData(newId());
    session->confirmed = false;
    sessions.insert(session->id, session);
    return session;
}

void ClientManager::release(ClientData *session)
{
    --session->bindings;
    session->end(now());
    if (!session->confirmed && session->bindings <= 0) {
        sessions.remove(session->id);
        delete session;
    }
}

qint64 ClientManager::newId() const
{
    for (;;) {
        const qint64 id = qint64(random() >> 1);
        if (id == 0)
            continue;
        if (!sessions.contains(id))
            return id;
    }
}

void ClientManager::makeRoom()
{
    QList<ClientData *> unused;
    for (ClientData *session : std::as_const(sessions)) {
        if (session->bindings <= 0)
            unused.append(session);
    }
    std::sort(unused.begin(), unused.end(), [](const ClientData *a, const ClientData *b) {
        return a->endTime < b->endTime;
    });
    // Half at once, so that a flood costs one sort per many new sessions.
    const qsizetype count = qMax<qsizetype>(1, unused.size() / 2);
    for (qsizetype i = 0; i < count && i < unused.size(); ++i) {
        sessions.remove(unused.at(i)->id);
        delete unused.at(i);
    }
}

void ClientManager::checkSessions()
{
    const qint64 t = now();
    for (auto it = sessions.begin(); it != sessions.end();) {
        ClientData *session = it.value();
        if (!session->active && session->bindings == 0 && (t - session->endTime) / 1000 > lifetime) {
            it = sessions.erase(it);
            delete session;
        } else {
            ++it;
        }
    }
}
