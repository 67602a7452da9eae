#include "server/socket.h"

#include "server/transport.h"

#include <QFile>

namespace {
// A body being saved is taken from the socket in pieces of up to this many bytes and each piece
// is handed to the file at once: a 2048-byte piece per write(2) made writing the file the larger
// part of receiving it.
constexpr qint64 SavePiece = Socket::ReadBufferLimit;
const char Continue[] = "HTTP/1.1 100 Continue\r\n\r\n";
}

int Socket::idleTimeout = Socket::IdleTimeoutMs;
int Socket::closeTimeout = Socket::CloseTimeoutMs;
int Socket::lingerTimeout = Socket::LingerTimeoutMs;

Socket::Socket()
{
    startIdleTime();
}

Socket::~Socket()
{
    discard();
    blockSignals(true);
}

bool Socket::attach(Transport *taken)
{
    transport.reset(taken);
    if (!taken || !taken->isOpen())
        return false;
    peer = taken->peerAddress();
    taken->setListener(this);
    reading = true;
    updateReading();
    return true;
}

void Socket::discard()
{
    if (sink.isActive()) {
        closing = true;
        finishSaving(ReadFailed);
    }
    closing = true;
    stopSending();
    closeDeadline.stop();
    idleDeadline.stop();
    ended = true;
    queue.clear();
    queueFrom = 0;
    transport.reset();
}

QHostAddress Socket::peerAddress() const
{
    // Unknown once the connection has ended.
    return ended ? QHostAddress() : peer;
}

QHostAddress Socket::localAddress() const
{
    return transport && !ended ? transport->localAddress() : QHostAddress();
}

QByteArray Socket::hostText(const QHostAddress &address)
{
    QHostAddress plain = address;
    plain.setScopeId(QString());
    // An IPv4 client of a listener on an IPv6 socket.
    bool v4 = false;
    const quint32 ipv4 = plain.toIPv4Address(&v4);
    return (v4 ? QHostAddress(ipv4).toString() : plain.toString()).toLatin1();
}

quint16 Socket::localPort() const
{
    return transport && !ended ? transport->localPort() : 0;
}

bool Socket::isEncrypted() const
{
    return transport && transport->isEncrypted();
}

void Socket::setSendBufferSize(int bytes)
{
    if (transport)
        transport->setSendBufferSize(bytes);
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
    if (!transport || ended)
        return -1;
    const qint64 n = transport->read(into, max);
    if (n > 0)
        receivedBytes(n);
    return n < 0 ? -1 : n;
}

void Socket::tellHeaderReady()
{
    if (handler)
        handler->headArrived();
}

void Socket::tellBodyReady()
{
    if (handler)
        handler->bodyArrived();
}

void Socket::tellIdle()
{
    if (handler)
        handler->becameIdle();
}

// ---------------------------------------------------------------- receiving the head

void Socket::readyRead()
{
    if (lingering) {
        discardInput();
        return;
    }
    if (closing)
        return;
    if (sink.isActive()) {
        continueSaving();
    } else if (bodyWait != BodyWait::None) {
        continueWaiting();
    } else if (!framing.isHeadComplete()) {
        for (;;) {
            const int room = framing.roomSize();
            const qint64 n = readSocket(framing.room(), room);
            // After the peer's close, a request it sent before still counts.
            if (n < 0 && !(framing.filled() > 0 && framing.headBytesAdded(0))) {
                framing.releaseIfEmpty();
                readFinished();
                return;
            }
            if (n < 0 || framing.headBytesAdded(int(n))) {
                // From here on the time runs for the body and the answer.
                startIdleTime();
                updateReading();
                tellHeaderReady();
                break;
            }
            if (!framing.holdsBuffer()) {
                // Only empty lines came: the connection still waits for a request.
                tellIdle();
                break;
            }
            // A read that filled the room may have left bytes behind (the buffer grew).
            if (n < room)
                break;
        }
    }
    if (limitIsReached())
        closeConnection();
    updateReading();
}

void Socket::readFinished()
{
    if (closing)
        return;
    // A head cut short by the close is not answered: the handler sees the connection closing.
    if (sink.isActive()) {
        shutDown();
        return;
    }
    closing = true;
    if (!framing.isHeadComplete())
        tellHeaderReady();
    shutDown();
}

void Socket::updateReading()
{
    const bool consuming = lingering || (!closing && (sink.isActive() || bodyWait != BodyWait::None
                                                      || !framing.isHeadComplete()));
    if (consuming == reading || !transport)
        return;
    reading = consuming;
    transport->setReading(consuming);
}

void Socket::beginBody(qint64 length, bool expectContinue, bool chunked)
{
    framing.beginBody(length, chunked);
    // Unless the whole body came with the head.
    continuePending = expectContinue && framing.bodyPending() && framing.unreadBody() != framing.heldBody();
}

