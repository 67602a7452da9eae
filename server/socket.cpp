#include "server/socket.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslKey>
#include <cerrno>

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {
// A body being saved is taken from the socket in pieces of up to this many bytes (all that Qt
// holds at a time) and each piece is handed to the file at once: a 2048-byte piece per write(2)
// made writing the file the larger part of receiving it.
constexpr qint64 SavePiece = Socket::ReadBufferLimit;
const char Continue[] = "HTTP/1.1 100 Continue\r\n\r\n";
}

int Socket::idleTimeout = Socket::IdleTimeoutMs;
int Socket::closeTimeout = Socket::CloseTimeoutMs;

Socket::Socket()
    : QSslSocket(nullptr)
{
    connect(this, &QIODevice::readyRead, this, &Socket::readyRead);
    connect(this, &QIODevice::readChannelFinished, this, &Socket::readChannelFinished);
    connect(this, &QAbstractSocket::disconnected, this, &Socket::peerGone);
    connect(this, &QIODevice::bytesWritten, this, &Socket::resumeSending);
    connect(this, &QSslSocket::encryptedBytesWritten, this, &Socket::resumeSending);
    startIdleTime();
    // Without a bound Qt reads whatever the peer sends while a request is being answered.
    setReadBufferSize(ReadBufferLimit);
}

Socket::~Socket()
{
    discard();
    blockSignals(true);
}

void Socket::discard()
{
    if (sink.isActive()) {
        closing = true;
        finishSaving(ReadFailed);
    }
    closing = true;
    if (sendSource) {
        sendSource->close();
        sendSource = nullptr;
    }
    retryDeadline.stop();
    closeDeadline.stop();
    idleDeadline.stop();
    if (state() != UnconnectedState)
        abort();
}

QList<QSslCipher> Socket::forwardSecretCiphers()
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

void Socket::startServerTls(const QSslKey &key, const QSslCertificate &certificate)
{
    setProtocol(QSsl::SecureProtocols);
    QSslConfiguration tls = sslConfiguration();
    tls.setCiphers(forwardSecretCiphers());
    setSslConfiguration(tls);
    setPrivateKey(key);
    setLocalCertificate(certificate);
    setPeerVerifyMode(QSslSocket::VerifyNone);
    // Left alone, a socket whose handshake failed stays open until the peer gives up.
    connect(this, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (!isEncrypted())
            abort();
    });
    startServerEncryption();
}

// ---------------------------------------------------------------- counting

void Socket::sentBytes(qint64 n)
{
    // Bytes leave only as fast as the peer takes them: it is alive.
    touch();
    if (traffic)
        traffic->countSent(n);
}

void Socket::receivedBytes(qint64 n)
{
    if (traffic)
        traffic->countReceived(n);
}

qint64 Socket::readSocket(char *into, qint64 max)
{
    if (max <= 0)
        return 0;
    if (!isOpen())
        return -1;
    const qint64 n = QIODevice::read(into, max);
    if (n > 0)
        receivedBytes(n);
    return n;
}

// ---------------------------------------------------------------- receiving the head

void Socket::readyRead()
{
    if (closing)
        return;
    if (sink.isActive()) {
        continueSaving();
    } else if (bodyWait != BodyWait::None) {
        continueWaiting();
    } else if (!framing.isHeadComplete()) {
        const qint64 n = readSocket(framing.room(), framing.roomSize());
        if (n < 0) {
            framing.releaseIfEmpty();
            closeConnection();
            return;
        }
        if (framing.headBytesAdded(int(n))) {
            // From here on the time runs for the body and the answer.
            startIdleTime();
            emit headerReady();
        } else if (!framing.holdsBuffer()) {
            // Only empty lines came: the connection still waits for a request.
            emit idle();
        }
    }
    if (limitIsReached())
        closeConnection();
}

void Socket::readChannelFinished()
{
    if (closing)
        return;
    if (bytesAvailable() > 0)
        readyRead();
    if (!framing.isHeadComplete() && !closing)
        emit headerReady();
}

void Socket::beginBody(qint64 length, bool expectContinue)
{
    framing.beginBody(length);
    continuePending = expectContinue && framing.unreadBody() > framing.heldBody();
}

void Socket::sendContinue()
{
    if (!continuePending)
        return;
    continuePending = false;
    // At once: the peer waits for it before it sends the body.
    const qint64 length = qint64(sizeof(Continue) - 1);
    if (push(Continue, length) == length)
        sentBytes(length);
    else
        closeConnection();
}

void Socket::collectBody()
{
    collected.clear();
    bodyWait = BodyWait::Collect;
    sendContinue();
    continueWaiting();
}

