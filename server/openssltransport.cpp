#include "server/openssltransport.h"

#include "server/plaintransport.h"
#include "server/tlscontext.h"

#include <QPointer>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

// The most a record carries: writes hand OpenSSL up to this much at a time, parts that are
// smaller gathered into one record.
constexpr int RecordSize = 16384;

PlainTransport *descriptorOf(BIO *bio)
{
    return static_cast<PlainTransport *>(BIO_get_data(bio));
}

int bioWrite(BIO *bio, const char *data, int length)
{
    BIO_clear_retry_flags(bio);
    const qint64 n = descriptorOf(bio)->write(QByteArrayView(data, length));
    if (n > 0)
        return int(n);
    if (n == 0)
        BIO_set_retry_write(bio);
    return -1;
}

int bioRead(BIO *bio, char *into, int max)
{
    BIO_clear_retry_flags(bio);
    const qint64 n = descriptorOf(bio)->read(into, max);
    if (n > 0)
        return int(n);
    if (n == 0) {
        BIO_set_retry_read(bio);
        return -1;
    }
    // The peer's close or a failed connection: the end of the stream either way.
    return 0;
}

long bioControl(BIO *, int command, long, void *)
{
    // Nothing is buffered here: a flush is done at once. Nothing else is known.
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO *bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

// OpenSSL's records go through the PlainTransport of the connection: no SIGPIPE (its writes say
// MSG_NOSIGNAL), and the read and write notifiers stay in one place.
BIO_METHOD *descriptorMethod()
{
    static BIO_METHOD *const method = [] {
        BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tessaly descriptor");
        BIO_meth_set_write(m, bioWrite);
        BIO_meth_set_read(m, bioRead);
        BIO_meth_set_ctrl(m, bioControl);
        BIO_meth_set_create(m, bioCreate);
        return m;
    }();
    return method;
}

} // namespace

