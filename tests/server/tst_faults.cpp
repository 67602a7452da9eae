// Faults in the middle of a transfer: a client that vanishes during an upload or a download,
// a file system that refuses to write (the file size limit makes writes fail with EFBIG), and a
// file that appears under an upload's name while the upload runs. Nothing partial may be left
// under a final name, and no connection or descriptor may stay behind.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "server/eventpoller.h"
#include "server/serverthread.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <sys/file.h>
#include <sys/resource.h>

namespace {

const QByteArray TextA = "contents of a";

QByteArray put(const QByteArray &target, const QByteArray &body)
{
    return "PUT " + target + " HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void vanishingClientLeavesNothingBehind_data();
    void vanishingClientLeavesNothingBehind();
    void manyConnectionsLeaveNoDescriptors_data();
    void manyConnectionsLeaveNoDescriptors();
    void writeFailureIsReportedAndLeavesNoFile_data();
    void writeFailureIsReportedAndLeavesNoFile();
    void formUploadHasNoNameUntilItIsWhole_data();
    void formUploadHasNoNameUntilItIsWhole();
    void uploadLeftoversAreNeverListedAndGoOnceNobodyWritesThem_data();
    void uploadLeftoversAreNeverListedAndGoOnceNobodyWritesThem();

private:
    TestServer *ts = nullptr;
    rlimit fileSizeLimit = {};
};

void TestFaults::initTestCase()
{
    // As a process starts: a write past the file size limit kills it, unless the server (which
    // runs in this process) sees to it that the write fails with EFBIG instead.
    ::signal(SIGXFSZ, SIG_DFL);
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &fileSizeLimit), 0);
    // The thread's event poller holds one descriptor for as long as the thread runs: it is made
    // before any count of descriptors is taken.
    QVERIFY(EventPoller::forCurrentThread());
}

void TestFaults::init()
{
    ts = new TestServer;
    ts->put(QStringLiteral("a.txt"), TextA);
    ts->put(QStringLiteral("big.bin"), bigData(8 * 1000 * 1000));
}

void TestFaults::cleanup()
{
    ::setrlimit(RLIMIT_FSIZE, &fileSizeLimit);
    delete ts;
    ts = nullptr;
}

void TestFaults::vanishingClientLeavesNothingBehind_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("reset"); // abort instead of an orderly close

    const QByteArray data = bigData(300000);
    const QByteArray half = "half of it";
    for (const bool reset : {true, false}) {
        const char *how = reset ? "reset" : "closed";
        QTest::addRow("PUT, %s", how) << put("/new.bin", data).left(150000) << reset;
        QTest::addRow("form upload, %s", how) << uploadPost("/", "new.bin", data).left(150000) << reset;
        QTest::addRow("form upload in its part headers, %s", how)
            << uploadPost("/", "new.bin", data).left(200) << reset;
        QTest::addRow("form upload near its end, %s", how)
            << uploadPost("/", "new.bin", data).chopped(100) << reset;
        QTest::addRow("url-encoded form, %s", how)
            << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                          "Content-Length: 5000\r\n\r\na=log&x=") << reset;
        QTest::addRow("download, %s", how) << QByteArray("GET /big.bin HTTP/1.1\r\n\r\n") << reset;
    }
}

void TestFaults::vanishingClientLeavesNothingBehind()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, reset);
    QVERIFY(ts->start());
    const QStringList before = ts->names();
    const int descriptors = openDescriptors();

    {
        QTcpSocket client;
        client.setReadBufferSize(4096);
        client.connectToHost(QHostAddress::LocalHost, ts->port());
        QVERIFY(HttpClient::waitUntil([&] { return ts->server->threads.size() == 1; }));
        client.write(bytes);
        // The server has taken in all of it (and has started to answer a download).
        QVERIFY(HttpClient::waitUntil([&] {
            return client.bytesToWrite() == 0 && ts->server->traffic.receivedBytes == bytes.size()
                   && (!bytes.startsWith("GET") || ts->server->traffic.sentBytes > 0);
        }));
        QCOMPARE(ts->server->threads.size(), 1);
        if (reset)
            client.abort();
        else
            client.disconnectFromHost();
    }
    QTRY_VERIFY(ts->server->threads.isEmpty());
    QCOMPARE(ts->names(), before);
    QCOMPARE(ts->read(QStringLiteral("a.txt")), TextA);
    QTRY_COMPARE(openDescriptors(), descriptors);

    // The server goes on serving.
    HttpClient other(ts->port());
    QCOMPARE(other.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
}