QByteArray Socket::takeBody()
{
    QByteArray body;
    body.swap(collected);
    return body;
}

void Socket::prefetchBody()
{
    bodyWait = BodyWait::Prefetch;
    sendContinue();
    continueWaiting();
}

void Socket::continueWaiting()
{
    if (bodyWait == BodyWait::Collect) {
        collected.append(read(unreadBody()));
        while (unreadBody() > 0) {
            char piece[BufferSize];
            const qint64 n = readSocket(piece, qMin<qint64>(BufferSize, unreadBody()));
            if (n < 0) {
                closeConnection();
                return;
            }
            if (n == 0)
                return;
            touch();
            collected.append(piece, n);
            framing.bodyBytesTaken(n);
        }
    } else {
        framing.prefetchRoom();
        const int want = int(qMin<qint64>(unreadBody(), BufferSize));
        while (framing.filled() < want) {
            const qint64 n = readSocket(framing.room(), want - framing.filled());
            if (n < 0) {
                closeConnection();
                return;
            }
            if (n == 0)
                return;
            touch();
            framing.prefetched(int(n));
        }
    }
    bodyWait = BodyWait::None;
    emit bodyReady();
}

void Socket::saveFile(QFileDevice *file, qint64 length)
{
    saveFile(file, QByteArray(), length);
}

void Socket::saveFile(QFileDevice *file, const QByteArray &delimiter, qint64 length)
{
    sink.start(file, delimiter, qBound<qint64>(0, length, unreadBody()));
    sendContinue();
    continueSaving();
}

void Socket::continueSaving()
{
    // Not the framing's buffer: the pieces are larger. Bytes of the body already in it go first.
    char received[SavePiece];
    while (sink.remaining() > 0) {
        QByteArrayView piece = framing.takeHeld(sink.remaining());
        if (piece.isEmpty()) {
            const qint64 n = readSocket(received, qMin<qint64>(SavePiece, sink.remaining()));
            if (n < 0) {
                finishSaving(ReadFailed);
                return;
            }
            if (n == 0)
                break;
            touch();
            piece = QByteArrayView(received, n);
        }
        framing.bodyBytesTaken(piece.size());
        if (!sink.write(piece)) {
            finishSaving(WriteFailed);
            return;
        }
    }
    if (sink.remaining() > 0)
        return; // the next readyRead() goes on
    finishSaving(sink.complete());
}

void Socket::finishSaving(int code)
{
    sink.stop();
    emit startReply(code);
}

// ---------------------------------------------------------------- the answer

void Socket::write(const QByteArray &data, bool end)
{
    if (!closing && !limitIsReached() && !data.isEmpty()) {
        // A head waits for what follows it, so that both leave in one packet: sent apart, the
        // second small write would wait for the peer's delayed acknowledgement of the first.
        if (!end && held.size() + data.size() <= BufferSize && canSendDirectly()) {
            held += data;
            sentBytes(data.size());
        } else {
            const qint64 n = push(data.constData(), data.size());
            if (n > 0)
                sentBytes(n);
            else if (n < 0)
                closeConnection();
        }
    }
    if (end)
        this->end();
}

bool Socket::canSendDirectly()
{
    return mode() == UnencryptedMode && socketDescriptor() >= 0 && bytesToWrite() == 0;
}

// On a plain connection with nothing queued the bytes (after a held head) go straight to the
// kernel, and only what it does not take at once waits in the socket's queue: an idle connection
// then holds no send buffer, and an answer leaves without waiting for a turn of the event loop.
// Returns the length, or -1 when the connection has failed.
qint64 Socket::push(const char *data, qint64 length, int flags)
{
    if (!canSendDirectly()) {
        if (!held.isEmpty()) {
            const bool queued = QIODevice::write(held) == held.size();
            held.clear();
            if (!queued)
                return -1;
        }
        return length == 0 || QIODevice::write(data, length) == length ? length : -1;
    }
    iovec parts[2] = {{const_cast<char *>(held.constData()), size_t(held.size())},
                      {const_cast<char *>(data), size_t(length)}};
    msghdr message = {};
    message.msg_iov = held.isEmpty() ? parts + 1 : parts;
    message.msg_iovlen = held.isEmpty() ? 1 : 2;
    ssize_t sent;
    do
        sent = ::sendmsg(int(socketDescriptor()), &message, MSG_NOSIGNAL | MSG_DONTWAIT | flags);
    while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            held.clear();
            return -1;
        }
        sent = 0;
    }
    // What the kernel did not take waits in the queue, in order.
    bool queued = true;
    if (sent < held.size()) {
        queued = QIODevice::write(held.constData() + sent, held.size() - sent) == held.size() - sent;
        sent = 0;
    } else {
        sent -= held.size();
    }
    held.clear();
    if (queued && sent < length)
        queued = QIODevice::write(data + sent, length - sent) == length - sent;
    return queued ? length : -1;
}

