// The OpenSSL transport over real loopback connections with real handshakes: bytes both ways in
// every size and split, the protocols and suites the server offers and refuses, plain bytes and a
// key that does not load closing the connection at once, the peer's close in the middle of a
// stream, connections of two key pairs side by side, a peer that reads slowly, and no descriptor
// left behind.

#include "server/keypair.h"
#include "server/openssltransport.h"
#include "server/tlscontext.h"
#include "testkeys.h"
#include "testserver.h"

#include <QDir>
#include <QSignalSpy>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString Phrase = QStringLiteral("k4m5n6");

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char('a' + (i * 7 + i / 251) % 26);
    return bytes;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

// What the server does with a transport, in small: it takes what arrives (`piece` bytes a read,
// one read per announcement unless `drain`), answers it back when `echo`, and keeps what was
// not taken yet for the next announcement of room.
class Owner : public QObject
{
public:
    explicit Owner(Transport *transport, bool echo = true)
        : transport(transport), echo(echo)
    {
        connect(transport, &Transport::readable, this, &Owner::pull);
        connect(transport, &Transport::writable, this, &Owner::push);
    }

    void pull()
    {
        ++announcements;
        QByteArray buffer(piece, Qt::Uninitialized);
        do {
            const qint64 n = transport->read(buffer.data(), piece);
            if (n < 0) {
                closed = true;
                return;
            }
            if (n == 0)
                return;
            received.append(buffer.constData(), n);
            if (echo)
                send(buffer.left(int(n)));
        } while (drain);
    }

    void send(const QByteArray &bytes)
    {
        queue += bytes;
        if (!waiting)
            push();
    }

    void push()
    {
        waiting = false;
        while (sent < queue.size()) {
            // What is left, handed over in parts of `partSize` bytes, up to four at a time.
            QByteArrayView parts[4];
            int count = 0;
            for (qint64 at = sent; at < queue.size() && count < 4; at += partSize)
                parts[count++] = QByteArrayView(queue).sliced(at, std::min<qint64>(partSize, queue.size() - at));
            const qint64 n = transport->write(parts, count);
            if (n < 0) {
                writeFailed = true;
                return;
            }
            if (n == 0) {
                ++waits;
                waiting = true;
                transport->waitForRoom();
                return;
            }
            sent += n;
        }
    }

    Transport *transport;
    bool echo;
    bool drain = true;
    int piece = 2048;
    qint64 partSize = 1 << 30;
    QByteArray received;
    QByteArray queue;
    qint64 sent = 0;
    bool waiting = false;
    bool closed = false;
    bool writeFailed = false;
    int waits = 0;
    int announcements = 0;
};

// Accepts connections and makes each the transport under test, with the context of the moment,
// and its owner at once, as the server does.
class Listener : public QTcpServer
{
public:
    std::shared_ptr<const TlsContext> context;
    // When set, the transports are made from the pair instead.
    const KeyPair *pair = nullptr;
    std::vector<std::unique_ptr<OpenSslTransport>> accepted;
    std::vector<std::unique_ptr<Owner>> owners;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        accepted.push_back(pair ? std::make_unique<OpenSslTransport>(descriptor, pair->key, pair->certificate)
                                : std::make_unique<OpenSslTransport>(descriptor, context));
        owners.push_back(std::make_unique<Owner>(accepted.back().get()));
    }

public:
    void clear()
    {
        owners.clear();
        accepted.clear();
    }
};

// A client on OpenSSL itself, for what Qt's client no longer offers: a non-blocking socket whose
// handshake goes on at each turn of the event loop, so the server in this thread answers it.
class OpenSslClient
{
public:
    OpenSslClient(int version)
        : context(SSL_CTX_new(TLS_client_method()))
    {
        // Whatever this machine's policy says, the client offers the old protocols too: the
        // refusal must be the server's.
        SSL_CTX_set_security_level(context, 0);
        SSL_CTX_set_cipher_list(context, "ALL:@SECLEVEL=0");
        SSL_CTX_set_min_proto_version(context, version);
        SSL_CTX_set_max_proto_version(context, version);
        SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    }

