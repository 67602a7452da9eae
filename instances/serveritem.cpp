#include "instances/serveritem.h"

#include "config/configuration.h"
#include "instances/netrequest.h"
#include "server/serverurl.h"
#include "server/webserver.h"
#include "widgets/eventhandler.h"

#include <QDir>
#include <QNetworkAddressEntry>
#include <QSettings>

QIcon ServerItem::stopIcon;
QIcon ServerItem::playIcon;
QIcon ServerItem::confIcon;

ServerItem::Cell::~Cell()
{
    if (!owner)
        return;
    if (owner->configItem == this)
        owner->configItem = nullptr;
    if (owner->statusItem == this)
        owner->statusItem = nullptr;
}

ServerItem::ServerItem(QNetworkAddressEntry *entry)
    : webServer(new WebServer(entry, Configuration::getGlobalConfig()))
{
    init();
}

ServerItem::ServerItem(ServerItem *other)
    : webServer(new WebServer(other->webServer))
    , missing(other->missing)
{
    init();
}

ServerItem::~ServerItem()
{
    if (webServer->isListening()) {
        webServer->stop();
        update();
        emit changed(this);
    }
    for (Cell *cell : {configItem, statusItem}) {
        if (!cell)
            continue;
        cell->owner = nullptr;
        if (!cell->tableWidget())
            delete cell;
    }
    delete webServer;
}

void ServerItem::init()
{
    // The listener reports a key pair that does not load while the profile is applied below.
    if (EventHandler::eventHandler) {
        connect(webServer, &WebServer::clientConnected, EventHandler::eventHandler, &EventHandler::newConnection);
        connect(webServer, &WebServer::error, EventHandler::eventHandler, &EventHandler::msg);
    }
    configItem = new Cell(this);
    statusItem = new Cell(this);
    configurationChanged(webServer->config);
    dnsUpdated = false;
    publicReachable = false;

    const QBrush grey(Qt::lightGray);
    setSizeHint(QSize(260, 50));
    setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    setTextAlignment(Qt::AlignCenter);
    setForeground(QBrush(Qt::black));
    setBackground(grey);
    configItem->setSizeHint(QSize(170, 50));
    statusItem->setSizeHint(QSize(190, 50));
    for (Cell *cell : {configItem, statusItem}) {
        cell->setFlags(Qt::ItemIsEnabled);
        cell->setForeground(QBrush(Qt::blue));
        cell->setBackground(grey);
    }
    configItem->setIcon(confIcon);
    update();
}

bool ServerItem::isUsablePort(qint64 port)
{
    return port >= 1 && port <= 65535 && (port >= 1024 || Configuration::RootMode);
}

bool ServerItem::start()
{
    if (sharesNothing()) {
        if (EventHandler::eventHandler)
            EventHandler::eventHandler->msg(tr("Unable to start the server"),
                                            tr("Nothing is shared: %1 is gone.").arg(missing) + QLatin1Char('\n')
                                                + tr("Choose a folder or a file to share first (File, Select Folder)."));
        return false;
    }
    if (!webServer->start()) {
        if (EventHandler::eventHandler)
            EventHandler::eventHandler->msg(tr("Unable to start the server"),
                                            webServer->errorString() + QLatin1Char('\n')
                                                + webServer->address->ip().toString() + QLatin1Char(':')
                                                + QString::number(webServer->port));
        return false;
    }
    openAccessAsked = false;
    if (EventHandler::eventHandler)
        EventHandler::eventHandler->startTimer();
    emit changed(this);
    update();
    return true;
}

void ServerItem::stop()
{
    webServer->stop();
    update();
    emit changed(this);
}

void ServerItem::stopAll()
{
    webServer->stopAll();
}

void ServerItem::restart()
{
    webServer->stop();
    update();
    emit changed(this);
    start();
}

void ServerItem::setPort(int port)
{
    if (port == webServer->port)
        return;
    setListenerPort(port);
    if (webServer->isListening())
        restart();
    else
        update();
}

void ServerItem::update()
{
    setText(QString::fromLatin1(getUrl()));
    if (configItem)
        configItem->setText(webServer->config->profileName);
    if (statusItem) {
        statusItem->setText(QStringLiteral("%1KB").arg((webServer->traffic.sentBytes + webServer->traffic.receivedBytes) / 1000));
        statusItem->setIcon(webServer->isListening() ? stopIcon : playIcon);
    }
}

