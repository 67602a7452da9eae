// Moving bytes: the traffic limit and its counters, files past 4 GiB, and connections that
// never read, none of which may hold up the rest of the server.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "server/serverthread.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {

const QByteArray TextA = "contents of a";

} // namespace

class TestTransfer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void limitReachedDuringADownloadStopsTheServer_data();
    void limitReachedDuringADownloadStopsTheServer();
    void limitAbove2GiBIsReached();
    void fileChangingDuringTheSendKeepsTheAnnouncedLength_data();
    void fileChangingDuringTheSendKeepsTheAnnouncedLength();
    void receivedAndSentBytesAreCountedOnce_data();
    void receivedAndSentBytesAreCountedOnce();
    void rangesPast4GiBAreExact_data();
    void rangesPast4GiBAreExact();
    void peerThatNeverReadsDoesNotHoldUpOthers_data();
    void peerThatNeverReadsDoesNotHoldUpOthers();

private:
    TestServer *ts = nullptr;
};

void TestTransfer::init()
{
    ts = new TestServer;
    ts->put(QStringLiteral("a.txt"), TextA);
}

void TestTransfer::cleanup()
{
    delete ts;
    ts = nullptr;
}

void TestTransfer::limitReachedDuringADownloadStopsTheServer_data()
{
    QTest::addColumn<QByteArray>("target");

    QTest::addRow("a file") << QByteArray("/big.bin");
    QTest::addRow("a folder as one archive") << QByteArray("/?a=zip");
}

void TestTransfer::limitReachedDuringADownloadStopsTheServer()
{
    QFETCH(QByteArray, target);
    const QByteArray data = bigData(1024 * 1024);
    ts->put(QStringLiteral("big.bin"), data);
    ts->config.dataLimitKB = 64;
    QVERIFY(ts->start());
    WebServer *server = ts->server.get();
    // What the window does: stop the server from the slot.
    QObject::connect(server, qOverload<WebServer *>(&WebServer::dataLimit), server, [](WebServer *s) {
        s->stopAll();
        s->stop();
    });
    QSignalSpy limit(server, qOverload<WebServer *>(&WebServer::dataLimit));

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    client.send("GET " + target + " HTTP/1.1\r\n\r\n");
    QVERIFY(limit.wait(HttpClient::Timeout));
    QCOMPARE(limit.size(), 1);
    QCOMPARE(limit.first().first().value<WebServer *>(), server);
    QVERIFY(client.waitClosed());
    QVERIFY(server->threads.isEmpty());
    QVERIFY(!server->isListening());

    // The download was cut: no more than the limit and the piece in progress went out.
    const qint64 limitBytes = 64 * 1024;
    QVERIFY(server->traffic.sentBytes + server->traffic.receivedBytes >= limitBytes);
    QVERIFY2(server->traffic.sentBytes + server->traffic.receivedBytes <= limitBytes + 2048, qPrintable(QString::number(server->traffic.sentBytes)));
    QVERIFY(client.totalReceived <= server->traffic.sentBytes);
    QCOMPARE(limit.size(), 1);

    // Restarted, the server serves again until the next byte counted reaches the limit again.
    QVERIFY(server->start());
    HttpClient again;
    QVERIFY(again.connectTo(server->serverPort()));
    again.send("GET /a.txt HTTP/1.1\r\n\r\n");
    QVERIFY(limit.wait(HttpClient::Timeout));
    QCOMPARE(limit.size(), 2);
}

void TestTransfer::limitAbove2GiBIsReached()
{
    ts->put(QStringLiteral("ten.bin"), bigData(10000));
    ts->config.dataLimitKB = 3000000; // 3,072,000,000 bytes
    QVERIFY(ts->start());
    QSignalSpy limit(ts->server.get(), qOverload<WebServer *>(&WebServer::dataLimit));
    ts->server->traffic.sentBytes = 3072000000LL - 6000;

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    client.send("GET /a.txt HTTP/1.1\r\n\r\n");
    HttpReply reply;
    QVERIFY(client.read(&reply));
    QCOMPARE(reply.body, TextA);
    QCOMPARE(limit.size(), 0);
    client.send("GET /ten.bin HTTP/1.1\r\n\r\n");
    QVERIFY(limit.wait(HttpClient::Timeout));
    QVERIFY(ts->server->traffic.sentBytes > 3072000000LL - 6000);
    QVERIFY(ts->server->traffic.limitReached);
    QVERIFY(client.waitClosed());
}

void TestTransfer::fileChangingDuringTheSendKeepsTheAnnouncedLength_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("newSize");

    QTest::addRow("file cut short: the connection closes") << QByteArray("/big.bin") << 2 * 1000 * 1000;
    QTest::addRow("file grown: exactly the announced bytes") << QByteArray("/big.bin") << 12 * 1000 * 1000;
    QTest::addRow("file of an archive cut short: the connection closes") << QByteArray("/?a=zip") << 2 * 1000 * 1000;
    QTest::addRow("file of an archive grown: the bytes it had") << QByteArray("/?a=zip") << 12 * 1000 * 1000;
}