    ~OpenSslClient()
    {
        SSL_free(ssl);
        SSL_CTX_free(context);
        if (fd >= 0)
            ::close(fd);
        ERR_clear_error();
    }

    bool connectTo(quint16 port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            return false;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ssl = SSL_new(context);
        SSL_set_fd(ssl, fd);
        int result = 0;
        const bool ended = QTest::qWaitFor([&] {
            ERR_clear_error();
            result = SSL_connect(ssl);
            const int reason = SSL_get_error(ssl, result);
            return result == 1 || (reason != SSL_ERROR_WANT_READ && reason != SSL_ERROR_WANT_WRITE);
        }, 5000);
        return ended && result == 1;
    }

    // Reads until the server's close: true when it was a close_notify.
    bool closedCleanly()
    {
        int reason = SSL_ERROR_WANT_READ;
        const bool ended = QTest::qWaitFor([&] {
            char buffer[512];
            ERR_clear_error();
            const int n = SSL_read(ssl, buffer, sizeof buffer);
            reason = n > 0 ? SSL_ERROR_WANT_READ : SSL_get_error(ssl, n);
            return reason != SSL_ERROR_WANT_READ;
        }, 5000);
        return ended && reason == SSL_ERROR_ZERO_RETURN;
    }

private:
    SSL_CTX *context;
    SSL *ssl = nullptr;
    int fd = -1;
};

} // namespace

class TestOpenSslTransport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void bytesGoBothWays_data();
    void bytesGoBothWays();
    void suitesOfferedAndRefused_data();
    void suitesOfferedAndRefused();
    void suitesAreTheOnesQtIsToldToOffer();
    void protocolsOfferedAndRefused_data();
    void protocolsOfferedAndRefused();
    void whatIsNoHandshakeClosesAtOnce_data();
    void whatIsNoHandshakeClosesAtOnce();
    void peerCloseInTheMiddleOfAStream_data();
    void peerCloseInTheMiddleOfAStream();
    void connectionsOfTwoKeyPairsGoOnSideBySide();
    void slowReaderGetsEverythingInPartialWrites_data();
    void slowReaderGetsEverythingInPartialWrites();
    void noDescriptorIsLeftOpen();

private:
    bool accept(QSslSocket *client, const QSslConfiguration *tls = nullptr);
    OpenSslTransport *last() const { return listener->accepted.back().get(); }
    Owner &lastOwner() const { return *listener->owners.back(); }

    KeyPair pairA;
    KeyPair pairB;
    QTemporaryDir keyDir;
    Listener *listener = nullptr;
    QByteArray clientReceived;
};

void TestOpenSslTransport::initTestCase()
{
    QVERIFY(QSslSocket::supportsSsl());
    QString fileA = TestServer::buildDir() + QStringLiteral("/tests/ssl.pem");
    QVERIFY(keyDir.isValid());
    QVERIFY(QDir().mkpath(keyDir.filePath(QStringLiteral("a"))) && QDir().mkpath(keyDir.filePath(QStringLiteral("b"))));
    if (!QFile::exists(fileA))
        fileA = makeTestKeyPair(keyDir.filePath(QStringLiteral("a")), Phrase);
    pairA = KeyPair::read(fileA, Phrase);
    pairB = KeyPair::read(makeTestKeyPair(keyDir.filePath(QStringLiteral("b")), Phrase), Phrase);
    QVERIFY(pairA.isUsable());
    QVERIFY(pairB.isUsable());
    QVERIFY(pairA.certificate != pairB.certificate);
}

void TestOpenSslTransport::init()
{
    listener = new Listener;
    listener->context = TlsContext::forKeyPair(pairA.key, pairA.certificate);
    QVERIFY(listener->context->isUsable());
    QVERIFY(listener->listen(QHostAddress::LocalHost));
    clientReceived.clear();
}

