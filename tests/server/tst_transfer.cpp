// Moving bytes: the traffic limit and its counters, files that change while they are sent, and
// files past 4 GiB. Faults in the middle of a transfer: a client that vanishes during an upload
// or a download, a file system that refuses to write (the file size limit makes writes fail with
// EFBIG), a file that appears under an upload's name while the upload runs: nothing partial may
// be left under a final name, and no connection or descriptor may stay behind, whichever side
// ends it. And the listener's life: stopping keeps open connections, stopping all ends them, a
// restarted listener serves again, a copy gives its profile use back, and one out of descriptors
// goes on serving.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "server/eventpoller.h"
#include "server/serverthread.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray TextA = "contents of a";
const QByteArray Get = "GET /a.txt HTTP/1.1\r\n\r\n";

QByteArray put(const QByteArray &target, const QByteArray &body)
{
    return "PUT " + target + " HTTP/1.1\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

bool closedByServer(int fd)
{
    pollfd p = {fd, POLLIN, 0};
    char byte;
    return ::poll(&p, 1, 0) == 1 && ::recv(fd, &byte, 1, MSG_DONTWAIT) <= 0;
}

qint64 processorMs()
{
    rusage usage = {};
    ::getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

} // namespace

class TestTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void limitReachedDuringADownloadStopsTheServer_data();
    void limitReachedDuringADownloadStopsTheServer();
    void fileChangingDuringTheSendKeepsTheAnnouncedLength_data();
    void fileChangingDuringTheSendKeepsTheAnnouncedLength();
    void receivedAndSentBytesAreCountedOnce_data();
    void receivedAndSentBytesAreCountedOnce();
    void rangesPast4GiBAreExact_data();
    void rangesPast4GiBAreExact();
    void stopKeepsOpenConnectionsStopAllEndsThem();
    void copiedListenerGivesBackItsProfileUse();
    void listenerOutOfDescriptorsGoesOnServing();
    void vanishingClientLeavesNothingBehind_data();
    void vanishingClientLeavesNothingBehind();
    void writeFailureIsReportedAndLeavesNoFile_data();
    void writeFailureIsReportedAndLeavesNoFile();
    void uploadHasNoNameUntilItIsWhole_data();
    void uploadHasNoNameUntilItIsWhole();
    void uploadLeftoversAreNeverListedAndGoOnceNobodyWritesThem();

private:
    TestServer *ts = nullptr;
    rlimit fileSizeLimit = {};
};

void TestTransfer::initTestCase()
{
    // As a process starts: a write past the file size limit kills it, unless the server (which
    // runs in this process) sees to it that the write fails with EFBIG instead.
    ::signal(SIGXFSZ, SIG_DFL);
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &fileSizeLimit), 0);
    // The thread's event poller holds one descriptor for as long as the thread runs: it is made
    // before any count of descriptors is taken.
    QVERIFY(EventPoller::forCurrentThread());
}

void TestTransfer::init()
{
    ts = new TestServer;
    ts->put(QStringLiteral("a.txt"), TextA);
}

void TestTransfer::cleanup()
{
    ::setrlimit(RLIMIT_FSIZE, &fileSizeLimit);
    delete ts;
    ts = nullptr;
}

void TestTransfer::limitReachedDuringADownloadStopsTheServer_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("limitKB");
    QTest::addColumn<qint64>("counted"); // bytes sent before

    QTest::addRow("a file") << QByteArray("/big.bin") << 64 << qint64(0);
    QTest::addRow("a folder as one archive") << QByteArray("/?a=zip") << 64 << qint64(0);
    // 3,072,000,000 bytes: past what 32 bits hold.
    QTest::addRow("a limit above 2 GiB") << QByteArray("/big.bin") << 3000000 << qint64(3072000000LL - 6000);
}

