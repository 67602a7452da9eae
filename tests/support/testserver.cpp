#include "testserver.h"

#include "httpclient.h"
#include "requests.h"
#include "web/html_element_manager.h"

#include <QDir>
#include <QFile>
#include <QNetworkAddressEntry>

#include <fcntl.h>
#include <sys/stat.h>

const QByteArray TestServer::Secret = "outside the share: never sent";
const QByteArray TestServer::FavIcon = "icon bytes of n900";
const QByteArray TestServer::ClientArchive = "applet archive";

TestServer::TestServer()
{
    const QDir top(dir.path());
    for (const char *folder : {"share", "outside", "home", "img"})
        top.mkpath(QLatin1String(folder));
    share = QFileInfo(top.filePath(QStringLiteral("share"))).canonicalFilePath();
    writeFile(outsidePath(QStringLiteral("secret.txt")), Secret);
    writeFile(dir.path() + QStringLiteral("/secret.txt"), Secret);
    Configuration::setDirectories(homePath(), buildDir(), QStringLiteral("C"));
    const QDir icons(QString::fromLatin1(Configuration::IconDir));
    for (const QString &name : icons.entryList(QDir::Files))
        QFile::link(icons.filePath(name), top.filePath(QStringLiteral("img/") + name));
    QFile::remove(top.filePath(QStringLiteral("img/n900.ico")));
    writeFile(top.filePath(QStringLiteral("img/n900.ico")), FavIcon);
    writeFile(top.filePath(QStringLiteral("img/KestruneClient.jar")), ClientArchive);
    Configuration::IconDir = (top.filePath(QStringLiteral("img")) + u'/').toLatin1();
    config.sslMode = CheckState::Off;
    config.keyFile = buildDir() + QStringLiteral("/tests/ssl.pem");
    makeListener();
}

TestServer::~TestServer()
{
    server.reset();
    stopThumbnails();
}

QString TestServer::buildDir()
{
    const QByteArray dir = qgetenv("TESSALY_BUILD_DIR");
    return dir.isEmpty() ? QStringLiteral(".") : QString::fromLocal8Bit(dir);
}

QString TestServer::program()
{
    return (qEnvironmentVariableIsEmpty("TESSALY_BUILD_DIR") ? QStringLiteral("..") : buildDir()) + QStringLiteral("/tessaly");
}

void TestServer::makeListener()
{
    server.reset();
    auto *entry = new QNetworkAddressEntry;
    entry->setIp(QHostAddress(QHostAddress::LocalHost));
    server = std::make_unique<WebServer>(entry, &config);
    server->thumbnails = manager;
}

bool TestServer::start(const QString &root, bool singleFile, bool useTls)
{
    tls = useTls;
    if (tls) {
        config.sslMode = CheckState::On;
        if (!server->loadKeys(&config))
            return false;
    }
    server->root = QFileInfo(root.isEmpty() ? path() : root);
    server->singleFile = singleFile;
    server->port = 0;
    server->configurationChanged(&config);
    return server->start();
}

bool TestServer::restart()
{
    makeListener();
    QDir(path()).removeRecursively();
    QDir().mkpath(path());
    return start();
}

std::unique_ptr<WebServer> TestServer::copyListener() const
{
    return std::make_unique<WebServer>(server.get());
}

QByteArray TestServer::base() const
{
    return (tls ? "https://127.0.0.1:" : "http://127.0.0.1:") + QByteArray::number(port());
}

void TestServer::startThumbnails()
{
    if (manager)
        return;
    manager = new HTML_Element_Manager();
    HTML_Element_Manager::instance = manager;
    if (server)
        server->thumbnails = manager;
}

void TestServer::stopThumbnails()
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

HttpReply TestServer::request(const QByteArray &method, const QByteArray &target,
                              const QList<QByteArray> &headers, const QByteArray &body)
{
    QByteArray bytes = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const QByteArray &line : headers)
        bytes += line + "\r\n";
    if (!body.isEmpty() || method == "PUT")
        bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return exchange(bytes + "\r\n" + body);
}

HttpReply TestServer::exchange(const QByteArray &bytes, int timeoutMs)
{
    HttpClient client(port(), tls ? HttpClient::Tls : HttpClient::Raw);
    return client.exchange(bytes, timeoutMs);
}

QByteArray TestServer::rawExchange(const QByteArray &bytes)
{
    HttpClient client(port(), tls ? HttpClient::Tls : HttpClient::Raw);
    client.send(bytes);
    return client.readUntilClosed();
}

QString TestServer::path(const QString &relative) const
{
    return relative.isEmpty() ? share : share + u'/' + relative;
}

QString TestServer::outsidePath(const QString &relative) const
{
    return dir.path() + QStringLiteral("/outside") + (relative.isEmpty() ? QString() : u'/' + relative);
}

QString TestServer::homePath() const
{
    return dir.path() + QStringLiteral("/home");
}

void TestServer::writeFile(const QString &absolutePath, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(absolutePath).absolutePath());
    QFile file(absolutePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(absolutePath));
}

bool TestServer::write(const QString &relative, const QByteArray &bytes) const
{
    QFile file(path(relative));
    return QDir().mkpath(QFileInfo(file).absolutePath()) && file.open(QIODevice::WriteOnly)
           && file.write(bytes) == bytes.size();
}

QByteArray TestServer::readFile(const QString &absolutePath)
{
    QFile file(absolutePath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray TestServer::read(const QString &relative) const
{
    return readFile(path(relative));
}

bool TestServer::mkdir(const QString &relative) const
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

bool TestServer::setModified(const QString &relative, qint64 secondsSinceEpoch) const
{
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = time_t(secondsSinceEpoch);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, QFile::encodeName(path(relative)).constData(), times,
                       AT_SYMLINK_NOFOLLOW) == 0;
}

QByteArray TestServer::browserSession(qint64 id)
{
    const auto draw = server->clients.random;
    server->clients.random = [id] { return quint64(id) << 1; };
    HttpClient client(port());
    const QByteArray request = "GET /_i/KestruneClient.jar HTTP/1.1\r\n";
    QByteArray cookie = cookieOf(client.exchange(request + "\r\n"));
    server->clients.random = draw;
    if (client.exchange(request + "Cookie: " + cookie + "\r\n\r\n").body != ClientArchive)
        cookie.clear();
    if (cookie != "ID=" + QByteArray::number(id))
        qWarning("the server did not issue the session %lld: %s", id, cookie.constData());
    return cookie;
}
