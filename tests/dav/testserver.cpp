#include "testserver.h"

#include <QDir>
#include <QFile>
#include <QNetworkAddressEntry>

#include <fcntl.h>
#include <sys/stat.h>

TestServer::TestServer()
{
    share = dir.path() + QLatin1String("/share");
    QDir().mkpath(share);
}

TestServer::~TestServer()
{
    server.reset();
}

bool TestServer::start(bool useTls)
{
    tls = useTls;
    auto *entry = new QNetworkAddressEntry;
    entry->setIp(QHostAddress(QHostAddress::LocalHost));
    server = std::make_unique<WebServer>(entry, &config);
    if (tls) {
        config.sslMode = CheckState::On;
        config.keyFile = qEnvironmentVariable("TESSALY_BUILD_DIR") + QLatin1String("/tests/ssl.pem");
        if (!server->loadKeys(&config))
            return false;
    }
    server->root = QFileInfo(share);
    server->port = 0;
    server->configurationModifyed(&config);
    return server->start();
}

QByteArray TestServer::base() const
{
    return (tls ? "https://127.0.0.1:" : "http://127.0.0.1:") + QByteArray::number(port());
}

Reply TestServer::request(const QByteArray &method, const QByteArray &target,
                          const QList<QByteArray> &headers, const QByteArray &body)
{
    QByteArray bytes = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const QByteArray &line : headers)
        bytes += line + "\r\n";
    if (!body.isEmpty() || method == "PUT")
        bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    bytes += "\r\n" + body;
    RawClient client(port(), tls);
    client.send(bytes);
    return client.reply();
}

QByteArray TestServer::rawExchange(const QByteArray &bytes)
{
    RawClient client(port(), tls);
    client.send(bytes);
    return client.readUntilClosed();
}

QString TestServer::path(const QString &relative) const
{
    return relative.isEmpty() ? share : share + u'/' + relative;
}

bool TestServer::write(const QString &relative, const QByteArray &content)
{
    QFile file(path(relative));
    QDir().mkpath(QFileInfo(file).absolutePath());
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray TestServer::read(const QString &relative) const
{
    QFile file(path(relative));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool TestServer::mkdir(const QString &relative)
{
    return QDir().mkpath(path(relative));
}

bool TestServer::exists(const QString &relative) const
{
    const QFileInfo info(path(relative));
    return info.exists() || info.isSymLink();
}

QStringList TestServer::names(const QString &relative) const
{
    return QDir(path(relative)).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                          QDir::Name);
}

bool TestServer::setModified(const QString &relative, qint64 secondsSinceEpoch)
{
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = time_t(secondsSinceEpoch);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, QFile::encodeName(path(relative)).constData(), times,
                       AT_SYMLINK_NOFOLLOW) == 0;
}
