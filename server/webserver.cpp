#include "server/webserver.h"

#include "config/configuration.h"
#include "server/keypair.h"
#include "server/plaintransport.h"
#include "server/openssltransport.h"
#include "server/serverthread.h"

#include <QNetworkAddressEntry>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpSocket>

#include <csignal>
#include <limits>
#include <sys/resource.h>

WebServer::WebServer(QNetworkAddressEntry *entry, Configuration *profile)
    : address(entry)
{
    config = profile;
    init();
}

WebServer::WebServer(WebServer *other)
    : address(new QNetworkAddressEntry(*other->address))
{
    config = other->config;
    root = other->root;
    thumbnails = other->thumbnails;
    iconDir = other->iconDir;
    langPath = other->langPath;
    init();
}

void WebServer::init()
{
    // A peer that has gone makes writes fail with EPIPE, not end the process.
    ::signal(SIGPIPE, SIG_IGN);
    // A file that reaches the size limit of the process (ulimit -f) makes the write fail with
    // EFBIG, which the upload answers; it does not end the process.
    ::signal(SIGXFSZ, SIG_IGN);
    // Queued: the receivers may stop this server, which must not delete a handler whose code is
    // still on the stack.
    connect(&traffic, &TrafficMeter::dataLimit, this, qOverload<>(&WebServer::dataLimit), Qt::QueuedConnection);
    if (config) {
        ++config->useCount;
        if (config->isSSLmode())
            loadKeys(config);
    }
}

WebServer::~WebServer()
{
    if (config)
        --config->useCount;
    blockSignals(true);
    stopAll();
    delete address;
    dropKeys();
}

bool WebServer::start()
{
    traffic.limitReached = false;
    setListenBacklogSize(ListenBacklog);
    if (!listen(address->ip(), port))
        return false;
    // The share is held open from the start.
    share();
    clients.startTimer();
    return true;
}

void WebServer::stop()
{
    close();
    clients.stopTimer();
}

void WebServer::stopAll()
{
    close();
    clients.stopTimer();
    traffic.limitReached = true;
    while (!threads.isEmpty())
        delete threads.takeFirst();
}

void WebServer::dropKeys()
{
    delete key;
    delete certificate;
    key = nullptr;
    certificate = nullptr;
}

bool WebServer::loadKeys(Configuration *c)
{
    loadedKeyFile = c->keyFile;
    loadedKeyPassword = c->keyPassword;
    // The default key pair is made on this machine, for this user, the first time it is needed.
    QString reason;
    if (!KeyPair::provideDefault(c->keyFile, &reason)) {
        dropKeys();
        emit error(tr("HTTPS"), tr("The key pair %1 cannot be made (%2): the server speaks plain HTTP.")
                                    .arg(c->keyFile, reason));
        return false;
    }
    const KeyPair pair = KeyPair::read(c->keyFile, c->keyPassword);
    if (pair.isUsable()) {
        dropKeys();
        key = new QSslKey(pair.key);
        certificate = new QSslCertificate(pair.certificate);
        return true;
    }
    // A server that serves HTTPS already goes on with the pair it has: its clients keep
    // connecting while the profile names a file that does not load.
    if (key && !key->isNull() && certificate && !certificate->isNull()) {
        emit error(tr("HTTPS"), pair.problem() + QLatin1Char(' ') + tr("The server keeps its previous key pair."));
        return false;
    }
    dropKeys();
    if (!pair.opened) {
        emit error(tr("HTTPS"), pair.problem() + QLatin1Char(' ') + tr("The server speaks plain HTTP."));
        return false;
    }
    // What was read is installed all the same: connections then fail their handshake instead of
    // falling back to plain HTTP.
    key = new QSslKey(pair.key);
    certificate = new QSslCertificate(pair.certificate);
    emit error(tr("HTTPS"), pair.problem() + QLatin1Char(' ') + tr("Secure connections will fail."));
    return false;
}

void WebServer::configurationModifyed(Configuration *c)
{
    clients.configurationChanged(c);
    setMaxPendingConnections(c->maxConnections);
    if (!c->isSSLmode())
        dropKeys();
    else if (!key || key->isNull() || loadedKeyFile != c->keyFile || loadedKeyPassword != c->keyPassword)
        loadKeys(c);
    traffic.limit = qint64(c->dataLimitKB) * 1024;
}

void WebServer::useProfile(Configuration *c)
{
    if (c == config)
        return;
    if (config)
        --config->useCount;
    config = c;
    if (config)
        ++config->useCount;
}

qint64 WebServer::raiseOpenFileLimit()
{
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        const rlim_t before = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            limit.rlim_cur = before;
    }
    return limit.rlim_cur == RLIM_INFINITY ? std::numeric_limits<qint64>::max() : qint64(limit.rlim_cur);
}

void WebServer::dataLimit()
{
    emit dataLimit(this);
}

void WebServer::incomingConnection(qintptr socketDescriptor)
{
    if (traffic.isReached()) {
        QTcpSocket refused;
        if (refused.setSocketDescriptor(socketDescriptor))
            refused.abort();
        return;
    }
    // Every connection counts its bytes, also without a limit: one set while it is open counts
    // them too.
    auto *handler = new ServerThread(this, this);
    Socket &socket = handler->request.socket;
    if (!socket.attach(transportFor(socketDescriptor))) {
        delete handler;
        return;
    }
    socket.setKeepAlive(true);
    connect(&socket, &Socket::closed, handler, &QObject::deleteLater);
    threads.append(handler);
    connect(handler, &QObject::destroyed, this, [this, handler] { threads.removeOne(handler); });
    connect(handler, &ServerThread::error, this, &WebServer::error);
}

Transport *WebServer::transportFor(qintptr socketDescriptor) const
{
    if (!key)
        return new PlainTransport(socketDescriptor, nullptr, DescriptorWatch::Trigger::Edge);
    return new OpenSslTransport(socketDescriptor, *key, *certificate);
}