void TestFaults::manyConnectionsLeaveNoDescriptors_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("serverCloses");
    QTest::addRow("keep-alive, the client closes") << QByteArray("GET /a.txt HTTP/1.1\r\n\r\n") << false;
    QTest::addRow("Connection: close") << QByteArray("GET /a.txt HTTP/1.1\r\nConnection: close\r\n\r\n") << true;
    QTest::addRow("bad head, 400") << QByteArray("GET /a.txt HTTP/1.1\r\nBad Header: x\r\n\r\n") << true;
    QTest::addRow("head never finished") << QByteArray("GET /a.txt HTTP/1.1\r\n") << false;
}

// Each end of a connection, by either side, gives its descriptor back.
void TestFaults::manyConnectionsLeaveNoDescriptors()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, serverCloses);
    QVERIFY(ts->start());
    const int descriptors = openDescriptors();
    for (int i = 0; i < 50; ++i) {
        HttpClient client;
        QVERIFY(client.connectTo(ts->port()));
        if (request.endsWith("\r\n\r\n"))
            QVERIFY(client.exchange(request).code > 0);
        else
            client.send(request);
        if (serverCloses)
            QVERIFY(client.waitClosed());
        else
            client.socket.disconnectFromHost();
    }
    QTRY_VERIFY(ts->server->threads.isEmpty());
    QTRY_COMPARE(openDescriptors(), descriptors);
}

void TestFaults::writeFailureIsReportedAndLeavesNoFile_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("message");

    const QByteArray data = bigData(300000);
    QTest::addRow("PUT of a new file") << put("/new.bin", data) << QByteArray("507 Insufficient Storage") << QByteArray();
    QTest::addRow("PUT over an existing file")
        << put("/a.txt", data) << QByteArray("507 Insufficient Storage") << QByteArray();
    QTest::addRow("form upload") << uploadPost("/", "new.bin", data) << QByteArray("200 OK")
                                 << QByteArray("File send failed: Maybe insufficient storage.");
    QTest::addRow("form upload that fails at its last bytes")
        << uploadPost("/", "new.bin", data.left(64 * 1024 + 1)) << QByteArray("200 OK")
        << QByteArray("File send failed: Maybe insufficient storage.");
}

void TestFaults::writeFailureIsReportedAndLeavesNoFile()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, message);
    QVERIFY(ts->start());
    const QStringList before = ts->names();

    // Files may grow to 64 KiB: the upload fails part-way through.
    rlimit limit = fileSizeLimit;
    limit.rlim_cur = 64 * 1024;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    HttpClient client(ts->port());
    const HttpReply reply = client.exchange(request);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &fileSizeLimit), 0);

    QCOMPARE(reply.status, status);
    if (!message.isEmpty())
        QVERIFY2(reply.body.contains(message), reply.body.constData());
    QCOMPARE(ts->names(), before);
    QCOMPARE(ts->read(QStringLiteral("a.txt")), TextA);

    // The same request succeeds once the file system takes it.
    HttpClient again(ts->port());
    const HttpReply second = again.exchange(request);
    QVERIFY(second.code == 200 || second.code == 201 || second.code == 204);
    QCOMPARE(ts->names().size(), before.size() + (request.contains("/a.txt") ? 0 : 1));
}