void TestOpenSslTransport::cleanup()
{
    delete listener;
    listener = nullptr;
}

// Connects `client` and waits for its handshake with the newest transport.
bool TestOpenSslTransport::accept(QSslSocket *client, const QSslConfiguration *tls)
{
    if (tls)
        client->setSslConfiguration(*tls);
    client->setPeerVerifyMode(QSslSocket::VerifyNone);
    const size_t before = listener->accepted.size();
    client->connectToHostEncrypted(QStringLiteral("127.0.0.1"), listener->serverPort());
    return QTest::qWaitFor([&] { return client->isEncrypted() || client->state() == QAbstractSocket::UnconnectedState; }, 10000)
           && client->isEncrypted() && listener->accepted.size() == before + 1
           && QTest::qWaitFor([&] { return last()->isEncrypted(); }, 5000);
}

void TestOpenSslTransport::bytesGoBothWays_data()
{
    QTest::addColumn<QList<int>>("pieces"); // what the client writes, one write each
    QTest::addColumn<int>("readSize");       // the server's reads
    QTest::addColumn<bool>("drain");         // all there is at each announcement, or one read
    QTest::addColumn<int>("partSize");       // the parts of each of the server's writes

    QTest::addRow("a small request") << QList<int>{40} << 2048 << true << (1 << 30);
    QTest::addRow("ten megabytes") << QList<int>{10 << 20} << 2048 << true << (1 << 30);
    QTest::addRow("split writes both ways") << QList<int>{1, 2, 3, 1000, 5, 16384, 17} << 2048 << true << 7;
    QTest::addRow("parts larger than a record") << QList<int>{100000} << 65536 << true << 20000;
    // A record is 16 KiB: after a read of 100 bytes the rest waits in OpenSSL, where the
    // descriptor does not see it.
    QTest::addRow("one small read per announcement") << QList<int>{50000} << 100 << false << (1 << 30);
    QTest::addRow("reads of one byte") << QList<int>{300} << 1 << false << (1 << 30);
}

void TestOpenSslTransport::bytesGoBothWays()
{
    QFETCH(QList<int>, pieces);
    QFETCH(int, readSize);
    QFETCH(bool, drain);
    QFETCH(int, partSize);

    QSslSocket client;
    QVERIFY(accept(&client));
    QCOMPARE(client.peerCertificate(), pairA.certificate);
    QVERIFY(last()->isOpen());
    Owner &owner = lastOwner();
    owner.piece = readSize;
    owner.drain = drain;
    owner.partSize = partSize;
    connect(&client, &QIODevice::readyRead, this, [&] { clientReceived += client.readAll(); });

    QByteArray sent;
    for (const int size : pieces) {
        const QByteArray piece = pattern(size + 3).right(size);
        sent += piece;
        client.write(piece);
    }
    QTRY_COMPARE_WITH_TIMEOUT(clientReceived.size(), sent.size(), 60000);
    QCOMPARE(owner.received, sent);
    QCOMPARE(clientReceived, sent);
    QVERIFY(!owner.closed && !owner.writeFailed);
    QVERIFY(last()->isOpen());
    // Nothing more waits: a read says so without failing.
    char byte;
    QCOMPARE(last()->read(&byte, 1), qint64(0));
}