void Socket::flushHeld()
{
    if (!held.isEmpty() && push(nullptr, 0) < 0)
        closeConnection();
}

void Socket::sendFile(QFile *file, qint64 offset, qint64 count)
{
    if (offset > 0)
        file->seek(offset);
    sendSource = file;
    sendLeft = count > 0 ? count : file->size() - file->pos();
    if (sendLeft <= 0) {
        stopSending();
        end();
        return;
    }
    // A traffic limit stops a send after the piece in progress: that needs the pieces.
    const bool pieces = (traffic && traffic->isLimited()) || file->handle() < 0;
    sendingDirect = !pieces && sendLeft >= DirectSendFrom && mode() == UnencryptedMode
                    && socketDescriptor() >= 0;
    sendingBatches = !pieces && !sendingDirect;
    sendPos = file->pos();
    sendFile();
}

void Socket::sendFile()
{
    if (!sendSource)
        return;
    sendWaiting = false;
    retryDeadline.stop();
    if (sendingDirect && sendDirect())
        return;
    if (sendingBatches) {
        sendBatches();
        return;
    }
    for (;;) {
        if (closing || limitIsReached()) {
            // The body is cut short: the peer can only tell by the connection closing.
            stopSending();
            closeConnection();
            return;
        }
        if (bytesToWrite() > SendQueueLimit || encryptedBytesToWrite() > SendQueueLimit) {
            waitForRoom();
            return;
        }
        // Not `buffer`: it may already hold the next pipelined request.
        char piece[BufferSize];
        const qint64 n = sendSource->read(piece, qMin<qint64>(BufferSize, sendLeft));
        if (n <= 0 || push(piece, n) != n) {
            stopSending();
            closeConnection();
            return;
        }
        sentBytes(n);
        sendLeft -= n;
        if (sendLeft == 0) {
            stopSending();
            end();
            return;
        }
    }
}

// Each batch is read straight from the file, (encrypted and) handed to the kernel at once, so
// that the same few buffers serve the whole file; a small file goes out with its header in one
// write. Queuing up a megabyte of plain text first, and then as much cipher text, costs more in
// fresh memory than the encryption itself. Sending waits while the kernel holds back bytes; each
// turn of the event loop sends at most SendQueueLimit bytes.
void Socket::sendBatches()
{
    const int in = sendSource->handle();
    qint64 budget = SendQueueLimit;
    for (;;) {
        if (closing || limitIsReached()) {
            stopSending();
            closeConnection();
            return;
        }
        // A header alone is not worth a packet of its own: it goes with the first batch.
        if (bytesToWrite() + encryptedBytesToWrite() >= TlsBatch) {
            flush();
            if (bytesToWrite() > 0 || encryptedBytesToWrite() > 0) {
                waitForRoom();
                return;
            }
        }
        if (budget <= 0) {
            continueLater();
            return;
        }
        char batch[TlsBatch];
        const ssize_t n = ::pread(in, batch, size_t(qMin(TlsBatch, sendLeft)), off_t(sendPos));
        if (n <= 0 || push(batch, n) != n) {
            stopSending();
            closeConnection();
            return;
        }
        sendPos += n;
        sendLeft -= n;
        budget -= n;
        sentBytes(n);
        if (sendLeft == 0) {
            stopSending();
            end();
            return;
        }
        flush();
    }
}

void Socket::waitForRoom()
{
    // Resumed by bytesWritten(); the timer is the fallback.
    sendWaiting = true;
    retryDeadline.start(SendRetryMs);
}

