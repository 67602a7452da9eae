// Peers that stop making progress: a connection with no request, a head that never completes,
// a declared body that never comes or stalls, an answer nobody reads. Each is closed after the
// idle timeout (shortened here), leaving no partial file and no handler, and holds up nobody
// else meanwhile; a peer that makes progress, however slowly, is served to the end.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "server/serverthread.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray TextA = "contents of a";
constexpr int Timeout = 600;
constexpr int CloseTimeout = 300;

QByteArray multipartHead(qint64 length)
{
    return "POST /?a=up HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=XyZ\r\nContent-Length: "
           + QByteArray::number(length) + "\r\n\r\n";
}

} // namespace

class TestTimeouts : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void stalledPeerIsClosedAfterTheTimeout_data();
    void stalledPeerIsClosedAfterTheTimeout();
    void headTricklingInIsClosedOnTime();
    void slowButSteadyBodyIsSaved_data();
    void slowButSteadyBodyIsSaved();
    void peerThatNeverReadsHoldsUpNobodyAndIsClosed_data();
    void peerThatNeverReadsHoldsUpNobodyAndIsClosed();
    void slowButSteadyReaderGetsEveryAnswerWhole_data();
    void slowButSteadyReaderGetsEveryAnswerWhole();

private:
    TestServer *ts = nullptr;
};

void TestTimeouts::init()
{
    Socket::idleTimeout = Timeout;
    Socket::closeTimeout = CloseTimeout;
    ts = new TestServer;
    ts->put(QStringLiteral("a.txt"), TextA);
}

void TestTimeouts::cleanup()
{
    delete ts;
    ts = nullptr;
    Socket::idleTimeout = Socket::IdleTimeoutMs;
    Socket::closeTimeout = Socket::CloseTimeoutMs;
}

void TestTimeouts::stalledPeerIsClosedAfterTheTimeout_data()
{
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray piece = bigData(5000);
    QTest::addRow("connected, nothing sent") << QByteArray();
    QTest::addRow("half a head") << QByteArray("GET /a.txt HTTP/1.1\r\nHost: x");
    QTest::addRow("idle after an answer") << QByteArray("GET /a.txt HTTP/1.1\r\n\r\n");
    QTest::addRow("PUT stalled in the middle of its body")
        << "PUT /new.bin HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" + piece;
    QTest::addRow("form upload stalled in the middle of its file")
        << multipartHead(100000) + multipartBody("XyZ", "up.bin", piece).left(5100);
    QTest::addRow("url-encoded form whose body never comes")
        << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                      "Content-Length: 50\r\n\r\na=log&");
}

void TestTimeouts::stalledPeerIsClosedAfterTheTimeout()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(ts->start());
    const QStringList before = ts->names();

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    QElapsedTimer clock;
    clock.start();
    if (!bytes.isEmpty())
        client.send(bytes);
    QVERIFY(client.waitClosed(20 * Timeout));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= Timeout - 50, qPrintable(QString::number(elapsed)));
    QTRY_VERIFY(ts->server->threads.isEmpty());
    QCOMPARE(ts->names(), before);
}

void TestTimeouts::headTricklingInIsClosedOnTime()
{
    QVERIFY(ts->start());
    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    QElapsedTimer clock;
    clock.start();
    // One byte now and then: the head never completes, however busy the peer looks.
    const QByteArray head = "GET /a.txt HTTP/1.1\r\nX-Slow: " + QByteArray(1000, 's');
    int sent = 0;
    (void)HttpClient::waitUntil([&] {
        if (client.isClosed())
            return true;
        if (clock.elapsed() > qint64(sent) * Timeout / 6 && sent < head.size())
            client.send(head.mid(sent++, 1));
        return false;
    }, 20 * Timeout);
    QVERIFY(client.isClosed());
    QVERIFY(sent >= 4);
    QVERIFY2(clock.elapsed() < 4 * Timeout, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(client.pending().isEmpty());
}

void TestTimeouts::slowButSteadyBodyIsSaved_data()
{
    QTest::addColumn<bool>("form");
    QTest::addRow("PUT") << false;
    QTest::addRow("form upload") << true;
}

void TestTimeouts::slowButSteadyBodyIsSaved()
{
    QFETCH(bool, form);
    QVERIFY(ts->start());
    const QByteArray data = bigData(40000);
    const QByteArray body = form ? multipartBody("XyZ", "up.bin", data) : data;
    const QByteArray head = form ? multipartHead(body.size())
                                 : "PUT /up.bin HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    client.send(head);
    // Altogether far longer than the timeout, but never a pause as long as it. The last bytes
    // come alone: the closing delimiter is cut after its name.
    constexpr int Pieces = 8;
    const qsizetype step = (body.size() - 4) / Pieces + 1;
    for (int i = 0; i < Pieces; ++i) {
        QTest::qWait(Timeout / 3);
        QVERIFY2(!client.isClosed(), qPrintable(QString::number(i)));
        client.send(body.chopped(4).mid(i * step, step));
    }
    QTest::qWait(200);
    client.send(body.right(4));
    HttpReply reply;
    QVERIFY(client.read(&reply));
    if (form)
        QVERIFY(reply.body.contains("File sent success."));
    else
        QCOMPARE(reply.status, QByteArray("201 Created"));
    QVERIFY(ts->read(QStringLiteral("up.bin")) == data);
}

void TestTimeouts::peerThatNeverReadsHoldsUpNobodyAndIsClosed_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("size");

    // All of it fits the send queue: the answer is complete and the connection is to be closed.
    QTest::addRow("closing after an answer the peer does not read")
        << QByteArray("GET /big.bin HTTP/1.1\r\nConnection: close\r\n\r\n") << 600 * 1000;
    // More than the send queue: sending waits for room.
    QTest::addRow("download the peer does not read") << QByteArray("GET /big.bin HTTP/1.1\r\n\r\n") << 8 * 1000 * 1000;
    QTest::addRow("archive the peer does not read") << QByteArray("GET /?a=zip HTTP/1.1\r\n\r\n") << 8 * 1000 * 1000;
}