OpenSslTransport::OpenSslTransport(qintptr descriptor, std::shared_ptr<const TlsContext> context, QObject *parent)
    : Transport(parent), context(std::move(context)), plain(new PlainTransport(descriptor, this))
{
    plain->setListener(this);
    if (!plain->isOpen() || !this->context || !this->context->isUsable()) {
        fail();
        return;
    }
    // The handshake's last flight, the session tickets and an answer leave one after the other:
    // without this each waits for the peer's delayed acknowledgement.
    const int on = 1;
    ::setsockopt(plain->descriptor(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ssl = SSL_new(this->context->handle());
    BIO *bio = ssl ? BIO_new(descriptorMethod()) : nullptr;
    if (!bio) {
        fail();
        return;
    }
    BIO_set_data(bio, plain);
    SSL_set_bio(ssl, bio, bio);
    SSL_set_accept_state(ssl);
    // The client speaks first.
    handshakeWait = Wait::Read;
    listen();
}

OpenSslTransport::OpenSslTransport(qintptr descriptor, const QSslKey &key, const QSslCertificate &certificate,
                                   QObject *parent)
    : OpenSslTransport(descriptor, TlsContext::forKeyPair(key, certificate), parent)
{
}

OpenSslTransport::~OpenSslTransport()
{
    close();
}

bool OpenSslTransport::isOpen() const
{
    return state == State::Handshake || state == State::Open;
}

void OpenSslTransport::handshake()
{
    ERR_clear_error();
    const int done = SSL_do_handshake(ssl);
    if (done == 1) {
        state = State::Open;
        handshakeWait = Wait::Nothing;
        listen();
        // A write tried during the handshake took nothing and waits for room.
        if (roomWanted) {
            roomWanted = false;
            tellWritable();
        }
        return;
    }
    switch (SSL_get_error(ssl, done)) {
    case SSL_ERROR_WANT_READ:
        handshakeWait = Wait::Read;
        listen();
        return;
    case SSL_ERROR_WANT_WRITE:
        handshakeWait = Wait::Write;
        listen();
        return;
    default:
        // Not TLS, a protocol or suite not offered, the peer gone: nothing will come of it.
        fail();
    }
}

void OpenSslTransport::descriptorReadable()
{
    if (state == State::Handshake) {
        if (handshakeWait == Wait::Read)
            handshake();
        return;
    }
    if (state != State::Open)
        return;
    const QPointer<OpenSslTransport> alive(this);
    // A write that waited for the peer's records (a renegotiation) can go on.
    if (writeWait == Wait::Read) {
        writeWait = Wait::Nothing;
        if (roomWanted) {
            roomWanted = false;
            tellWritable();
        }
    }
    if (alive && state == State::Open && reading && readWait != Wait::Write)
        tellReadable();
    if (alive)
        listen();
}

void OpenSslTransport::descriptorWritable()
{
    if (state == State::Handshake) {
        if (handshakeWait == Wait::Write)
            handshake();
        return;
    }
    if (state != State::Open && state != State::PeerClosed)
        return;
    const QPointer<OpenSslTransport> alive(this);
    // A read that had to send first can go on.
    if (readWait == Wait::Write) {
        readWait = Wait::Nothing;
        if (reading && state == State::Open)
            tellReadable();
    }
    if (alive && roomWanted && writeWait != Wait::Read) {
        roomWanted = false;
        writeWait = Wait::Nothing;
        tellWritable();
    }
    if (alive)
        listen();
}

void OpenSslTransport::listen()
{
    bool wantRead = false;
    bool wantWrite = false;
    if (state == State::Handshake) {
        wantRead = handshakeWait == Wait::Read;
        wantWrite = handshakeWait == Wait::Write;
    } else if (state == State::Open || state == State::PeerClosed) {
        wantRead = state == State::Open && ((reading && readWait != Wait::Write) || writeWait == Wait::Read);
        wantWrite = (state == State::Open && reading && readWait == Wait::Write)
                    || (roomWanted && writeWait != Wait::Read);
    }
    plain->setReading(wantRead);
    if (wantWrite)
        plain->waitForRoom();
}

qint64 OpenSslTransport::read(char *into, qint64 max)
{
    if (state == State::Handshake)
        return 0;
    if (state != State::Open)
        return Failed;
    if (max <= 0)
        return 0;
    ERR_clear_error();
    const int n = SSL_read(ssl, into, int(std::min<qint64>(max, INT_MAX)));
    if (n > 0) {
        readWait = Wait::Nothing;
        // The rest of a record is in OpenSSL's hands: the descriptor will not tell.
        if (SSL_pending(ssl) > 0)
            announcePending();
        return n;
    }
    switch (SSL_get_error(ssl, n)) {
    case SSL_ERROR_WANT_READ:
        readWait = Wait::Nothing;
        listen();
        return 0;
    case SSL_ERROR_WANT_WRITE:
        readWait = Wait::Write;
        listen();
        return 0;
    case SSL_ERROR_ZERO_RETURN:
        // The peer's close_notify: it sends no more, and may still read.
        state = State::PeerClosed;
        break;
    default:
        // Gone without a close_notify, or records that do not decrypt: nothing more goes either
        // way, not even a close_notify.
        state = State::PeerClosed;
        broken = true;
        ERR_clear_error();
    }
    readWait = Wait::Nothing;
    listen();
    return Failed;
}

qint64 OpenSslTransport::write(const QByteArrayView *parts, int count, bool)
{
    if (state == State::Handshake)
        return 0;
    if ((state != State::Open && state != State::PeerClosed) || broken || sendingShut)
        return Failed;
    static thread_local char gathered[RecordSize];
    qint64 taken = 0;
    int part = 0;
    qint64 offset = 0;
    for (;;) {
        while (part < count && offset >= parts[part].size()) {
            ++part;
            offset = 0;
        }
        if (part == count)
            break;
        qint64 available = parts[part].size() - offset;
        for (int i = part + 1; i < count && available < RecordSize; ++i)
            available += parts[i].size();
        const int length = retryLength > 0 ? retryLength : int(std::min<qint64>(available, RecordSize));
        const char *data = parts[part].data() + offset;
        if (parts[part].size() - offset < length) {
            // Small parts go out together, in one record.
            qint64 copied = 0;
            for (int i = part; i < count && copied < length; ++i) {
                const qint64 from = i == part ? offset : 0;
                const qint64 n = std::min<qint64>(parts[i].size() - from, length - copied);
                std::memcpy(gathered + copied, parts[i].data() + from, size_t(n));
                copied += n;
            }
            data = gathered;
        }
        ERR_clear_error();
        const int n = SSL_write(ssl, data, int(std::min<qint64>(length, available)));
        if (n > 0) {
            retryLength = 0;
            writeWait = Wait::Nothing;
            taken += n;
            for (qint64 left = n; left > 0;) {
                const qint64 step = std::min(left, parts[part].size() - offset);
                left -= step;
                offset += step;
                if (offset >= parts[part].size() && left > 0) {
                    ++part;
                    offset = 0;
                }
            }
            continue;
        }
        switch (SSL_get_error(ssl, n)) {
        case SSL_ERROR_WANT_WRITE:
            retryLength = length;
            writeWait = Wait::Write;
            return taken;
        case SSL_ERROR_WANT_READ:
            // The peer's handshake records come first (a renegotiation).
            retryLength = length;
            writeWait = Wait::Read;
            listen();
            return taken;
        default:
            broken = true;
            ERR_clear_error();
            return taken > 0 ? taken : Failed;
        }
    }
    return taken;
}

void OpenSslTransport::setReading(bool on)
{
    reading = on;
    if (state == State::Handshake)
        return;
    listen();
    if (on && (state == State::Failed || (state == State::Open && SSL_pending(ssl) > 0)))
        announcePending();
}

void OpenSslTransport::waitForRoom()
{
    roomWanted = true;
    if (state == State::Failed || broken)
        announcePending();
    else if (state != State::Handshake)
        listen();
}

void OpenSslTransport::announcePending()
{
    if (announcing)
        return;
    announcing = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            announcing = false;
            const QPointer<OpenSslTransport> alive(this);
            if (state == State::Failed || broken) {
                if (roomWanted) {
                    roomWanted = false;
                    tellWritable();
                }
                if (alive && reading && state == State::Failed)
                    tellReadable();
            } else if (state == State::Open && reading && SSL_pending(ssl) > 0) {
                tellReadable();
            }
        },
        Qt::QueuedConnection);
}