void TestOpenSslTransport::suitesOfferedAndRefused_data()
{
    QTest::addColumn<QStringList>("offered"); // by the client, in its order
    QTest::addColumn<int>("protocol");        // QSsl::SslProtocol
    QTest::addColumn<QString>("chosen");      // empty: the handshake fails

    const int v12 = int(QSsl::TlsV1_2);
    const int v13 = int(QSsl::TlsV1_3);
    // Key exchange by the server's RSA key: whoever gets the key later reads recorded traffic.
    QTest::addRow("AES128-SHA, plain RSA") << QStringList{"AES128-SHA"} << v12 << QString();
    QTest::addRow("AES256-GCM-SHA384, plain RSA") << QStringList{"AES256-GCM-SHA384"} << v12 << QString();
    QTest::addRow("AES128-SHA256, plain RSA") << QStringList{"AES128-SHA256"} << v12 << QString();
    // A suite for a kind of key the server does not have.
    QTest::addRow("ECDHE-ECDSA-AES128-GCM-SHA256") << QStringList{"ECDHE-ECDSA-AES128-GCM-SHA256"} << v12 << QString();
    QTest::addRow("ECDHE-RSA-AES128-GCM-SHA256") << QStringList{"ECDHE-RSA-AES128-GCM-SHA256"} << v12
                                                 << QStringLiteral("ECDHE-RSA-AES128-GCM-SHA256");
    QTest::addRow("ECDHE-RSA-AES256-SHA") << QStringList{"ECDHE-RSA-AES256-SHA"} << v12
                                          << QStringLiteral("ECDHE-RSA-AES256-SHA");
    QTest::addRow("ECDHE-RSA-CHACHA20-POLY1305") << QStringList{"ECDHE-RSA-CHACHA20-POLY1305"} << v12
                                                 << QStringLiteral("ECDHE-RSA-CHACHA20-POLY1305");
    QTest::addRow("DHE-RSA-AES256-GCM-SHA384") << QStringList{"DHE-RSA-AES256-GCM-SHA384"} << v12
                                               << QStringLiteral("DHE-RSA-AES256-GCM-SHA384");
    QTest::addRow("DHE-RSA-AES128-SHA") << QStringList{"DHE-RSA-AES128-SHA"} << v12 << QStringLiteral("DHE-RSA-AES128-SHA");
    // The server's order decides, not the client's.
    QTest::addRow("the server's preference") << QStringList{"ECDHE-RSA-AES128-SHA", "ECDHE-RSA-AES256-GCM-SHA384"} << v12
                                             << QStringLiteral("ECDHE-RSA-AES256-GCM-SHA384");
    QTest::addRow("plain RSA first, then ECDHE") << QStringList{"AES256-GCM-SHA384", "ECDHE-RSA-AES128-SHA"} << v12
                                                 << QStringLiteral("ECDHE-RSA-AES128-SHA");
    QTest::addRow("TLS 1.3 TLS_AES_128_GCM_SHA256") << QStringList{"TLS_AES_128_GCM_SHA256"} << v13
                                                    << QStringLiteral("TLS_AES_128_GCM_SHA256");
    QTest::addRow("TLS 1.3 TLS_AES_256_GCM_SHA384") << QStringList{"TLS_AES_256_GCM_SHA384"} << v13
                                                    << QStringLiteral("TLS_AES_256_GCM_SHA384");
    QTest::addRow("TLS 1.3 TLS_CHACHA20_POLY1305_SHA256") << QStringList{"TLS_CHACHA20_POLY1305_SHA256"} << v13
                                                          << QStringLiteral("TLS_CHACHA20_POLY1305_SHA256");
}

