#ifndef TESTSERVER_H
#define TESTSERVER_H

#include "config/configuration.h"
#include "httpclient.h"
#include "server/webserver.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class HTML_Element_Manager;

// A listener on 127.0.0.1 with a free port, its own profile and a temporary folder:
//   <tmp>/share/    the shared folder (or the folder of a shared single file)
//   <tmp>/outside/  files next to the share that no request may reach; secret.txt is one
//   <tmp>/home/     the home folder: the profile folder and the thumbnails
//   <tmp>/img/      the icon folder (Configuration::IconDir): the build's icons, with n900.ico
//                   and the client archive KestruneClient.jar replaced by known bytes
// The pages and translations come from the build's data folder (TESSALY_BUILD_DIR).
// This is the one place where tests make listeners.
class TestServer
{
public:
    static const QByteArray Secret;
    static const QByteArray FavIcon;
    static const QByteArray ClientArchive;

    TestServer();
    ~TestServer();

    // Applies `config` and starts listening; `root` is the shared item (default: the share).
    // With `tls` the listener speaks only HTTPS, with the build's test key pair.
    bool start(const QString &root = QString(), bool singleFile = false, bool tls = false);
    bool startTls() { return start(QString(), false, true); }
    // A new empty share and a new listener on it, started.
    bool restart();
    // A second listener made from the first, as the desktop application copies one.
    std::unique_ptr<WebServer> copyListener() const;
    quint16 port() const { return server ? server->serverPort() : 0; }
    // "http://127.0.0.1:PORT" (https with TLS), without a trailing slash.
    QByteArray base() const;

    // Thumbnails on: the "/_t/" prefix is served by a thumbnail manager of this server.
    void startThumbnails();
    void stopThumbnails();

    // Sends one request on a fresh connection and returns the answer: "Host: 127.0.0.1",
    // `headers`, and a Content-Length for a body (always for PUT).
    HttpReply request(const QByteArray &method, const QByteArray &target,
                      const QList<QByteArray> &headers = {}, const QByteArray &body = QByteArray());
    // Sends raw bytes on a fresh connection and returns the first answer.
    HttpReply exchange(const QByteArray &bytes, int timeoutMs = HttpClient::Timeout);
    // The raw bytes a request gets before the server closes the connection.
    QByteArray rawExchange(const QByteArray &bytes);

    QString path(const QString &relative = QString()) const;        // inside the share
    QString outsidePath(const QString &relative = QString()) const; // next to the share
    QString homePath() const;
    static void writeFile(const QString &absolutePath, const QByteArray &bytes);
    // Files of the share, by path relative to it.
    bool write(const QString &relative, const QByteArray &bytes) const;
    void put(const QString &relative, const QByteArray &bytes) const { writeFile(path(relative), bytes); }
    QByteArray read(const QString &relative) const;
    bool mkdir(const QString &relative) const;
    bool exists(const QString &relative) const; // a dangling link exists
    // Sets the modification time of a file or folder (not following a link).
    bool setModified(const QString &relative, qint64 secondsSinceEpoch) const;
    // Names in a folder of the share (hidden ones too), sorted.
    QStringList names(const QString &relative = QString()) const;
    static QByteArray readFile(const QString &absolutePath); // empty when unreadable
    static QString buildDir();
    // The program of the build, for the tests that run it.
    static QString program();

    // Has the server issue the session `id` (its generator draws it) to a browser that presents
    // it back, as a browser keeps the cookie it was given, and returns that cookie ("ID=<id>").
    // Needs open or password-only access (the client archive is served without a login).
    QByteArray browserSession(qint64 id);

    QTemporaryDir dir;
    QString share; // the share folder, every link resolved
    Configuration config;
    std::unique_ptr<WebServer> server;
    HTML_Element_Manager *manager = nullptr;
    bool tls = false;

private:
    // The one place where tests make a listener.
    void makeListener();
};

#endif