void TestTimeouts::peerThatNeverReadsHoldsUpNobodyAndIsClosed()
{
    QFETCH(QByteArray, request);
    QFETCH(int, size);
    // Long enough for the other clients to be served before it ends.
    Socket::idleTimeout = 5 * Timeout;
    ts->put(QStringLiteral("big.bin"), bigData(size));
    QVERIFY(ts->start());

    QTcpSocket stuck;
    stuck.setReadBufferSize(1024);
    stuck.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    stuck.connectToHost(QHostAddress::LocalHost, ts->port());
    QVERIFY(HttpClient::waitUntil([&] { return ts->server->threads.size() == 1; }));
    // Little room in the kernel, so that the answer stays queued in the server.
    ts->server->threads.first()->request.socket.setSendBufferSize(8192);
    stuck.write(request);
    QVERIFY(HttpClient::waitUntil([&] { return ts->server->traffic.sentBytes > 0; }));
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 3; ++i) {
        HttpClient other(ts->port());
        QCOMPARE(other.exchange("GET /a.txt HTTP/1.1\r\n\r\n", 3000).body, TextA);
    }
    QCOMPARE(stuck.state(), QAbstractSocket::ConnectedState);
    QVERIFY(!ts->server->threads.isEmpty());
    // Sending pauses once about 1,000,000 bytes wait in the socket.
    const Socket &socket = ts->server->threads.first()->request.socket;
    QVERIFY2(socket.bytesQueued() <= 1000000 + 2048, qPrintable(QString::number(socket.bytesQueued())));
    // The server lets go of the connection although the peer never reads.
    QVERIFY(HttpClient::waitUntil([&] { return ts->server->threads.isEmpty(); }, 20 * Timeout));
    QVERIFY2(clock.elapsed() >= 4 * Timeout, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(size < 1000000 || ts->server->traffic.sentBytes < size);
}

void TestTimeouts::slowButSteadyReaderGetsEveryAnswerWhole_data()
{
    QTest::addColumn<QByteArray>("requests");
    QTest::addColumn<QByteArray>("firstEnd"); // how the first answer's body ends
    QTest::addColumn<int>("answers");
    // More than the send queue holds, so sending waits for the reader again and again.
    QTest::addRow("a 3 MB file") << QByteArray("GET /big.bin HTTP/1.1\r\n\r\n") << bigData(3 * 1000 * 1000) << 1;
    QTest::addRow("a long listing, then a pipelined GET")
        << QByteArray("PROPFIND /many/ HTTP/1.1\r\nDepth: 1\r\n\r\nGET /a.txt HTTP/1.1\r\n\r\n")
        << QByteArray("</multistatus>") << 2;
}

void TestTimeouts::slowButSteadyReaderGetsEveryAnswerWhole()
{
    QFETCH(QByteArray, requests);
    QFETCH(QByteArray, firstEnd);
    QFETCH(int, answers);
    ts->put(QStringLiteral("big.bin"), bigData(3 * 1000 * 1000));
    for (int i = 0; i < 600; ++i)
        ts->put(QStringLiteral("many/entry-with-a-long-name-%1.txt").arg(i), TextA);
    QVERIFY(ts->start());

    // A plain socket with a small receive buffer, read a little at a time, so that the pace
    // is really the reader's.
    const int fd = rawConnect(ts->port(), 65536);
    QVERIFY(fd >= 0);
    QVERIFY(HttpClient::waitUntil([&] { return ts->server->threads.size() == 1; }));
    ts->server->threads.first()->request.socket.setSendBufferSize(8192);
    QCOMPARE(::send(fd, requests.constData(), size_t(requests.size()), 0), ssize_t(requests.size()));

    // 128 KB every sixth of the timeout: sending waits for the reader for several timeouts.
    QByteArray received;
    QList<HttpReply> replies;
    QElapsedTimer clock;
    clock.start();
    bool closed = false;
    const bool whole = HttpClient::waitUntil([&] {
        if (clock.elapsed() >= Timeout / 6) {
            clock.restart();
            char piece[128 * 1024];
            const ssize_t n = ::recv(fd, piece, sizeof piece, MSG_DONTWAIT);
            if (n > 0)
                received.append(piece, n);
            closed = n == 0;
        }
        HttpReply reply;
        while (reply.takeFrom(received)) {
            replies.append(reply);
            reply = HttpReply();
        }
        return replies.size() == answers || closed;
    }, 120 * Timeout);
    ::close(fd);
    QVERIFY(whole);
    QCOMPARE(replies.size(), answers);
    // The body has the announced length: ending in the whole file, it is the file.
    QVERIFY(replies.first().code / 100 == 2 && replies.first().body.endsWith(firstEnd));
    QCOMPARE(replies.last().body, answers > 1 ? TextA : firstEnd);
}

QTEST_GUILESS_MAIN(TestTimeouts)
#include "tst_timeouts.moc"