void TestTransfer::fileChangingDuringTheSendKeepsTheAnnouncedLength()
{
    QFETCH(QByteArray, target);
    QFETCH(int, newSize);
    const int size = 8 * 1000 * 1000;
    ts->put(QStringLiteral("big.bin"), bigData(size));
    QVERIFY(ts->start());

    // The client reads nothing at first, so the send stops half-way: once the kernel's buffers
    // are full (a plain connection hands a big file to the kernel), or once the socket's queue
    // is.
    QTcpSocket client;
    client.setReadBufferSize(4096);
    client.connectToHost(QHostAddress::LocalHost, ts->port());
    QVERIFY(HttpClient::waitUntil([&] { return ts->server->threads.size() == 1; }));
    ts->server->threads.first()->request.socket.setSendBufferSize(8192);
    client.write("GET " + target + " HTTP/1.1\r\n\r\n");
    QVERIFY(HttpClient::waitUntil([&] { return ts->server->traffic.sentBytes > 100 * 1000; }));
    QVERIFY(ts->server->traffic.sentBytes < 2 * 1000 * 1000);

    QFile file(ts->path(QStringLiteral("big.bin")));
    QVERIFY(file.resize(newSize));

    client.setReadBufferSize(0);
    QByteArray received;
    HttpReply reply;
    const bool whole = HttpClient::waitUntil([&] {
        received += client.readAll();
        QByteArray copy = received;
        return reply.takeFrom(copy) || client.state() == QAbstractSocket::UnconnectedState;
    }, 30000);
    QVERIFY(whole);
    received += client.readAll();
    const qsizetype head = received.indexOf("\r\n\r\n") + 4;
    // The archive holds a.txt before big.bin, with the records around them.
    const bool archive = target.contains("a=zip");
    const qsizetype before = archive ? 30 + 5 + 9 + TextA.size() + 16 + 30 + 7 + 9 : 0;
    const qsizetype length = archive ? before + size + 16 + 46 + 5 + 9 + 46 + 7 + 9 + 22 : size;
    QVERIFY(received.left(head).contains("\r\nContent-Length: " + QByteArray::number(length) + "\r\n"));
    if (newSize < size) {
        QVERIFY(HttpClient::waitUntil([&] { received += client.readAll(); return client.state() == QAbstractSocket::UnconnectedState; }));
        QVERIFY(received.size() - head < length);
        QCOMPARE(received.mid(head + before, size), bigData(size).left(int(received.size() - head - before)));
    } else {
        QCOMPARE(received.size() - head, length);
        QVERIFY(received.mid(head + before, size) == bigData(size));
        // The connection stays usable.
        client.write("GET /a.txt HTTP/1.1\r\n\r\n");
        QVERIFY(HttpClient::waitUntil([&] { received += client.readAll(); return received.endsWith(TextA); }));
    }
}

void TestTransfer::receivedAndSentBytesAreCountedOnce_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<int>("answers");
    QTest::addColumn<int>("limitKB");

    const QByteArray body = bigData(10000).toBase64().left(10000);
    const QByteArray get = "GET /a.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const QByteArray withBody = "GET /a.txt HTTP/1.1\r\nContent-Length: 10000\r\n\r\n" + body;
    const QByteArray formPost = "POST /a.txt HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                "Content-Length: 10002\r\n\r\na=log&x=" + body.left(9994);
    for (const int limitKB : {0, 100000}) {
        const char *mode = limitKB ? "with a limit" : "without a limit";
        QTest::addRow("one GET, %s", mode) << QList<QByteArray>{get} << 1 << limitKB;
        QTest::addRow("three pipelined GETs, %s", mode) << QList<QByteArray>{get + get + get} << 3 << limitKB;
        QTest::addRow("a GET with a 10000-byte body, %s", mode) << QList<QByteArray>{withBody} << 1 << limitKB;
        QTest::addRow("a form of 10002 bytes, then a GET, %s", mode) << QList<QByteArray>{formPost + get} << 2 << limitKB;
    }
}

void TestTransfer::receivedAndSentBytesAreCountedOnce()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(int, answers);
    QFETCH(int, limitKB);
    ts->config.dataLimitKB = limitKB;
    QVERIFY(ts->start());

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    qint64 written = 0;
    for (const QByteArray &bytes : std::as_const(writes)) {
        client.send(bytes);
        written += bytes.size();
        QTRY_COMPARE(ts->server->traffic.receivedBytes, written);
    }
    for (int i = 0; i < answers; ++i) {
        HttpReply reply;
        QVERIFY(client.read(&reply));
        QCOMPARE(reply.body, TextA);
    }
    QCOMPARE(ts->server->traffic.receivedBytes, written);
    QCOMPARE(ts->server->traffic.sentBytes, client.totalReceived);
    QVERIFY(!ts->server->traffic.limitReached);
}