void Socket::sendContinue()
{
    if (!continuePending)
        return;
    continuePending = false;
    // At once: the peer waits for it before it sends the body.
    const qint64 length = qint64(sizeof(Continue) - 1);
    if (push(Continue, length, false) == length)
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
        char piece[BufferSize];
        for (;;) {
            QByteArrayView bytes;
            const qint64 n = nextBodyPiece(piece, BufferSize, &bytes);
            if (n == BodyBroken) {
                failBody();
                return;
            }
            if (n < 0) {
                readFinished();
                return;
            }
            if (n == 0) {
                if (framing.bodyPending())
                    return;
                break;
            }
            collected.append(bytes);
            // Only chunks can grow past what was allowed for; a declared length was checked.
            if (collected.size() > MaxCollectedBody) {
                failBody();
                return;
            }
        }
    } else {
        // Until the whole body is held, or as much of it as the buffer holds.
        for (;;) {
            if (framing.bodyMalformed()) {
                failBody();
                return;
            }
            const qint64 unread = framing.unreadBody();
            if (unread >= 0 && framing.heldBody() >= unread)
                break;
            char *to = framing.bodyRoom();
            qint64 room = framing.roomSize();
            if (room == 0)
                break;
            // Not past a declared body: what follows it is the next request.
            if (unread >= 0)
                room = qMin(room, unread - framing.heldBody());
            const qint64 n = readSocket(to, room);
            if (n < 0) {
                readFinished();
                return;
            }
            if (n == 0)
                return;
            touch();
            framing.bodyBytesAdded(int(n));
        }
    }
    bodyWait = BodyWait::None;
    updateReading();
    tellBodyReady();
}

void Socket::saveFile(QFileDevice *file, qint64 length)
{
    saveFile(file, QByteArray(), length);
}

void Socket::saveFile(QFileDevice *file, const QByteArray &delimiter, qint64 length, BodySink::Parts *parts)
{
    const qint64 unread = framing.unreadBody();
    // Below 0: to the end of the body, whether its length is known or not.
    const qint64 save = length < 0 ? unread : unread < 0 ? length : qMin(length, unread);
    sink.start(file, delimiter, save, parts);
    sendContinue();
    continueSaving();
}

// The next piece of the body, at most `max` bytes: bytes held in the buffer first, else bytes read
// now: into `scratch` (chunks decoded in place) while the body or the current chunk goes on, into
// the buffer where the size line of a chunk comes first, so that whatever follows the last chunk
// stays there for the next request. Returns its length; 0 when no body byte is there now or the body has ended; -1
// when the connection has ended; BodyBroken when the chunks broke their framing.
qint64 Socket::nextBodyPiece(char *scratch, qint64 max, QByteArrayView *piece)
{
    for (;;) {
        *piece = framing.takeHeld(max);
        if (!piece->isEmpty())
            return piece->size();
        if (framing.bodyMalformed())
            return BodyBroken;
        if (!framing.bodyPending())
            return 0;
        const qint64 ahead = framing.bodyBytesAhead();
        if (ahead > 0) {
            const qint64 n = readSocket(scratch, qMin(max, ahead));
            if (n <= 0)
                return n;
            touch();
            const qint64 body = framing.bodyBytesTaken(scratch, n);
            if (body == 0)
                continue;
            *piece = QByteArrayView(scratch, body);
            return body;
        }
        if (!framing.isChunked())
            return 0;
        char *to = framing.bodyRoom();
        const qint64 n = readSocket(to, framing.roomSize());
        if (n <= 0)
            return n;
        touch();
        framing.bodyBytesAdded(int(n));
    }
}

void Socket::continueSaving()
{
    // Not the framing's buffer: the pieces are larger. Bytes of the body already in it go first.
    char received[SavePiece];
    while (sink.remaining() != 0) {
        // Under a traffic limit in small pieces, so that the limit stops the upload soon.
        qint64 most = traffic && traffic->isLimited() ? BufferSize : SavePiece;
        if (sink.remaining() > 0)
            most = qMin(most, sink.remaining());
        QByteArrayView piece;
        const qint64 n = nextBodyPiece(received, most, &piece);
        if (n == BodyBroken) {
            failBody();
            return;
        }
        if (n < 0) {
            readFinished();
            return;
        }
        if (n == 0) {
            // The last chunk has come.
            if (!framing.bodyPending())
                break;
            updateReading(); // the next readyRead() goes on
            return;
        }
        if (!sink.write(piece)) {
            finishSaving(WriteFailed);
            return;
        }
    }
    finishSaving(sink.complete());
}

