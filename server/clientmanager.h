#ifndef CLIENTMANAGER_H
#define CLIENTMANAGER_H

#include <QHash>
#include <QObject>
#include <QTimer>
#include <functional>

class ClientData;
class Configuration;
class QNetworkCookie;

// The sessions of one listener. Ended sessions are swept once a minute after they have been
// idle for longer than the profile's session lifetime.
class ClientManager : public QObject
{
    Q_OBJECT

public:
    static constexpr int SweepIntervalMs = 60000;
    // Most sessions held. Every unknown id a client names makes a session, so a client naming
    // ever new ones would fill the memory until the sweep; at this number the sessions not in
    // use that ended longest ago make room.
    static constexpr int MaxSessions = 10000;

    explicit ClientManager(QObject *parent = nullptr);
    ~ClientManager() override;

    void configurationChanged(const Configuration *c);
    void startTimer();
    void stopTimer();
    bool isTimerActive() const { return timer.isActive(); }

    ClientData *getSession(qint64 id);
    // The registered session that a cookie names by exactly its id; null for a cookie that names
    // none (no cookie, not a well-formed id, or an id not registered). An id the server did not
    // issue is never taken on: the connection gets a fresh session instead.
    ClientData *getClientData(const QNetworkCookie *cookie);
    // The id a cookie value spells: decimal digits only, no sign, no leading zero, above 0 and
    // within 63 bits; 0 for any other value.
    static qint64 parseId(QByteArrayView value);
    // A browser logged in with `password` in the session `old`: a fresh session with a fresh id
    // takes its place, with its view and the password, and `old` loses its password. So an id
    // that someone else gave the browser never becomes a logged-in session.
    ClientData *renew(ClientData *old, const QString &password);
    // A session with a fresh id for a connection that presented none. It is registered, so that
    // the browser's other connections find it by its cookie, but it lasts only as long as its
    // connections unless a cookie names it.
    ClientData *newSession();
    // A connection bound to `session` ends.
    void release(ClientData *session);
    // A fresh session id: random, positive, 63 bits, not registered yet.
    qint64 newId() const;
    // Monotonic milliseconds; replaceable so that tests can move time.
    qint64 now() const { return clock(); }

    int lifetime = 600;
    int maxSessions = MaxSessions;
    QHash<qint64, ClientData *> sessions;
    std::function<qint64()> clock;
    // 64 random bits for new ids (the system's secure generator); replaceable for tests.
    std::function<quint64()> random;

public slots:
    void checkSessions();

private:
    // Removes the older half of the sessions that no connection uses.
    void makeRoom();

    QTimer timer;
};

#endif