void TestOpenSslTransport::suitesOfferedAndRefused()
{
    QFETCH(QStringList, offered);
    QFETCH(int, protocol);
    QFETCH(QString, chosen);

    QSslSocket client;
    QSslConfiguration tls = client.sslConfiguration();
    QList<QSslCipher> ciphers;
    for (const QString &name : offered) {
        ciphers.append(QSslCipher(name));
        QVERIFY2(!ciphers.last().isNull(), "the client's TLS library lacks the suite");
    }
    tls.setCiphers(ciphers);
    tls.setProtocol(QSsl::SslProtocol(protocol));
    const bool accepted = accept(&client, &tls);
    QCOMPARE(accepted, !chosen.isEmpty());
    QVERIFY(!listener->accepted.empty());
    if (!accepted) {
        // Refused and closed at once; the owner learns of it.
        QTRY_VERIFY_WITH_TIMEOUT(!last()->isOpen(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(lastOwner().closed, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 5000);
        return;
    }
    QCOMPARE(client.sessionCipher().name(), chosen);
    connect(&client, &QIODevice::readyRead, this, [&] { clientReceived += client.readAll(); });
    client.write("GET / HTTP/1.1\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(clientReceived, QByteArray("GET / HTTP/1.1\r\n\r\n"), 5000);
}

void TestOpenSslTransport::suitesAreTheOnesQtIsToldToOffer()
{
    // The same suites in the same order as Qt's supported list kept to ephemeral (EC)DH key
    // exchange ("any": TLS 1.3) with an authenticated server.
    QStringList qt;
    for (const QSslCipher &cipher : QSslConfiguration::supportedCiphers()) {
        const QString exchange = cipher.keyExchangeMethod();
        const bool ephemeral = exchange == QLatin1String("ECDH") || exchange == QLatin1String("DH")
                               || exchange == QLatin1String("any");
        if (ephemeral && cipher.authenticationMethod() != QLatin1String("None"))
            qt.append(cipher.name());
    }
    QStringList offered;
    const STACK_OF(SSL_CIPHER) *ciphers = SSL_CTX_get_ciphers(listener->context->handle());
    for (int i = 0; i < sk_SSL_CIPHER_num(ciphers); ++i)
        offered.append(QString::fromLatin1(SSL_CIPHER_get_name(sk_SSL_CIPHER_value(ciphers, i))));
    QCOMPARE(offered, qt);
}

void TestOpenSslTransport::protocolsOfferedAndRefused_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("accepted");

    QTest::addRow("TLS 1.0") << TLS1_VERSION << false;
    QTest::addRow("TLS 1.1") << TLS1_1_VERSION << false;
    QTest::addRow("TLS 1.2") << TLS1_2_VERSION << true;
    QTest::addRow("TLS 1.3") << TLS1_3_VERSION << true;
}

void TestOpenSslTransport::protocolsOfferedAndRefused()
{
    QFETCH(int, version);
    QFETCH(bool, accepted);

    OpenSslClient client(version);
    QCOMPARE(client.connectTo(listener->serverPort()), accepted);
    QTRY_VERIFY_WITH_TIMEOUT(!listener->accepted.empty(), 5000);
    if (!accepted) {
        QTRY_VERIFY_WITH_TIMEOUT(!last()->isOpen(), 5000);
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(last()->isEncrypted(), 5000);
    // The server's close says so: the peer can tell it from a cut connection.
    last()->close();
    QVERIFY(!last()->isOpen());
    QVERIFY(client.closedCleanly());
}

void TestOpenSslTransport::whatIsNoHandshakeClosesAtOnce_data()
{
    QTest::addColumn<QByteArray>("bytes"); // what the raw client sends
    QTest::addColumn<bool>("usableKey");

    QTest::addRow("an HTTP request") << QByteArray("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n") << true;
    QTest::addRow("bytes of no protocol") << pattern(300) << true;
    QTest::addRow("a record header of a length too large") << QByteArray("\x16\x03\x01\xff\xff", 5) << true;
    // A key pair that does not load: the connection cannot be served at all.
    QTest::addRow("a key that does not load") << QByteArray() << false;
}

void TestOpenSslTransport::whatIsNoHandshakeClosesAtOnce()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, usableKey);
    if (!usableKey) {
        listener->context = std::make_shared<const TlsContext>(QSslKey(), pairA.certificate);
        QVERIFY(!listener->context->isUsable());
    }

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, listener->serverPort());
    QVERIFY(client.waitForConnected(5000));
    QTRY_VERIFY_WITH_TIMEOUT(!listener->accepted.empty(), 5000);
    Owner &owner = lastOwner();
    client.write(bytes);
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 5000);
    QVERIFY(!last()->isOpen());
    QVERIFY(!last()->isEncrypted());
    // The owner is told: its read fails, and so does a write.
    QTRY_VERIFY_WITH_TIMEOUT(owner.closed, 5000);
    QCOMPARE(last()->write(QByteArrayView("x")), Transport::Failed);
    QVERIFY(owner.received.isEmpty());
}

