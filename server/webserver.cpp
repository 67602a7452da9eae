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

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <limits>
#include <sys/resource.h>
#include <sys/socket.h>

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
    const ListenerSettings copied = other->settings();
    root = copied.share;
    singleFile = copied.singleFile;
    port = copied.port;
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
    acceptPause.setSingleShot(true);
    connect(&acceptPause, &QTimer::timeout, this, [this] {
        if (acceptor)
            acceptor->setReading(true);
    });
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
    pauseAccepting();
    acceptor.emplace(int(socketDescriptor()), [this] { acceptPending(); }, DescriptorWatch::Callback());
    acceptor->setReading(true);
    // The share is held open from the start.
    share();
    clients.startTimer();
    return true;
}

void WebServer::stopListening()
{
    // The watch goes before the descriptor it watches.
    acceptor.reset();
    acceptPause.stop();
    close();
}

void WebServer::stop()
{
    stopListening();
    clients.stopTimer();
    locks().clear();
}

void WebServer::stopAll()
{
    stopListening();
    clients.stopTimer();
    locks().clear();
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
    const KeyPair pair = KeyPair::load(c->keyFile, c->keyPassword);
    if (!pair.notMade.isEmpty()) {
        dropKeys();
        emit error(tr("HTTPS"), tr("The key pair %1 cannot be made (%2): the server speaks plain HTTP.")
                                    .arg(c->keyFile, pair.notMade));
        return false;
    }
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

void WebServer::configurationChanged(Configuration *c)
{
    clients.configurationChanged(c);
    setMaxPendingConnections(c->maxConnections);
    if (!c->isSSLmode())
        dropKeys();
    else if (!key || key->isNull() || loadedKeyFile != c->keyFile || loadedKeyPassword != c->keyPassword)
        loadKeys(c);
    traffic.limit = qint64(c->dataLimitKB) * 1024;
}

ListenerSettings WebServer::settings() const
{
    ListenerSettings s;
    s.share = root;
    s.singleFile = singleFile;
    s.address = *address;
    s.port = port;
    s.profile = config;
    return s;
}

void WebServer::apply(const ListenerSettings &s)
{
    root = s.share;
    singleFile = s.singleFile;
    *address = s.address;
    port = s.port;
    if (s.profile && s.profile != config) {
        configurationChanged(s.profile);
        useProfile(s.profile);
    }
}

void WebServer::useProfile(Configuration *c)
{
    Configuration::moveUse(config, c);
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

void WebServer::acceptPending()
{
    const int listening = acceptor->descriptor();
    for (int taken = 0; taken < AcceptBatch;) {
        const int descriptor = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (descriptor >= 0) {
            ++taken;
            incomingConnection(descriptor);
            if (!acceptor)
                return;
            continue;
        }
        switch (errno) {
        case EINTR:
        case ECONNABORTED:
        case EPROTO:
            // That connection is gone; the next may be there.
            continue;
        case EAGAIN:
            return;
        case EMFILE:
        case ENFILE:
            // Idle connections make room for the one that waits. Without any to close, taking
            // pauses a moment: connections wait in the system's queue, and nothing spins.
            if (closeIdleConnections() > 0)
                continue;
            break;
        default:
            break;
        }
        acceptor->setReading(false);
        acceptPause.start(AcceptPauseMs);
        return;
    }
}

int WebServer::closeIdleConnections()
{
    QList<Socket *> idle;
    for (ServerThread *thread : std::as_const(threads)) {
        if (thread->request.socket.isWaitingForRequest())
            idle.append(&thread->request.socket);
    }
    const int keep = config ? qMax(0, config->maxConnections) : 0;
    if (idle.size() <= keep)
        return 0;
    std::sort(idle.begin(), idle.end(),
              [](const Socket *a, const Socket *b) { return a->waitingSince() < b->waitingSince(); });
    const int closing = int(idle.size()) - keep;
    for (int i = 0; i < closing; ++i)
        idle.at(i)->closeConnection();
    return closing;
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
}

Transport *WebServer::transportFor(qintptr socketDescriptor) const
{
    if (!key)
        return new PlainTransport(socketDescriptor, nullptr, DescriptorWatch::Trigger::Edge);
    return new OpenSslTransport(socketDescriptor, *key, *certificate);
}