void TestTransfer::limitReachedDuringADownloadStopsTheServer()
{
    QFETCH(QByteArray, target);
    QFETCH(int, limitKB);
    QFETCH(qint64, counted);
    ts->put(QStringLiteral("big.bin"), bigData(1024 * 1024));
    ts->config.dataLimitKB = limitKB;
    QVERIFY(ts->start());
    WebServer *server = ts->server.get();
    server->traffic.sentBytes = counted;
    // What the window does: stop the server from the slot.
    QObject::connect(server, qOverload<WebServer *>(&WebServer::dataLimit), server, [](WebServer *s) {
        s->stopAll();
        s->stop();
    });
    QSignalSpy limit(server, qOverload<WebServer *>(&WebServer::dataLimit));

    HttpClient client(ts->port());
    QCOMPARE(client.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
    QCOMPARE(limit.size(), 0);
    client.send("GET " + target + " HTTP/1.1\r\n\r\n");
    QVERIFY(limit.wait(HttpClient::Timeout));
    QCOMPARE(limit.first().first().value<WebServer *>(), server);
    QVERIFY(client.waitClosed());
    QVERIFY(server->threads.isEmpty());
    QVERIFY(!server->isListening());

    // The download was cut: no more than the limit and the piece in progress went out.
    const qint64 total = server->traffic.sentBytes + server->traffic.receivedBytes;
    QVERIFY(total >= limitKB * 1024LL);
    QVERIFY2(total <= limitKB * 1024LL + 2048, qPrintable(QString::number(total)));
    QVERIFY(client.totalReceived <= server->traffic.sentBytes - counted);
    QCOMPARE(limit.size(), 1);

    // Restarted, the server serves again until the next byte counted reaches the limit again.
    QVERIFY(server->start());
    HttpClient again(server->serverPort());
    again.send("GET /a.txt HTTP/1.1\r\n\r\n");
    QVERIFY(limit.wait(HttpClient::Timeout));
    QCOMPARE(limit.size(), 2);
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
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("answers");
    QTest::addColumn<int>("limitKB");

    const QByteArray get = "GET /a.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const QByteArray withBody = "GET /a.txt HTTP/1.1\r\nContent-Length: 10000\r\n\r\n" + QByteArray(10000, 'b');
    const QByteArray form = formPost("/a.txt", "a=log&x=" + QByteArray(9994, 'f'));
    for (const int limitKB : {0, 100000}) {
        const char *mode = limitKB ? "with a limit" : "without a limit";
        QTest::addRow("three pipelined GETs, %s", mode) << get + get + get << 3 << limitKB;
        QTest::addRow("a GET with a 10000-byte body, %s", mode) << withBody << 1 << limitKB;
        QTest::addRow("a form of 10002 bytes, then a GET, %s", mode) << form + get << 2 << limitKB;
    }
}

void TestTransfer::receivedAndSentBytesAreCountedOnce()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, answers);
    QFETCH(int, limitKB);
    ts->config.dataLimitKB = limitKB;
    QVERIFY(ts->start());

    HttpClient client(ts->port());
    client.send(bytes);
    for (int i = 0; i < answers; ++i)
        QCOMPARE(client.reply().body, TextA);
    QCOMPARE(ts->server->traffic.receivedBytes, qint64(bytes.size()));
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
}

void TestTransfer::stopKeepsOpenConnectionsStopAllEndsThem()
{
    QVERIFY(ts->start());
    const quint16 port = ts->port();
    HttpClient open(port);
    QCOMPARE(open.exchange(Get).body, TextA);

    ts->server->stop();
    QVERIFY(!ts->server->isListening());
    QCOMPARE(open.exchange(Get).body, TextA);
    HttpClient late;
    QVERIFY(!late.connectTo(port));

    ts->server->stopAll();
    QVERIFY(ts->server->threads.isEmpty());
    QVERIFY(open.waitClosed());
    QVERIFY(ts->server->start());
    HttpClient again(ts->port());
    QCOMPARE(again.exchange(Get).body, TextA);
}

void TestTransfer::copiedListenerGivesBackItsProfileUse()
{
    QVERIFY(ts->start());
    const int uses = ts->config.useCount;
    auto *copy = ts->copyListener().release();
    QCOMPARE(ts->config.useCount, uses + 1);
    QCOMPARE(copy->config, &ts->config);
    QCOMPARE(copy->root, ts->server->root);
    QCOMPARE(copy->address->ip(), ts->server->address->ip());
    copy->configurationChanged(&ts->config);
    QVERIFY(copy->start());
    HttpClient client(copy->serverPort());
    QCOMPARE(client.exchange(Get).body, TextA);
    delete copy;
    QCOMPARE(ts->config.useCount, uses);
    QVERIFY(client.waitClosed());
}

void TestTransfer::listenerOutOfDescriptorsGoesOnServing()
{
    ts->config.maxConnections = 4;
    QVERIFY(ts->start());
    // This process may open 40 descriptors more: 30 go to idle clients, which leaves the
    // listener too few for their connections.
    rlimit limit = {};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlimit before = limit;
    const auto restore = qScopeGuard([&before] { ::setrlimit(RLIMIT_NOFILE, &before); });
    const int open = int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    limit.rlim_cur = rlim_t(open + 40);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    std::vector<int> idle;
    const auto closeAll = qScopeGuard([&idle] {
        for (const int fd : idle)
            ::close(fd);
    });
    for (int i = 0; i < 30; ++i) {
        idle.push_back(rawConnect(ts->port()));
        QVERIFY(idle.back() >= 0);
    }
    // The connections that waited longest make room for the ones still to be taken, the newest
    // stay.
    QVERIFY(HttpClient::waitUntil([&] { return closedByServer(idle.front()); }, 5000));
    QVERIFY(!closedByServer(idle.back()));
    // Nothing spins.
    const qint64 used = processorMs();
    (void)HttpClient::waitUntil([] { return false; }, 500);
    QVERIFY2(processorMs() - used < 150, qPrintable(QString::number(processorMs() - used)));
    // A request is answered.
    QCOMPARE(ts->exchange(Get).body, TextA);
}