void TestOpenSslTransport::peerCloseInTheMiddleOfAStream_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("before"); // bytes sent before the close

    QTest::addRow("close_notify after a request") << QStringLiteral("close") << 5000;
    QTest::addRow("close_notify, nothing sent") << QStringLiteral("close") << 0;
    QTest::addRow("the descriptor closed without close_notify") << QStringLiteral("cut") << 5000;
    QTest::addRow("a reset") << QStringLiteral("reset") << 5000;
    QTest::addRow("the peer gone during the handshake") << QStringLiteral("handshake") << 0;
}

void TestOpenSslTransport::peerCloseInTheMiddleOfAStream()
{
    QFETCH(QString, how);
    QFETCH(int, before);

    const QByteArray sent = pattern(before);
    QSslSocket client;
    if (how == QLatin1String("handshake")) {
        client.connectToHost(QHostAddress::LocalHost, listener->serverPort());
        QVERIFY(client.waitForConnected(5000));
        QTRY_VERIFY_WITH_TIMEOUT(!listener->accepted.empty(), 5000);
        Owner &owner = lastOwner();
    owner.echo = false;
        client.abort();
        QTRY_VERIFY_WITH_TIMEOUT(!last()->isOpen(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(owner.closed, 5000);
        return;
    }
    QVERIFY(accept(&client));
    Owner &owner = lastOwner();
    owner.echo = false;
    client.write(sent);
    QTRY_COMPARE_WITH_TIMEOUT(owner.received.size(), sent.size(), 10000);
    if (how == QLatin1String("close")) {
        client.disconnectFromHost();
    } else {
        const int fd = int(client.socketDescriptor());
        if (how == QLatin1String("reset")) {
            const linger off = {1, 0};
            QCOMPARE(::setsockopt(fd, SOL_SOCKET, SO_LINGER, &off, sizeof off), 0);
        }
        // Under the client's TLS: no close_notify goes.
        QCOMPARE(::shutdown(fd, SHUT_RDWR), 0);
        if (how == QLatin1String("reset"))
            client.abort();
    }
    QTRY_VERIFY_WITH_TIMEOUT(owner.closed, 5000);
    QCOMPARE(owner.received, sent);
    QVERIFY(!last()->isOpen());
    char byte;
    QCOMPARE(last()->read(&byte, 1), Transport::Failed);
    last()->close();
}

void TestOpenSslTransport::connectionsOfTwoKeyPairsGoOnSideBySide()
{
    // One context per key pair, also for a copy of the pair.
    const KeyPair copy = pairA;
    QCOMPARE(TlsContext::forKeyPair(copy.key, copy.certificate), listener->context);
    QSslSocket first;
    QVERIFY(accept(&first));

    // The key pair is reloaded: new connections present the new certificate.
    listener->context = TlsContext::forKeyPair(pairB.key, pairB.certificate);
    QVERIFY(listener->context != TlsContext::forKeyPair(pairA.key, pairA.certificate));
    QVERIFY(listener->context->isUsable());
    QSslSocket second;
    QVERIFY(accept(&second));
    QCOMPARE(first.peerCertificate(), pairA.certificate);
    QCOMPARE(second.peerCertificate(), pairB.certificate);

    // The connection made before goes on with its own pair, as does the new one.
    QByteArray firstReceived, secondReceived;
    connect(&first, &QIODevice::readyRead, this, [&] { firstReceived += first.readAll(); });
    connect(&second, &QIODevice::readyRead, this, [&] { secondReceived += second.readAll(); });
    first.write("to the first");
    second.write("to the second");
    QTRY_COMPARE_WITH_TIMEOUT(firstReceived, QByteArray("to the first"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(secondReceived, QByteArray("to the second"), 5000);

    // Made from the key pair itself, a transport takes the pair's shared context.
    listener->context.reset();
    listener->pair = &pairB;
    QSslSocket third;
    QVERIFY(accept(&third));
    QCOMPARE(third.peerCertificate(), pairB.certificate);
}

void TestOpenSslTransport::slowReaderGetsEverythingInPartialWrites_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("partSize");

    QTest::addRow("four megabytes in one part") << (4 << 20) << (1 << 30);
    QTest::addRow("two megabytes in parts of 1000 bytes") << (2 << 20) << 1000;
}

void TestOpenSslTransport::slowReaderGetsEverythingInPartialWrites()
{
    QFETCH(int, size);
    QFETCH(int, partSize);

    QSslSocket client;
    QVERIFY(accept(&client));
    last()->setSendBufferSize(8192);
    // The client takes nothing at first.
    client.setReadBufferSize(16384);

    Owner &owner = lastOwner();
    owner.echo = false;
    owner.partSize = partSize;
    QSignalSpy writable(last(), &Transport::writable);
    const QByteArray data = pattern(size);
    owner.send(data);
    // Stopped short, with most of it left and room asked for.
    QVERIFY(owner.sent > 0);
    QVERIFY(owner.sent < data.size() / 4);
    QVERIFY(owner.waiting);
    QTest::qWait(50);
    QVERIFY(owner.waiting);

    // The client reads: room comes, announced once for each wait.
    connect(&client, &QIODevice::readyRead, this, [&] { clientReceived += client.readAll(); });
    clientReceived += client.readAll();
    QTRY_COMPARE_WITH_TIMEOUT(clientReceived.size(), data.size(), 60000);
    QCOMPARE(clientReceived, data);
    QCOMPARE(owner.sent, qint64(data.size()));
    QVERIFY(owner.waits > 1);
    QCOMPARE(writable.size(), owner.waits);
    QVERIFY(!owner.writeFailed);
}

void TestOpenSslTransport::noDescriptorIsLeftOpen()
{
    // A first connection makes whatever Qt and OpenSSL keep for the process.
    {
        QSslSocket warm;
        QVERIFY(accept(&warm));
        warm.abort();
    }
    listener->clear();
    const int before = openDescriptors();
    {
        // Closed by the server after an exchange.
        QSslSocket served;
        QVERIFY(accept(&served));
        QByteArray back;
        connect(&served, &QIODevice::readyRead, this, [&] { back += served.readAll(); });
        served.write("ping");
        QTRY_COMPARE_WITH_TIMEOUT(back, QByteArray("ping"), 5000);
        last()->close();
        QTRY_COMPARE_WITH_TIMEOUT(served.state(), QAbstractSocket::UnconnectedState, 5000);

        // Closed by the peer.
        QSslSocket leaving;
        QVERIFY(accept(&leaving));
        Owner &leavingOwner = lastOwner();
        leavingOwner.echo = false;
        leaving.disconnectFromHost();
        QTRY_VERIFY_WITH_TIMEOUT(leavingOwner.closed, 5000);

        // A failed handshake.
        QTcpSocket plain;
        plain.connectToHost(QHostAddress::LocalHost, listener->serverPort());
        QVERIFY(plain.waitForConnected(5000));
        plain.write("GET / HTTP/1.1\r\n\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(plain.state(), QAbstractSocket::UnconnectedState, 5000);

        // Still in its handshake when it goes.
        QTcpSocket silent;
        silent.connectToHost(QHostAddress::LocalHost, listener->serverPort());
        QVERIFY(silent.waitForConnected(5000));
        QTRY_COMPARE_WITH_TIMEOUT(listener->accepted.size(), size_t(4), 5000);
    }
    listener->clear();
    QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), before, 5000);
}

QTEST_GUILESS_MAIN(TestOpenSslTransport)
#include "tst_openssltransport.moc"
