#ifndef TESTSERVER_H
#define TESTSERVER_H

#include "config/configuration.h"
#include "server/webserver.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A listener on 127.0.0.1 with a free port, its own profile and a temporary folder:
//   <tmp>/share/    the shared folder (or the folder of a shared single file)
//   <tmp>/outside/  files next to the share that no request may reach; secret.txt is one
//   <tmp>/img/      the icon folder (Configuration::IconDir), holding n900.ico and the client
//                   archive KestruneClient.jar
// The login page comes from the build's data folder (TESSALY_BUILD_DIR).
class TestServer
{
public:
    static const QByteArray Secret;
    static const QByteArray FavIcon;
    static const QByteArray ClientArchive;

    TestServer();
    ~TestServer();

    // Applies `config` and starts listening; `root` is the shared item (default: the share).
    bool start(const QString &root = QString(), bool singleFile = false);
    quint16 port() const { return server->serverPort(); }

    QString path(const QString &relative = QString()) const;        // inside the share
    QString outsidePath(const QString &relative = QString()) const; // next to the share
    void writeFile(const QString &absolutePath, const QByteArray &bytes) const;
    void put(const QString &relative, const QByteArray &bytes) const { writeFile(path(relative), bytes); }
    static QString buildDir();

    // Has the server issue the session `id` (its generator draws it) to a browser that presents
    // it back, as a browser keeps the cookie it was given, and returns that cookie ("ID=<id>").
    // Needs open or password-only access (the client archive is served without a login).
    QByteArray browserSession(qint64 id);

    QTemporaryDir dir;
    Configuration config;
    WebServer *server = nullptr;
};

#endif