void Socket::failBody()
{
    bodyWait = BodyWait::None;
    if (handler)
        handler->bodyFailed();
    closeConnection();
}

void Socket::finishSaving(int code)
{
    sink.stop();
    updateReading();
    emit startReply(code);
}

// ---------------------------------------------------------------- the answer

void Socket::write(const QByteArray &data, bool end)
{
    if (!closing && !limitIsReached() && !data.isEmpty()) {
        // A head waits for what follows it, so that both leave in one packet: sent apart, the
        // second small write would wait for the peer's delayed acknowledgement of the first.
        if (!end && held.size() + data.size() <= BufferSize && bytesQueued() == 0) {
            held += data;
            sentBytes(data.size());
        } else {
            const qint64 n = push(data.constData(), data.size(), false);
            if (n > 0)
                sentBytes(n);
            else if (n < 0)
                closeConnection();
        }
    }
    if (end)
        this->end();
}

// With nothing queued the bytes (after a held head) go straight to the transport, and only what
// it does not take at once waits in the queue: an idle connection then holds no send buffer, and
// an answer leaves without waiting for a turn of the event loop. Returns the length, or -1 when
// the connection has failed.
qint64 Socket::push(const char *data, qint64 length, bool more)
{
    if (!transport || ended) {
        held.clear();
        return -1;
    }
    const QByteArrayView bytes(data, length);
    if (bytesQueued() > 0) {
        queue += held;
        queue += bytes;
        held.clear();
        return length;
    }
    const QByteArrayView parts[2] = {held, bytes};
    const qint64 sent = held.size() + length == 0 ? 0 : transport->write(parts, 2, more);
    if (sent < 0) {
        held.clear();
        return -1;
    }
    // What the transport did not take waits in the queue, in order.
    if (sent < held.size()) {
        queue = held.sliced(sent);
        queue += bytes;
    } else if (sent - held.size() < length) {
        queue = bytes.sliced(sent - held.size()).toByteArray();
    }
    held.clear();
    if (bytesQueued() > 0)
        transport->waitForRoom();
    return length;
}

void Socket::flushHeld()
{
    if (!held.isEmpty() && push(nullptr, 0, false) < 0)
        closeConnection();
}

void Socket::sendQueued()
{
    if (ended)
        return;
    while (bytesQueued() > 0) {
        const qint64 n = transport->write(QByteArrayView(queue).sliced(queueFrom));
        if (n < 0) {
            shutDown();
            return;
        }
        if (n == 0)
            break;
        // The peer takes our bytes: it is alive.
        touch();
        queueFrom += n;
    }
    if (bytesQueued() == 0) {
        queue.clear();
        queueFrom = 0;
    } else {
        // The sent bytes leave the queue's front before they outweigh the rest.
        if (queueFrom > queue.size() / 2) {
            queue.remove(0, queueFrom);
            queueFrom = 0;
        }
        transport->waitForRoom();
    }
    if (closing) {
        if (bytesQueued() == 0)
            finishClose();
        return;
    }
    if (sendWaiting && bytesQueued() <= SendQueueLimit / 2)
        sendFile();
    if (producerWaiting && bytesQueued() <= ProducedQueueLimit / 2) {
        producerWaiting = false;
        produceNext();
    }
}

void Socket::sendProduced(Producer *from)
{
    producer = from;
    producerWaiting = false;
    produceNext();
}

void Socket::produceNext()
{
    // A part of a file still going out comes first.
    if (!producer || closing || sender.isActive())
        return;
    if (limitIsReached()) {
        // Cut short: only closing the connection tells the peer.
        closeConnection();
        return;
    }
    QByteArray piece;
    const bool more = producer->produce(&piece);
    if (!more)
        producer = nullptr;
    write(piece, !more);
    if (!producer || closing)
        return;
    if (sender.isActive()) {
        // A part of a file follows the piece; the producer goes on when it is out.
        sendFile();
        return;
    }
    if (bytesQueued() > ProducedQueueLimit) {
        // Resumed when the client has taken half of it.
        producerWaiting = true;
        return;
    }
    produceLater();
}

void Socket::produceLater()
{
    if (produceQueued)
        return;
    produceQueued = true;
    QMetaObject::invokeMethod(this, [this] {
        produceQueued = false;
        if (!producerWaiting)
            produceNext();
    }, Qt::QueuedConnection);
}

void Socket::sendFile(QFile *file, qint64 offset, qint64 count)
{
    // A traffic limit stops a send after the piece in progress: that needs the pieces.
    const bool pieces = traffic && traffic->isLimited();
    if (!sender.start(file, offset, count, pieces, !isEncrypted())) {
        stopSending();
        end();
        return;
    }
    sendFile();
}

