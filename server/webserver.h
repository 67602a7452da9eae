#ifndef WEBSERVER_H
#define WEBSERVER_H

#include "server/clientmanager.h"

#include <QFileInfo>
#include <QList>
#include <QTcpServer>

class Configuration;
class QNetworkAddressEntry;
class QSslCertificate;
class QSslKey;
class ServerThread;

// One listening endpoint: an interface address and a port, bound to one profile and one shared
// item (a folder or a single file). Counts the traffic of all its connections and stops serving
// when the profile's traffic limit is reached.
class WebServer : public QTcpServer
{
    Q_OBJECT

public:
    // Connections the system queues until they are accepted. Qt's default of 50 drops the
    // connections of a burst (a browser opening many, or many clients at once), which then
    // wait a second or more for the system to try again.
    static constexpr int ListenBacklog = 1024;

    explicit WebServer(QNetworkAddressEntry *entry);
    explicit WebServer(WebServer *other);
    ~WebServer() override;

    bool start();
    void stop();
    void stopAll();
    bool loadKeys(Configuration *c);
    void configurationModifyed(Configuration *c);

    // Every connection takes a file descriptor: raises the process's soft limit of open files to
    // its hard limit. Returns the limit now in force (-1 when it cannot be read).
    static qint64 raiseOpenFileLimit();

    QList<ServerThread *> threads;
    bool singleFile = false;
    QFileInfo root;
    QNetworkAddressEntry *address = nullptr;
    Configuration *config = nullptr;
    qint64 sentBytes = 0;
    qint64 receivedBytes = 0;
    quint16 port = 0;
    qint64 trafficLimit = 0;
    QSslKey *key = nullptr;
    QSslCertificate *certificate = nullptr;
    ClientManager clients;
    bool limitReached = false;

signals:
    void dataLimit(WebServer *server);
    // A request arrived from this client address.
    void clientConnected(const QString &address);
    void error(const QString &title, const QString &msg);

public slots:
    void dataLimit();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void init();
    void dropKeys();

    QString loadedKeyFile;
    QString loadedKeyPassword;
};

#endif