void OpenSslTransport::fail()
{
    if (ssl) {
        SSL_free(ssl);
        ssl = nullptr;
    }
    ERR_clear_error();
    plain->close();
    state = State::Failed;
    announcePending();
}

void OpenSslTransport::shutdownSending()
{
    if (state != State::Open || broken || sendingShut || !ssl)
        return;
    // One try, without waiting, as on close.
    ERR_clear_error();
    SSL_shutdown(ssl);
    ERR_clear_error();
    sendingShut = true;
    plain->shutdownSending();
}

void OpenSslTransport::close()
{
    if (state == State::Closed)
        return;
    if (ssl) {
        // One try, without waiting: the peer learns that nothing was cut off.
        if (state != State::Handshake && !broken && !sendingShut) {
            ERR_clear_error();
            SSL_shutdown(ssl);
        }
        SSL_free(ssl);
        ssl = nullptr;
        ERR_clear_error();
    }
    plain->close();
    state = State::Closed;
}

void OpenSslTransport::setKeepAlive(bool on)
{
    plain->setKeepAlive(on);
}

void OpenSslTransport::setSendBufferSize(int bytes)
{
    plain->setSendBufferSize(bytes);
}

QHostAddress OpenSslTransport::localAddress() const
{
    return plain->localAddress();
}

quint16 OpenSslTransport::localPort() const
{
    return plain->localPort();
}

QHostAddress OpenSslTransport::peerAddress() const
{
    return plain->peerAddress();
}
