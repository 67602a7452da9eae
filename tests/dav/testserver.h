#ifndef TESTSERVER_H
#define TESTSERVER_H

#include "config/configuration.h"
#include "rawclient.h"
#include "server/webserver.h"

#include <QTemporaryDir>
#include <memory>

// A listener on 127.0.0.1 (a free port) sharing a fresh temporary folder, with a profile of its
// own that a test may change between requests.
class TestServer
{
public:
    TestServer();
    ~TestServer();

    bool start(bool tls = false);
    quint16 port() const { return server ? server->serverPort() : 0; }
    // "http://127.0.0.1:PORT" (https with TLS), without a trailing slash.
    QByteArray base() const;

    // Sends one request on a fresh connection and returns the answer.
    Reply request(const QByteArray &method, const QByteArray &target,
                  const QList<QByteArray> &headers = {}, const QByteArray &body = QByteArray());
    // The raw bytes a request gets before the server closes the connection.
    QByteArray rawExchange(const QByteArray &bytes);

    // Files of the share, by path relative to it.
    QString path(const QString &relative) const;
    bool write(const QString &relative, const QByteArray &content);
    QByteArray read(const QString &relative) const;
    bool mkdir(const QString &relative);
    bool exists(const QString &relative) const;
    // Sets the modification time of a file or folder (not following a link).
    bool setModified(const QString &relative, qint64 secondsSinceEpoch);
    // Names in a folder of the share (hidden ones too), sorted.
    QStringList names(const QString &relative = QString()) const;

    QTemporaryDir dir;
    QString share;
    Configuration config;
    std::unique_ptr<WebServer> server;
    bool tls = false;
};

#endif