void TestTransfer::rangesPast4GiBAreExact_data()
{
    QTest::addColumn<QByteArray>("range");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("contentRange");
    QTest::addColumn<qint64>("length");

    // Each range starts at one of the marks written into the file.
    QTest::addRow("ten bytes at 4 GiB") << QByteArray("bytes=4294967296-4294967305") << 206
                                        << QByteArray("bytes 4294967296-4294967305/5368709120") << qint64(10);
    QTest::addRow("the last 120 bytes") << QByteArray("bytes=5368709000-") << 206
                                        << QByteArray("bytes 5368709000-5368709119/5368709120") << qint64(120);
    QTest::addRow("starting at the end: 416") << QByteArray("bytes=5368709120-") << 416
                                              << QByteArray("bytes */5368709120") << qint64(0);
}

void TestTransfer::rangesPast4GiBAreExact()
{
    QFETCH(QByteArray, range);
    QFETCH(int, code);
    QFETCH(QByteArray, contentRange);
    QFETCH(qint64, length);

    // A sparse file: only the marked places take room on disk.
    const qint64 size = 5LL << 30;
    QFile file(ts->path(QStringLiteral("huge.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(size));
    const QList<qint64> marks{1LL << 31, 1LL << 32, size - 120};
    for (const qint64 at : marks) {
        QVERIFY(file.seek(at));
        QVERIFY(file.write(bigData(120)) == 120);
    }
    file.close();
    QVERIFY(ts->start());

    HttpClient client(ts->port());
    HttpReply reply = client.exchange("GET /huge.bin HTTP/1.1\r\nRange: " + range + "\r\n\r\n");
    QCOMPARE(reply.code, code);
    QCOMPARE(reply.header("Content-Range"), contentRange);
    QCOMPARE(reply.contentLength(), length);
    QCOMPARE(reply.body, bigData(120).left(int(length)));

    // The whole file announces its full 64-bit length; only the head is read here.
    HttpClient whole;
    QVERIFY(whole.connectTo(ts->port()));
    whole.send("GET /huge.bin HTTP/1.1\r\n\r\n");
    QVERIFY(HttpClient::waitUntil([&whole] { return whole.pending().contains("\r\n\r\n"); }));
    QVERIFY(whole.pending().contains("\r\nContent-Length: 5368709120\r\n"));
    whole.close();
}

void TestTransfer::peerThatNeverReadsDoesNotHoldUpOthers_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("close");

    // All of it fits the send queue: the answer is complete and the connection is to be closed.
    QTest::addRow("closing after an answer the peer does not read") << QByteArray("/big.bin") << 600 * 1000 << true;
    // More than the send queue: sending waits for room.
    QTest::addRow("download the peer does not read") << QByteArray("/big.bin") << 8 * 1000 * 1000 << false;
    QTest::addRow("archive the peer does not read") << QByteArray("/?a=zip") << 8 * 1000 * 1000 << false;
}

void TestTransfer::peerThatNeverReadsDoesNotHoldUpOthers()
{
    QFETCH(QByteArray, target);
    QFETCH(int, size);
    QFETCH(bool, close);
    ts->put(QStringLiteral("big.bin"), bigData(size));
    QVERIFY(ts->start());

    // A peer that reads nothing and never closes.
    QTcpSocket stuck;
    stuck.setReadBufferSize(1024);
    stuck.connectToHost(QHostAddress::LocalHost, ts->port());
    QVERIFY(HttpClient::waitUntil([&] { return ts->server->threads.size() == 1; }));
    // Little room in the kernel, so that the answer stays queued in the server.
    ts->server->threads.first()->request.socket.setSendBufferSize(8192);
    QElapsedTimer clock;
    clock.start();
    stuck.write("GET " + target + " HTTP/1.1\r\n" + (close ? "Connection: close\r\n" : "") + "\r\n");
    QVERIFY(HttpClient::waitUntil([&] { return ts->server->traffic.sentBytes > 0; }));
    for (int i = 0; i < 3; ++i) {
        HttpClient other;
        QVERIFY(other.connectTo(ts->port()));
        HttpReply reply;
        other.send("GET /a.txt HTTP/1.1\r\n\r\n");
        QVERIFY(other.read(&reply, 3000));
        QCOMPARE(reply.body, TextA);
    }
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(stuck.state(), QAbstractSocket::ConnectedState);
    // Sending pauses once about 1,000,000 bytes wait in the socket.
    if (!close) {
        QVERIFY(ts->server->threads.size() >= 1);
        const Socket &socket = ts->server->threads.first()->request.socket;
        QVERIFY2(socket.bytesQueued() <= 1000000 + 2048, qPrintable(QString::number(socket.bytesQueued())));
        QVERIFY(ts->server->traffic.sentBytes < size);
    }
}

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
