// HTTPS with the profile's key pair: a real handshake, a key that cannot be decoded, a key file
// that cannot be opened, key changes applied to new connections, and a running server keeping
// its pair when the new one does not load.

#include "httpclient.h"
#include "requests.h"
#include "testkeys.h"
#include "testserver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QTest>

namespace {

const QByteArray TextA = "contents of a";
const QString Phrase = QStringLiteral("k4m5n6");

} // namespace

class TestTls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pipelinedRequestsOverTlsAreAnsweredInOrder_data();
    void pipelinedRequestsOverTlsAreAnsweredInOrder();
    void wrongPassPhraseAbortsTheHandshakeUntilTheRightOneComes();
    void missingKeyFileFallsBackToPlainHttpAndReportsOnce();
    void onlyForwardSecretSuitesAreAccepted_data();
    void onlyForwardSecretSuitesAreAccepted();
    void changedKeyPairOnARunningServer_data();
    void changedKeyPairOnARunningServer();

private:
    static QSslCertificate served(quint16 port);

    QString keyFile;
    QTemporaryDir keyDir;
    TestServer *ts = nullptr;
};

QSslCertificate TestTls::served(quint16 port)
{
    HttpClient client;
    if (!client.connectEncrypted(port))
        return QSslCertificate();
    return client.socket.peerCertificate();
}

void TestTls::initTestCase()
{
    QVERIFY(QSslSocket::supportsSsl());
    keyFile = TestServer::buildDir() + QStringLiteral("/tests/ssl.pem");
    if (QFile::exists(keyFile))
        return;
    // Run outside the build: make a key pair like the build does.
    keyFile = makeTestKeyPair(keyDir.path(), Phrase);
    QVERIFY(!keyFile.isEmpty());
}

void TestTls::init()
{
    ts = new TestServer;
    ts->put(QStringLiteral("a.txt"), TextA);
    ts->config.sslMode = CheckState::On;
    ts->config.keyFile = keyFile;
    ts->config.keyPassword = Phrase;
}

void TestTls::cleanup()
{
    delete ts;
    ts = nullptr;
}

void TestTls::pipelinedRequestsOverTlsAreAnsweredInOrder_data()
{
    QTest::addColumn<int>("limitKB");
    QTest::addRow("no traffic limit") << 0;
    QTest::addRow("with a traffic limit") << 1000000;
}

void TestTls::pipelinedRequestsOverTlsAreAnsweredInOrder()
{
    QFETCH(int, limitKB);
    ts->config.dataLimitKB = limitKB;
    ts->put(QStringLiteral("b.txt"), "bee");
    const QByteArray data = bigData(3 * 1000 * 1000);
    ts->put(QStringLiteral("big.bin"), data);
    ts->server->clients.random = [] { return quint64(4242) << 1; };
    QSignalSpy errors(ts->server.get(), &WebServer::error);
    QVERIFY(ts->start());
    QVERIFY(ts->server->key);
    QCOMPARE(errors.size(), 0);

    HttpClient client;
    QVERIFY(client.connectEncrypted(ts->port()));
    QVERIFY(client.socket.sessionProtocol() >= QSsl::TlsV1_2);
    // A large download arrives whole; the session cookie is sent over TLS only.
    const HttpReply download = client.exchange("GET /big.bin HTTP/1.1\r\n\r\n", 30000);
    QVERIFY(download.body == data);
    QCOMPARE(download.header("Set-Cookie"), QByteArray("ID=4242; HttpOnly; SameSite=Lax; Secure"));
    QByteArray requests;
    for (int i = 0; i < 500; ++i)
        requests += i % 2 ? "GET /b.txt HTTP/1.1\r\n\r\n" : "GET /a.txt HTTP/1.1\r\nRange: bytes=1-2\r\n\r\n";
    client.send(requests);
    for (int i = 0; i < 500; ++i) {
        HttpReply reply;
        QVERIFY2(client.read(&reply), qPrintable(QStringLiteral("answer %1 missing").arg(i)));
        QCOMPARE(reply.body, i % 2 ? QByteArray("bee") : TextA.mid(1, 2));
    }
}