void Socket::sendPart(QFile *file, qint64 offset, qint64 count, FileSender::Tap *tap)
{
    const bool pieces = traffic && traffic->isLimited();
    sender.start(file, offset, count, pieces, !isEncrypted(), tap);
}

void Socket::sendFile()
{
    if (!sender.isActive())
        return;
    sendWaiting = false;
    retryDeadline.stop();
    switch (sender.send(*this)) {
    case FileSender::Step::Finished:
        if (producer) {
            // A part of a produced answer: the rest is made next.
            sender.stop();
            produceLater();
            break;
        }
        stopSending();
        end();
        break;
    case FileSender::Step::Wait:
        waitForRoom();
        break;
    case FileSender::Step::Later:
        continueLater();
        break;
    case FileSender::Step::Cut:
        stopSending();
        closeConnection();
        break;
    }
}

qint64 Socket::sendFile(int descriptor, qint64 *offset, qint64 count)
{
    if (!transport || ended)
        return Transport::Failed;
    const qint64 n = transport->sendFile(descriptor, offset, count);
    if (n == 0)
        transport->waitForRoom();
    return n;
}

void Socket::waitForRoom()
{
    // Resumed when the transport takes the queue; the deadline is the fallback.
    sendWaiting = true;
    retryDeadline.start(SendRetryMs);
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

void Socket::stopSending()
{
    producer = nullptr;
    producerWaiting = false;
    sender.stop();
    sendWaiting = false;
    retryDeadline.stop();
}

void Socket::end()
{
    if (closing)
        return;
    // Hand the answer to the transport now: bytes still held would wait for a next write.
    flushHeld();
    if (closing)
        return;
    if (!keepAlive || headOverflowed() || bodyPending() || limitIsReached()) {
        closeAfterAnswer();
        return;
    }
    // Bytes after this request's body belong to the next request.
    const bool pipelined = framing.nextRequest();
    bodyWait = BodyWait::None;
    continuePending = false;
    collected.clear();
    startIdleTime();
    // Bytes still in the kernel announce themselves once reading is on again.
    updateReading();
    // A next request already held is taken up from the event loop, so a flood of pipelined
    // requests cannot deepen the stack. A peer that has closed its side announces nothing more:
    // the next read finds the close.
    if (pipelined || !transport || !transport->isOpen())
        QMetaObject::invokeMethod(this, &Socket::readyRead, Qt::QueuedConnection);
    else
        tellIdle();
}

void Socket::startIdleTime()
{
    idleDeadline.start(idleTimeout);
    waitStart = DeadlineSweeper::now();
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
        shutDown();
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
    if (transport)
        transport->setKeepAlive(on);
}

void Socket::closeConnection()
{
    if (closing)
        return;
    if (!held.isEmpty())
        push(nullptr, 0, false);
    closing = true;
    idleDeadline.stop();
    stopSending();
    if (sink.isActive())
        finishSaving(ReadFailed);
    updateReading();
    // The queued bytes go first; the transport closes when they are taken.
    if (bytesQueued() == 0 || !transport || ended)
        finishClose();
    else
        closeDeadline.start(closeTimeout);
}

void Socket::closeAfterAnswer()
{
    if (closing)
        return;
    // What the client may still send: the rest of the body, or as much as lingering takes of a
    // body of no known length (chunks, or after a refused head).
    const qint64 unread = framing.unreadBody();
    lingerLeft = !framing.bodyPending() ? 0
                 : unread < 0          ? LingerBytes
                                       : qMin(unread - framing.heldBody(), LingerBytes);
    linger = lingerLeft > 0;
    closeConnection();
}

void Socket::finishClose()
{
    if (lingering)
        return;
    if (!linger || ended || !transport || !transport->isOpen()) {
        shutDown();
        return;
    }
    linger = false;
    lingering = true;
    closeDeadline.start(lingerTimeout);
    transport->shutdownSending();
    updateReading();
    discardInput();
}

void Socket::discardInput()
{
    char scrap[SavePiece];
    while (lingerLeft > 0) {
        const qint64 n = readSocket(scrap, qMin<qint64>(lingerLeft, sizeof scrap));
        if (n < 0)
            break;
        if (n == 0)
            return;
        lingerLeft -= n;
    }
    shutDown();
}

void Socket::shutDown()
{
    if (ended)
        return;
    closing = true;
    if (sink.isActive())
        finishSaving(ReadFailed);
    stopSending();
    idleDeadline.stop();
    closeDeadline.stop();
    ended = true;
    lingering = false;
    // What is still queued is dropped; what the system holds it still sends.
    queue.clear();
    queueFrom = 0;
    held.clear();
    if (transport)
        transport->close();
    emit closed();
}
