#ifndef WEBSERVER_H
#define WEBSERVER_H

#include "server/descriptorwatch.h"
#include "server/servercontext.h"

#include <QFileInfo>
#include <QList>
#include <QNetworkAddressEntry>
#include <QTcpServer>
#include <QTimer>

#include <optional>

class Transport;

class Configuration;
class QSslCertificate;
class QSslKey;
class ServerThread;

// What one listener serves, where and how: the value the window's rows and the headless mode
// set, and that a copy of a listener takes whole.
struct ListenerSettings
{
    // The shared folder, or the shared file when `singleFile` is set.
    QFileInfo share;
    bool singleFile = false;
    QNetworkAddressEntry address;
    // 0: the system picks a free one at start().
    quint16 port = 0;
    // Not owned; the listener counts its use while it holds it.
    Configuration *profile = nullptr;
};

// One listening endpoint: an interface address and a port, bound to one profile and one shared
// item (a folder or a single file). It is the context of all its connections (ServerContext):
// they count their traffic in its meter, and it stops serving when the profile's traffic limit
// is reached.
class WebServer : public QTcpServer, public ServerContext
{
    Q_OBJECT

public:
    // Connections the system queues until they are accepted. Qt's default of 50 drops the
    // connections of a burst (a browser opening many, or many clients at once), which then
    // wait a second or more for the system to try again.
    static constexpr int ListenBacklog = 1024;
    // Connections taken per turn of the event loop; more wait for the next turn.
    static constexpr int AcceptBatch = 64;
    // Taking connections pauses this long when the process has no descriptor left for one.
    static constexpr int AcceptPauseMs = 100;

    // A listener on `entry` (taken over) using `profile`.
    WebServer(QNetworkAddressEntry *entry, Configuration *profile);
    // A second listener with the settings of `other`.
    explicit WebServer(WebServer *other);
    ~WebServer() override;

    ListenerSettings settings() const;
    // The one way to change what the listener serves and where. Another profile is taken with
    // its settings (configurationChanged) and its use moves to it. A running listener keeps its
    // address and port until it starts again.
    void apply(const ListenerSettings &s);

    bool start();
    void stop();
    void stopAll();
    bool loadKeys(Configuration *c);
    // The settings of the profile `c` changed (or it is bound newly): the listener takes them.
    void configurationChanged(Configuration *c);
    // Binds the listener to the profile `c`, moving its use from the profile it had.
    void useProfile(Configuration *c);

    // Every connection takes a file descriptor: raises the process's soft limit of open files to
    // its hard limit. Returns the limit now in force (-1 when it cannot be read).
    static qint64 raiseOpenFileLimit();
    // Closes the connections waiting for a request beyond the profile's maxConnections, those
    // that have waited longest first; returns how many.
    int closeIdleConnections();

    QList<ServerThread *> threads;
    QNetworkAddressEntry *address = nullptr;
    quint16 port = 0;
    QSslKey *key = nullptr;
    QSslCertificate *certificate = nullptr;

signals:
    void dataLimit(WebServer *server);
    // A request arrived from this client address.
    void clientConnected(const QString &address);
    void error(const QString &title, const QString &msg);

public slots:
    void dataLimit();

protected:
    void incomingConnection(qintptr socketDescriptor) override;
    void requestFrom(const QString &client) override { emit clientConnected(client); }

private:
    // The one place that chooses how a connection's bytes travel: plain, or encrypted with the
    // profile's key pair.
    Transport *transportFor(qintptr socketDescriptor) const;

    void init();
    void dropKeys();
    // Takes the connections the system has ready (QTcpServer's own loop would spin at the
    // descriptor limit, retrying the same failing accept).
    void acceptPending();
    void stopListening();

    // Watches the listening descriptor while the server listens.
    std::optional<DescriptorWatch> acceptor;
    QTimer acceptPause;

    QString loadedKeyFile;
    QString loadedKeyPassword;
};

#endif