void TestTls::wrongPassPhraseAbortsTheHandshakeUntilTheRightOneComes()
{
    ts->config.keyPassword = QStringLiteral("not the phrase");
    QSignalSpy errors(ts->server.get(), &WebServer::error);
    QVERIFY(ts->start());
    QCOMPARE(errors.size(), 1);

    QElapsedTimer clock;
    clock.start();
    HttpClient client;
    QVERIFY(!client.connectEncrypted(ts->port()));
    QVERIFY(client.waitClosed(5000));
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QTRY_COMPARE(ts->server->threads.size(), 0);

    // The same key file with the right phrase: new connections get the key.
    ts->config.keyPassword = Phrase;
    ts->server->configurationChanged(&ts->config);
    HttpClient again;
    QVERIFY(again.connectEncrypted(ts->port()));
    QCOMPARE(again.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
}

void TestTls::missingKeyFileFallsBackToPlainHttpAndReportsOnce()
{
    ts->config.keyFile = ts->dir.path() + QStringLiteral("/no-such.pem");
    QSignalSpy errors(ts->server.get(), &WebServer::error);
    QVERIFY(ts->start());
    QVERIFY(!ts->server->key);
    for (int i = 0; i < 3; ++i) {
        HttpClient client(ts->port());
        QCOMPARE(client.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
    }
    QCOMPARE(errors.size(), 1);
    QVERIFY(errors.first().at(1).toString().contains(QStringLiteral("no-such.pem")));
}

void TestTls::onlyForwardSecretSuitesAreAccepted_data()
{
    QTest::addColumn<QString>("cipher");
    QTest::addColumn<bool>("accepted");

    // Key exchange by the server's RSA key: whoever gets the key later reads recorded traffic.
    QTest::addRow("AES128-SHA, plain RSA") << QStringLiteral("AES128-SHA") << false;
    QTest::addRow("ECDHE-RSA-AES128-GCM-SHA256") << QStringLiteral("ECDHE-RSA-AES128-GCM-SHA256") << true;
    QTest::addRow("TLS 1.3 TLS_AES_128_GCM_SHA256") << QStringLiteral("TLS_AES_128_GCM_SHA256") << true;
}

void TestTls::onlyForwardSecretSuitesAreAccepted()
{
    QFETCH(QString, cipher);
    QFETCH(bool, accepted);
    QVERIFY(ts->start());

    // A client that offers this one suite alone.
    HttpClient client;
    QSslConfiguration tls = client.socket.sslConfiguration();
    const QSslCipher offered(cipher);
    QVERIFY2(!offered.isNull(), "the client's TLS library lacks the suite");
    tls.setCiphers({offered});
    tls.setProtocol(cipher.startsWith(QLatin1String("TLS_")) ? QSsl::TlsV1_3 : QSsl::TlsV1_2);
    client.socket.setSslConfiguration(tls);
    QCOMPARE(client.connectEncrypted(ts->port()), accepted);
    QVERIFY(!accepted || client.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body == TextA);
}

void TestTls::changedKeyPairOnARunningServer_data()
{
    QTest::addColumn<QString>("change"); // what the profile's key settings become
    QTest::addColumn<bool>("replaced");
    QTest::addRow("another pair") << QStringLiteral("other") << true;
    QTest::addRow("a file that does not exist") << QStringLiteral("missing") << false;
    QTest::addRow("a wrong pass phrase") << QStringLiteral("phrase") << false;
}

void TestTls::changedKeyPairOnARunningServer()
{
    QFETCH(QString, change);
    QFETCH(bool, replaced);
    QVERIFY(ts->start());
    const QSslCertificate before = served(ts->port());
    QVERIFY(!before.isNull());

    QTemporaryDir other;
    if (change == QLatin1String("other")) {
        ts->config.keyFile = makeTestKeyPair(other.path(), QStringLiteral("other phrase"));
        ts->config.keyPassword = QStringLiteral("other phrase");
    } else if (change == QLatin1String("missing")) {
        ts->config.keyFile = other.path() + QStringLiteral("/gone.pem");
    } else {
        ts->config.keyPassword = QStringLiteral("not the phrase");
    }
    QSignalSpy errors(ts->server.get(), &WebServer::error);
    ts->server->configurationChanged(&ts->config);
    // Applied again unchanged, the profile reports nothing new.
    ts->server->configurationChanged(&ts->config);
    QCOMPARE(errors.size(), replaced ? 0 : 1);
    QVERIFY(replaced || errors.first().at(1).toString().contains(QStringLiteral("previous key pair")));

    const QSslCertificate after = served(ts->port());
    QVERIFY(!after.isNull());
    QCOMPARE(after != before, replaced);
    HttpClient client;
    QVERIFY(client.connectEncrypted(ts->port()));
    QCOMPARE(client.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
}

QTEST_GUILESS_MAIN(TestTls)
#include "tst_tls.moc"
