#include "server/qssltransport.h"

#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>

QSslTransport::QSslTransport(qintptr descriptor, const QSslKey &key, const QSslCertificate &certificate,
                             qint64 readAhead, int closeTimeoutMs, QObject *parent)
    : Transport(parent)
    , socket(new QSslSocket(this))
    , closeTimeout(closeTimeoutMs)
{
    // Unbuffered: the connection reads into its own small buffer, so that an idle connection
    // does not also keep a read buffer of Qt's own.
    if (!socket->setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState,
                                     QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        delete socket;
        socket = nullptr;
        return;
    }
    // Without a bound Qt reads whatever the peer sends while a request is being answered.
    socket->setReadBufferSize(readAhead);
    connect(socket, &QIODevice::readyRead, this, &QSslTransport::announceReadable);
    connect(socket, &QIODevice::readChannelFinished, this, &QSslTransport::announceReadable);
    connect(socket, &QAbstractSocket::disconnected, this, &QSslTransport::announceReadable);
    connect(socket, &QIODevice::bytesWritten, this, &QSslTransport::bytesLeft);
    connect(socket, &QSslSocket::encryptedBytesWritten, this, &QSslTransport::bytesLeft);

    socket->setProtocol(QSsl::SecureProtocols);
    QSslConfiguration tls = socket->sslConfiguration();
    tls.setCiphers(forwardSecretCiphers());
    socket->setSslConfiguration(tls);
    socket->setPrivateKey(key);
    socket->setLocalCertificate(certificate);
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    // Left alone, a socket whose handshake failed stays open until the peer gives up.
    connect(socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (socket && !socket->isEncrypted())
            socket->abort();
    });
    socket->startServerEncryption();
}

QSslTransport::~QSslTransport()
{
    if (socket)
        socket->abort();
}

QList<QSslCipher> QSslTransport::forwardSecretCiphers()
{
    // Key exchange by ephemeral (EC)DH keeps recorded traffic closed even to someone who later
    // gets the key; TLS 1.3 suites always exchange so ("any"). Plain RSA and anonymous suites
    // are never offered.
    static const QList<QSslCipher> ciphers = [] {
        QList<QSslCipher> kept;
        for (const QSslCipher &cipher : QSslConfiguration::supportedCiphers()) {
            const QString exchange = cipher.keyExchangeMethod();
            const bool ephemeral = exchange == QLatin1String("ECDH") || exchange == QLatin1String("DH")
                                   || exchange == QLatin1String("any");
            if (ephemeral && cipher.authenticationMethod() != QLatin1String("None"))
                kept.append(cipher);
        }
        return kept;
    }();
    return ciphers;
}

bool QSslTransport::isOpen() const
{
    return socket && socket->state() == QAbstractSocket::ConnectedState;
}

bool QSslTransport::isEncrypted() const
{
    return socket && socket->isEncrypted();
}

qint64 QSslTransport::read(char *into, qint64 max)
{
    if (!socket)
        return Failed;
    const qint64 n = max > 0 ? socket->read(into, max) : 0;
    if (n > 0)
        return n;
    // Decrypted bytes are handed out before the close counts.
    return isOpen() ? 0 : Failed;
}

qint64 QSslTransport::held() const
{
    return socket->bytesToWrite() + socket->encryptedBytesToWrite();
}

qint64 QSslTransport::write(const QByteArrayView *parts, int count, bool)
{
    if (!isOpen())
        return Failed;
    qint64 room = Room - held();
    qint64 taken = 0;
    for (int i = 0; i < count && room > 0; ++i) {
        const qint64 n = qMin<qint64>(room, parts[i].size());
        if (n <= 0)
            continue;
        if (socket->write(parts[i].data(), n) != n)
            return Failed;
        taken += n;
        room -= n;
    }
    return taken;
}

void QSslTransport::setReading(bool on)
{
    reading = on;
    // What arrived while reading was off announces itself now.
    if (on && socket && (socket->bytesAvailable() > 0 || !isOpen()))
        announceReadable();
}

void QSslTransport::announceReadable()
{
    if (!reading || readableQueued)
        return;
    // From the event loop: a signal of the socket may come while the owner is in a call to it.
    readableQueued = true;
    QMetaObject::invokeMethod(this, [this] {
        readableQueued = false;
        if (reading)
            emit readable();
    }, Qt::QueuedConnection);
}

void QSslTransport::waitForRoom()
{
    roomWanted = true;
    if (socket && held() < Room)
        QMetaObject::invokeMethod(this, &QSslTransport::bytesLeft, Qt::QueuedConnection);
}

void QSslTransport::bytesLeft()
{
    if (!roomWanted || !socket || held() >= Room)
        return;
    roomWanted = false;
    emit writable();
}

void QSslTransport::close()
{
    if (!socket)
        return;
    // The socket goes on alone: it still sends what it holds, then its close alert.
    QSslSocket *closing = socket;
    socket = nullptr;
    closing->disconnect(this);
    closing->setParent(nullptr);
    connect(closing, &QAbstractSocket::disconnected, closing, &QObject::deleteLater);
    QTimer::singleShot(closeTimeout, closing, [closing] {
        closing->abort();
        closing->deleteLater();
    });
    closing->disconnectFromHost();
    if (closing->state() == QAbstractSocket::UnconnectedState)
        closing->deleteLater();
}

void QSslTransport::setKeepAlive(bool on)
{
    if (socket)
        socket->setSocketOption(QAbstractSocket::KeepAliveOption, on ? 1 : 0);
}

void QSslTransport::setSendBufferSize(int bytes)
{
    if (socket)
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, bytes);
}

QHostAddress QSslTransport::localAddress() const
{
    return socket ? socket->localAddress() : QHostAddress();
}

quint16 QSslTransport::localPort() const
{
    return socket ? socket->localPort() : 0;
}

QHostAddress QSslTransport::peerAddress() const
{
    return socket ? socket->peerAddress() : QHostAddress();
}
