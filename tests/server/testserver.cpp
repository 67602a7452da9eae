#include "testserver.h"

#include <QDir>
#include <QFile>
#include <QNetworkAddressEntry>
#include <QTest>

const QByteArray TestServer::Secret = "outside the share: never sent";
const QByteArray TestServer::FavIcon = "icon bytes of n900";

TestServer::TestServer()
{
    QDir(dir.path()).mkpath(QStringLiteral("share"));
    QDir(dir.path()).mkpath(QStringLiteral("outside"));
    QDir(dir.path()).mkpath(QStringLiteral("img"));
    writeFile(outsidePath(QStringLiteral("secret.txt")), Secret);
    writeFile(dir.path() + QStringLiteral("/secret.txt"), Secret);
    writeFile(dir.path() + QStringLiteral("/img/n900.ico"), FavIcon);
    Configuration::IconDir = (dir.path() + QStringLiteral("/img/")).toLatin1();
    Configuration::LangPath = buildDir() + QStringLiteral("/lang/C/");

    config.sslMode = 0;
    config.keyFile = buildDir() + QStringLiteral("/tests/ssl.pem");
    auto *entry = new QNetworkAddressEntry;
    entry->setIp(QHostAddress(QHostAddress::LocalHost));
    server = new WebServer(entry);
    if (server->config)
        --server->config->useCount;
    server->config = &config;
    ++config.useCount;
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