void ServerItem::setListenerPort(int port)
{
    ListenerSettings s = webServer->settings();
    s.port = quint16(port);
    webServer->apply(s);
}

void ServerItem::useProfile(Configuration *conf)
{
    if (conf == webServer->config) {
        webServer->configurationChanged(conf);
    } else {
        ListenerSettings s = webServer->settings();
        s.profile = conf;
        webServer->apply(s);
    }
    update();
}

void ServerItem::configurationChanged(Configuration *conf)
{
    webServer->configurationChanged(conf);
    if (!webServer->isListening()) {
        setListenerPort(conf->port);
    } else if (!Configuration::getGlobalConfig()->expertMode && conf->port != webServer->port) {
        setListenerPort(conf->port);
        restart();
    }
    update();
}

QByteArray ServerItem::getUrl() const
{
    return serverUrl(webServer->address->ip().toString(), webServer->port, webServer->key != nullptr).toLatin1();
}

QString ServerItem::getPublicURL() const
{
    if (publicAddress.isEmpty())
        return QString();
    return QString::fromLatin1(serverUrl(publicAddress, webServer->port, webServer->key != nullptr).toLatin1());
}

QString ServerItem::getDNS_URL() const
{
    if (!dnsUpdated)
        return QString();
    // The name updated is the global configuration's account (NetRequest::getDNS); without the
    // provider's domain there is no name to show.
    const QString domain = NetRequest::dnsDomain();
    if (domain.isEmpty())
        return QString();
    const QString host = Configuration::getGlobalConfig()->dnsUser + QLatin1Char('.') + domain;
    return QString::fromLatin1(serverUrl(host, webServer->port, webServer->key != nullptr).toLatin1());
}

void ServerItem::share(const QFileInfo &path, bool singleFile)
{
    ListenerSettings s = webServer->settings();
    s.share = path;
    s.singleFile = singleFile;
    webServer->apply(s);
    missing.clear();
}

bool ServerItem::sharesNothing() const
{
    return webServer->root.filePath().isEmpty();
}

void ServerItem::updatePublicNames()
{
    QStringList names;
    if (!publicAddress.isEmpty())
        names.append(publicAddress);
    const QString domain = NetRequest::dnsDomain();
    if (dnsUpdated && !domain.isEmpty())
        names.append(Configuration::getGlobalConfig()->dnsUser + QLatin1Char('.') + domain);
    webServer->publicNames = names;
}

void ServerItem::save(QSettings *settings, int index) const
{
    settings->beginGroup(QString::number(index));
    settings->setValue(QStringLiteral("port"), int(webServer->port));
    // A share that was gone stays the one stored: it is shared again once it is back.
    settings->setValue(QStringLiteral("file"), sharesNothing() ? missing : webServer->root.absoluteFilePath());
    settings->setValue(QStringLiteral("cnf"), webServer->config->profileName);
    settings->endGroup();
}

void ServerItem::restore(QSettings *settings, int index, int mode)
{
    settings->beginGroup(QString::number(index));
    Configuration *global = Configuration::getGlobalConfig();

    // In expert mode every row keeps the profile it was given; in simple mode every item runs on
    // the global profile, which the settings action edits.
    const QString name = global->expertMode ? settings->value(QStringLiteral("cnf")).toString()
                                            : global->profileName;
    for (Configuration *p : std::as_const(Configuration::confList)) {
        if (p->profileName == name) {
            if (p != webServer->config)
                useProfile(p);
            break;
        }
    }

    // A row without a stored share keeps the one it has (a new port shares what its row shares,
    // or nothing when its row does); a new row shares the home folder.
    const QString kept = !missing.isEmpty() ? missing
        : sharesNothing()                   ? QDir::homePath()
                                            : webServer->root.absoluteFilePath();
    const QFileInfo shared(settings->value(QStringLiteral("file"), kept).toString());
    if (shared.isReadable()) {
        share(shared, !shared.isDir());
    } else {
        // Gone (or not readable): the row shares nothing rather than something the owner did not
        // choose, until a folder or a file is chosen.
        share(QFileInfo(), false);
        missing = shared.filePath();
    }

    if (mode != 1) {
        bool ok = false;
        const qint64 stored = settings->value(QStringLiteral("port"), global->port).toLongLong(&ok);
        const int port = ok && isUsablePort(stored) ? int(stored) : global->port;
        if (port != webServer->port) {
            setListenerPort(port);
            if (webServer->isListening())
                restart();
            else
                update();
        }
    }
    settings->endGroup();
    update();
}
