#include "testserver.h"

#include "httpclient.h"

#include <QDir>
#include <QFile>
#include <QNetworkAddressEntry>
#include <QTest>

const QByteArray TestServer::Secret = "outside the share: never sent";
const QByteArray TestServer::FavIcon = "icon bytes of n900";
const QByteArray TestServer::ClientArchive = "applet archive";

TestServer::TestServer()
{
    QDir(dir.path()).mkpath(QStringLiteral("share"));
    QDir(dir.path()).mkpath(QStringLiteral("outside"));
    QDir(dir.path()).mkpath(QStringLiteral("img"));
    writeFile(outsidePath(QStringLiteral("secret.txt")), Secret);
    writeFile(dir.path() + QStringLiteral("/secret.txt"), Secret);
    writeFile(dir.path() + QStringLiteral("/img/n900.ico"), FavIcon);
    writeFile(dir.path() + QStringLiteral("/img/KestruneClient.jar"), ClientArchive);
    Configuration::IconDir = (dir.path() + QStringLiteral("/img/")).toLatin1();
    Configuration::LangPath = buildDir() + QStringLiteral("/lang/C/");

    config.sslMode = CheckState::Off;
    config.keyFile = buildDir() + QStringLiteral("/tests/ssl.pem");
    auto *entry = new QNetworkAddressEntry;
    entry->setIp(QHostAddress(QHostAddress::LocalHost));
    server = new WebServer(entry, &config);
}

TestServer::~TestServer()
{
    delete server;
}

QString TestServer::buildDir()
{
    const QByteArray dir = qgetenv("TESSALY_BUILD_DIR");
    return dir.isEmpty() ? QStringLiteral(".") : QString::fromLocal8Bit(dir);
}

bool TestServer::start(const QString &root, bool singleFile)
{
    server->root = QFileInfo(root.isEmpty() ? path() : root);
    server->singleFile = singleFile;
    server->port = 0;
    server->configurationModifyed(&config);
    return server->start();
}

QString TestServer::path(const QString &relative) const
{
    return dir.path() + QStringLiteral("/share") + (relative.isEmpty() ? QString() : u'/' + relative);
}

QString TestServer::outsidePath(const QString &relative) const
{
    return dir.path() + QStringLiteral("/outside") + (relative.isEmpty() ? QString() : u'/' + relative);
}

void TestServer::writeFile(const QString &absolutePath, const QByteArray &bytes) const
{
    QDir().mkpath(QFileInfo(absolutePath).absolutePath());
    QFile file(absolutePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(absolutePath));
}

QByteArray TestServer::browserSession(qint64 id)
{
    const auto draw = server->clients.random;
    server->clients.random = [id] { return quint64(id) << 1; };
    HttpClient client;
    QByteArray cookie;
    if (client.connectTo(port())) {
        const QByteArray request = "GET /_i/KestruneClient.jar HTTP/1.1\r\n";
        cookie = client.exchange(request + "\r\n").header("Set-Cookie");
        cookie.truncate(cookie.indexOf(';') < 0 ? cookie.size() : cookie.indexOf(';'));
        server->clients.random = draw;
        if (client.exchange(request + "Cookie: " + cookie + "\r\n\r\n").body != ClientArchive)
            cookie.clear();
    }
    server->clients.random = draw;
    if (cookie != "ID=" + QByteArray::number(id))
        qWarning("the server did not issue the session %lld: %s", id, cookie.constData());
    return cookie;
}