void TestFaults::formUploadHasNoNameUntilItIsWhole_data()
{
    QTest::addColumn<QByteArray>("rival"); // saved under the upload's name meanwhile
    QTest::addColumn<QByteArray>("said");
    QTest::addRow("nobody else") << QByteArray() << QByteArray("File sent success.");
    QTest::addRow("a file appearing during the upload is kept") << QByteArray("theirs")
                                                                 << QByteArray("File send failed: File exists");
}

void TestFaults::formUploadHasNoNameUntilItIsWhole()
{
    QFETCH(QByteArray, rival);
    QFETCH(QByteArray, said);
    QVERIFY(ts->start());
    const QStringList before = ts->names();
    const QByteArray data = bigData(500000);
    const QByteArray request = uploadPost("/", "up.bin", data);

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    client.send(request.left(300000));
    // Part of the file is written, under no name at all: a server killed now leaves nothing.
    QVERIFY(HttpClient::waitUntil([&] { return ts->server->traffic.receivedBytes == 300000; }));
    QCOMPARE(ts->names(), before);
    if (!rival.isEmpty())
        ts->put(QStringLiteral("up.bin"), rival);

    client.send(request.mid(300000));
    HttpReply reply;
    QVERIFY(client.read(&reply));
    QVERIFY2(reply.body.contains(said), reply.body.constData());
    QVERIFY(ts->read(QStringLiteral("up.bin")) == (rival.isEmpty() ? data : rival));
    QCOMPARE(ts->names(), QStringList(before) << QStringLiteral("up.bin"));
}

void TestFaults::uploadLeftoversAreNeverListedAndGoOnceNobodyWritesThem_data()
{
    QTest::addColumn<QByteArray>("request");

    QTest::addRow("folder page") << QByteArray("GET /sub HTTP/1.1\r\n\r\n");
    QTest::addRow("PROPFIND, Depth 1") << QByteArray("PROPFIND /sub HTTP/1.1\r\nDepth: 1\r\n\r\n");
    QTest::addRow("listing service, recursive from above")
        << QByteArray("PROPFIND /?r=1 HTTP/1.1\r\nUser-Agent: mc\r\n\r\n");
}

void TestFaults::uploadLeftoversAreNeverListedAndGoOnceNobodyWritesThem()
{
    QFETCH(QByteArray, request);
    ts->config.showFolders = CheckState::On;
    // Where a file system has no files without a name, a new file is written under a hidden
    // name, locked while it is written: what a server killed in the middle of an upload left,
    // one that another server writes just now (it holds the lock), and a hidden file of
    // somebody's beside them, a day old.
    for (const char *name : {"sub/.upload-3kq9ztx", "sub/.upload-fresh1", "sub/.hidden-own", "sub/.upload-notes.txt",
                             "sub/kept.txt"})
        ts->put(QLatin1String(name), "partial upload");
    QFile own(ts->path(QStringLiteral("sub/.hidden-own")));
    QVERIFY(own.open(QIODevice::ReadWrite));
    QVERIFY(own.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-25 * 3600), QFileDevice::FileModificationTime));
    QFile written(ts->path(QStringLiteral("sub/.upload-fresh1")));
    QVERIFY(written.open(QIODevice::ReadWrite));
    QCOMPARE(::flock(written.handle(), LOCK_EX | LOCK_NB), 0);
    QVERIFY(ts->start());

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    client.send(request.chopped(2) + "Connection: close\r\n\r\n");
    QVERIFY(client.waitClosed());
    const QByteArray answer = client.pending();
    QVERIFY2(answer.contains("kept.txt"), answer.constData());
    QVERIFY2(!answer.contains(".upload-3kq9ztx") && !answer.contains(".upload-fresh1"), answer.constData());
    QCOMPARE(ts->names(QStringLiteral("sub")),
             QStringList({QStringLiteral(".hidden-own"), QStringLiteral(".upload-fresh1"),
                          QStringLiteral(".upload-notes.txt"), QStringLiteral("kept.txt")}));
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