void TestTransfer::vanishingClientLeavesNothingBehind_data()
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
        // The server ends these itself.
        QTest::addRow("Connection: close, %s", how) << QByteArray("GET /a.txt HTTP/1.1\r\nConnection: close\r\n\r\n")
                                                   << reset;
        QTest::addRow("a bad head, %s", how) << QByteArray("GET /a.txt HTTP/1.1\r\nBad Header: x\r\n\r\n") << reset;
    }
}

void TestTransfer::vanishingClientLeavesNothingBehind()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, reset);
    ts->put(QStringLiteral("big.bin"), bigData(8 * 1000 * 1000));
    QVERIFY(ts->start());
    const QStringList before = ts->names();
    const int descriptors = openDescriptors();

    {
        QTcpSocket client;
        client.setReadBufferSize(4096);
        client.connectToHost(QHostAddress::LocalHost, ts->port());
        QVERIFY(HttpClient::waitUntil([&] { return ts->server->threads.size() == 1; }));
        client.write(bytes);
        // The server has taken in all of it (and has started to answer).
        QVERIFY(HttpClient::waitUntil([&] {
            return client.bytesToWrite() == 0 && ts->server->traffic.receivedBytes == bytes.size()
                   && (!bytes.startsWith("GET") || ts->server->traffic.sentBytes > 0);
        }));
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

void TestTransfer::writeFailureIsReportedAndLeavesNoFile_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer"); // "code text-in-the-body"

    const QByteArray data = bigData(300000);
    const QByteArray failed = "200 File send failed: Maybe insufficient storage.";
    QTest::addRow("PUT of a new file") << put("/new.bin", data) << QByteArray("507");
    QTest::addRow("PUT over an existing file") << put("/a.txt", data) << QByteArray("507");
    QTest::addRow("form upload") << uploadPost("/", "new.bin", data) << failed;
    QTest::addRow("form upload that fails at its last bytes") << uploadPost("/", "new.bin", data.left(64 * 1024 + 1))
                                                              << failed;
}

void TestTransfer::writeFailureIsReportedAndLeavesNoFile()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QVERIFY(ts->start());
    const QStringList before = ts->names();

    // Files may grow to 64 KiB: the upload fails part-way through.
    rlimit limit = fileSizeLimit;
    limit.rlim_cur = 64 * 1024;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    HttpClient client(ts->port());
    const HttpReply reply = client.exchange(request);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &fileSizeLimit), 0);

    QCOMPARE(QByteArray::number(reply.code), answer.left(3));
    QVERIFY2(reply.body.contains(answer.mid(4)), reply.body.constData());
    QCOMPARE(ts->names(), before);
    QCOMPARE(ts->read(QStringLiteral("a.txt")), TextA);

    // The same request succeeds once the file system takes it.
    HttpClient again(ts->port());
    const HttpReply second = again.exchange(request);
    QVERIFY(second.code == 200 || second.code == 201 || second.code == 204);
    QCOMPARE(ts->names().size(), before.size() + (request.contains("/a.txt") ? 0 : 1));
}

void TestTransfer::uploadHasNoNameUntilItIsWhole_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("rival"); // saved under the upload's name meanwhile
    QTest::addColumn<QByteArray>("said");

    const QByteArray form = uploadPost("/", "up.bin", bigData(500000));
    QTest::addRow("form upload") << form << QByteArray() << QByteArray("File sent success.");
    QTest::addRow("form upload, a file appearing meanwhile is kept") << form << QByteArray("theirs")
                                                                       << QByteArray("File send failed: File exists");
    QTest::addRow("PUT") << put("/up.bin", bigData(500000)) << QByteArray() << QByteArray();
}

void TestTransfer::uploadHasNoNameUntilItIsWhole()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, rival);
    QFETCH(QByteArray, said);
    QVERIFY(ts->start());
    const QStringList before = ts->names();

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
    QVERIFY2(reply.code / 100 == 2 && reply.body.contains(said), reply.body.constData());
    QVERIFY(ts->read(QStringLiteral("up.bin")) == (rival.isEmpty() ? bigData(500000) : rival));
    QCOMPARE(ts->names(), QStringList(before) << QStringLiteral("up.bin"));
}

void TestTransfer::uploadLeftoversAreNeverListedAndGoOnceNobodyWritesThem()
{
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

    // WebDAV clients see hidden names, folder pages do not.
    const QByteArray answer = ts->rawExchange("PROPFIND /sub HTTP/1.1\r\nDepth: 1\r\nConnection: close\r\n\r\n");
    QVERIFY2(answer.contains("kept.txt"), answer.constData());
    QVERIFY2(!answer.contains(".upload-3kq9ztx") && !answer.contains(".upload-fresh1"), answer.constData());
    QCOMPARE(ts->names(QStringLiteral("sub")),
             QStringList({QStringLiteral(".hidden-own"), QStringLiteral(".upload-fresh1"),
                          QStringLiteral(".upload-notes.txt"), QStringLiteral("kept.txt")}));
}

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
