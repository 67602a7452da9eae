#include "webfixture.h"

#include "server/webserver.h"
#include "web/html_element_manager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAddressEntry>

WebFixture::WebFixture()
{
    Configuration::setDirectories(home.path(), qEnvironmentVariable("TESSALY_BUILD_DIR"),
                                  QStringLiteral("C"));
    conf.maxConnections = 30;
}

WebFixture::~WebFixture()
{
    delete server;
    server = nullptr;
    stopThumbnails();
}

bool WebFixture::start()
{
    share = std::make_unique<QTemporaryDir>();
    sharePath = QFileInfo(share->path()).canonicalFilePath();
    QNetworkAddressEntry entry;
    entry.setIp(QHostAddress(QHostAddress::LocalHost));
    server = new WebServer(new QNetworkAddressEntry(entry), &conf);
    server->thumbnails = manager;
    server->root = QFileInfo(sharePath);
    server->port = 0;
    server->configurationModifyed(&conf);
    return server->start();
}

bool WebFixture::restart()
{
    delete server;
    server = nullptr;
    return start();
}

void WebFixture::startThumbnails()
{
    if (manager)
        return;
    manager = new HTML_Element_Manager();
    HTML_Element_Manager::instance = manager;
    if (server)
        server->thumbnails = manager;
}

void WebFixture::stopThumbnails()
{
    if (!manager)
        return;
    manager->clear();
    HTML_Element_Manager::instance = nullptr;
    if (server)
        server->thumbnails = nullptr;
    delete manager;
    manager = nullptr;
}

quint16 WebFixture::port() const
{
    return server->serverPort();
}

bool WebFixture::write(const QString &relative, const QByteArray &data) const
{
    QFile file(path(relative));
    QDir().mkpath(QFileInfo(file).absolutePath());
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

bool WebFixture::makeDir(const QString &relative) const
{
    return QDir().mkpath(path(relative));
}

QByteArray WebFixture::read(const QString &relative) const
{
    QFile file(path(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WebFixture::exists(const QString &relative) const
{
    const QFileInfo info(path(relative));
    return info.exists() || info.isSymLink();
}