// Sends the file with sendfile(2) while the kernel takes it; the file's bytes never pass through
// this process. Each turn of the event loop sends at most SendQueueLimit bytes, so that other
// connections get their turn. When the kernel's buffer is full, one piece goes through the
// socket's own queue: its bytesWritten() says when there is room again. Returns false when the
// file is to be sent in pieces after all (a descriptor that sendfile(2) does not take).
bool Socket::sendDirect()
{
    if (closing) {
        stopSending();
        closeConnection();
        return true;
    }
    // The header (and anything else) goes first; a held head joins the file's first bytes.
    if (!held.isEmpty() && push(nullptr, 0, MSG_MORE) < 0) {
        stopSending();
        closeConnection();
        return true;
    }
    if (bytesToWrite() > 0)
        flush();
    if (bytesToWrite() > 0) {
        waitForRoom();
        return true;
    }
    const int out = int(socketDescriptor());
    const int in = sendSource->handle();
    qint64 budget = SendQueueLimit;
    while (budget > 0) {
        off_t offset = off_t(sendPos);
        const ssize_t n = ::sendfile(out, in, &offset, size_t(qMin(sendLeft, budget)));
        if (n > 0) {
            sendPos += n;
            sendLeft -= n;
            budget -= n;
            sentBytes(n);
            if (sendLeft == 0) {
                stopSending();
                end();
                return true;
            }
            continue;
        }
        if (n == 0) {
            // The file ended before the length announced: only closing tells the peer.
            stopSending();
            closeConnection();
            return true;
        }
        if (errno == EINTR)
            continue;
        if (errno == EINVAL || errno == ENOSYS) {
            sendingDirect = false;
            sendSource->seek(sendPos);
            return false;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            stopSending();
            closeConnection();
            return true;
        }
        // The kernel is full: one piece through the queue, whose bytesWritten() resumes us.
        char piece[BufferSize];
        const ssize_t got = ::pread(in, piece, size_t(qMin<qint64>(BufferSize, sendLeft)), off_t(sendPos));
        if (got <= 0 || QIODevice::write(piece, got) != got) {
            stopSending();
            closeConnection();
            return true;
        }
        sendPos += got;
        sendLeft -= got;
        sentBytes(got);
        if (sendLeft == 0) {
            stopSending();
            end();
            return true;
        }
        waitForRoom();
        return true;
    }
    // More to send, and the kernel still takes it: go on after the other events.
    continueLater();
    return true;
}

void Socket::continueLater()
{
    if (continueQueued)
        return;
    continueQueued = true;
    QMetaObject::invokeMethod(this, [this] {
        continueQueued = false;
        if (!sendWaiting)
            sendFile();
    }, Qt::QueuedConnection);
}

void Socket::resumeSending()
{
    // The peer takes our bytes: it is alive.
    touch();
    if (sendWaiting && bytesToWrite() <= SendQueueLimit / 2
        && encryptedBytesToWrite() <= SendQueueLimit / 2)
        sendFile();
}

void Socket::stopSending()
{
    if (sendSource) {
        sendSource->close();
        sendSource = nullptr;
    }
    sendLeft = 0;
    sendPos = 0;
    sendingDirect = false;
    sendingBatches = false;
    sendWaiting = false;
    retryDeadline.stop();
}

void Socket::end()
{
    if (closing)
        return;
    // Hand the answer to the system now: a peer that has already shut down its sending side
    // makes the socket close at the next read notification, and what is still queued then is lost.
    flushHeld();
    if (closing)
        return;
    flush();
    if (!keepAlive || headOverflowed() || unreadBody() > 0 || limitIsReached()) {
        closeConnection();
        return;
    }
    // Bytes after this request's body belong to the next request.
    const bool pipelined = framing.nextRequest();
    bodyWait = BodyWait::None;
    continuePending = false;
    collected.clear();
    startIdleTime();
    // A next request already held is taken up from the event loop, so a flood of pipelined
    // requests cannot deepen the stack. Bytes still in the kernel announce themselves.
    if (pipelined || bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &Socket::readyRead, Qt::QueuedConnection);
    else
        emit idle();
}

void Socket::startIdleTime()
{
    idleDeadline.start(idleTimeout);
}

void Socket::touch()
{
    // After the close the idle time no longer runs.
    if (idleDeadline.isActive())
        idleDeadline.start(idleTimeout);
}

void Socket::deadlinePassed(DeadlineSweeper::Kind kind)
{
    switch (kind) {
    case DeadlineSweeper::Idle:
        closeConnection();
        break;
    case DeadlineSweeper::Close:
        abort();
        break;
    case DeadlineSweeper::Retry:
        sendFile();
        break;
    case DeadlineSweeper::KindCount:
        break;
    }
}

void Socket::setKeepAlive(bool on)
{
    if (on == keepAlive)
        return;
    keepAlive = on;
    setSocketOption(QAbstractSocket::KeepAliveOption, on ? 1 : 0);
}

void Socket::closeConnection()
{
    if (closing)
        return;
    if (!held.isEmpty())
        push(nullptr, 0);
    closing = true;
    idleDeadline.stop();
    stopSending();
    if (sink.isActive())
        finishSaving(ReadFailed);
    disconnectFromHost();
    if (state() != UnconnectedState)
        closeDeadline.start(closeTimeout);
}

void Socket::peerGone()
{
    if (sink.isActive() && !closing)
        continueSaving();
    closing = true;
    if (sink.isActive())
        finishSaving(ReadFailed);
    stopSending();
    idleDeadline.stop();
    closeDeadline.stop();
}
