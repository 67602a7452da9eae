// The headless program under load and faults, driven from this process over loopback: many
// concurrent connections downloading and uploading, idle and slow peers beside normal requests,
// the server killed in the middle of uploads, the traffic limit reached in the middle of a
// download, and whole downloads of sparse files of 1 GiB and 5 GiB.
//
// ./test runs it with small counts and skips the big files; tests/stress/run.sh runs it with
// TESSALY_STRESS=long: more rounds, longer, and the big files. The figures go to the test log.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "server/webserver.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool longRun()
{
    return qgetenv("TESSALY_STRESS") == "long";
}

// A blocking loopback connection with a receive timeout.
int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const timeval timeout = {30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool sendAll(int fd, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// Reads one answer on a blocking connection.
bool readReply(int fd, HttpReply *reply)
{
    QByteArray received;
    char piece[65536];
    for (;;) {
        QByteArray copy = received;
        if (reply->takeFrom(copy))
            return true;
        const ssize_t n = ::recv(fd, piece, sizeof piece, 0);
        if (n <= 0)
            return false;
        received.append(piece, n);
    }
}

// The n-th fraction of sorted samples.
double percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, size_t(p * double(samples.size() - 1) + 0.5))];
}

// The program, run headless on 127.0.0.1 with a free port, sharing a fresh folder.
class Program
{
public:
    Program()
    {
        QDir(home.path()).mkpath(QStringLiteral("share"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        process.setProcessEnvironment(env);
        process.setProgram(TestServer::program());
    }
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    bool start(const QStringList &options = {})
    {
        process.setArguments(QStringList{QStringLiteral("--headless"), QStringLiteral("--address"),
                                         QStringLiteral("127.0.0.1"), QStringLiteral("--port"), QStringLiteral("0"),
                                         QStringLiteral("--share"), share()} + options);
        process.start();
        if (!process.waitForStarted(5000))
            return false;
        const QRegularExpression url(QStringLiteral("^http://127\\.0\\.0\\.1:(\\d+)/$"));
        while (process.waitForReadyRead(20000) || process.canReadLine()) {
            while (process.canReadLine()) {
                const QRegularExpressionMatch match = url.match(QString::fromLocal8Bit(process.readLine()).trimmed());
                if (match.hasMatch()) {
                    port = quint16(match.captured(1).toUInt());
                    return true;
                }
            }
        }
        return false;
    }

    // SIGTERM; true when the program ended normally with exit code 0.
    bool stop()
    {
        ::kill(pid_t(process.processId()), SIGTERM);
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
               && process.exitCode() == 0;
    }

    QByteArray errors()
    {
        stderrText += process.readAllStandardError();
        return stderrText;
    }

    // What a sanitizer would have said.
    bool reportedAFault()
    {
        const QByteArray text = errors();
        return text.contains("AddressSanitizer") || text.contains("runtime error:") || text.contains("LeakSanitizer");
    }

    int openDescriptors() const
    {
        return int(QDir(QStringLiteral("/proc/%1/fd").arg(process.processId()))
                       .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    }

    QByteArray limits() const
    {
        return TestServer::readFile(QStringLiteral("/proc/%1/limits").arg(process.processId()));
    }

    QString share(const QString &relative = QString()) const
    {
        return home.path() + QStringLiteral("/share") + (relative.isEmpty() ? QString() : u'/' + relative);
    }

    QTemporaryDir home;
    QProcess process;
    quint16 port = 0;
    QByteArray stderrText;
};

// One client of the concurrent test: downloads a file, then uploads one (PUT or form), on one
// keep-alive connection.
struct Peer
{
    QTcpSocket socket;
    QByteArray received;
    QByteArray upload;
    int index = 0;
    int step = 0; // 0 downloading, 1 uploading, 2 done
    QString failure;
};

const QByteArray Boundary = "--LoadBoundary";

QByteArray formUpload(const QByteArray &name, const QByteArray &data)
{
    const QByteArray body = "--" + Boundary + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"" + name
                            + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + data + "\r\n--" + Boundary + "--\r\n";
    return "POST /up/ HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + Boundary + "\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

} // namespace

class TestLoad : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void manyConcurrentDownloadsAndUploads();
    void idleAndSlowPeersDoNotDelayOthers();
    void killedServerLeavesNoCompleteLookingFile_data();
    void killedServerLeavesNoCompleteLookingFile();
    void trafficLimitInTheMiddleOfADownloadStopsCleanly();
    void sparseFilesDownloadWhole_data();
    void sparseFilesDownloadWhole();
};

void TestLoad::initTestCase()
{
    QVERIFY2(QFileInfo(TestServer::program()).isExecutable(), qPrintable(TestServer::program()));
    ::signal(SIGPIPE, SIG_IGN);
    // The clients of this test need descriptors too.
    QVERIFY(WebServer::raiseOpenFileLimit() > 1200);
}

void TestLoad::manyConcurrentDownloadsAndUploads()
{
    const int connections = 500;
    const int rounds = longRun() ? 4 : 1;
    const int downloadSize = longRun() ? 1000 * 1000 : 200 * 1000;
    const int uploadSize = longRun() ? 300 * 1000 : 60 * 1000;

    Program server;
    const QByteArray download = bigData(downloadSize);
    {
        QFile file(server.share(QStringLiteral("dl.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(download);
    }
    QVERIFY(QDir().mkpath(server.share(QStringLiteral("up"))));
    QVERIFY(server.start());
    // The program made room for its connections.
    const QByteArray limits = server.limits();
    const QRegularExpression openFiles(QStringLiteral("Max open files\\s+(\\d+)\\s+(\\d+)"));
    const QRegularExpressionMatch match = openFiles.match(QString::fromLatin1(limits));
    QVERIFY2(match.hasMatch(), limits.constData());
    QCOMPARE(match.captured(1), match.captured(2));
    // Counted once the program has settled: it has answered a request (and made the event
    // poller its connections wait on).
    const int first = connectTo(server.port);
    HttpReply settled;
    QVERIFY(sendAll(first, "GET /dl.bin HTTP/1.1\r\nConnection: close\r\n\r\n") && readReply(first, &settled));
    ::close(first);
    // (The shared folder is one of them: it is held open.)
    QVERIFY(HttpClient::waitUntil([&] { return server.openDescriptors() <= 12; }, 5000));
    const int descriptors = server.openDescriptors();

    QElapsedTimer clock;
    clock.start();
    qint64 moved = 0;
    for (int round = 0; round < rounds; ++round) {
        std::vector<std::unique_ptr<Peer>> peers;
        int done = 0;
        for (int i = 0; i < connections; ++i) {
            auto peer = std::make_unique<Peer>();
            Peer *p = peer.get();
            p->index = round * connections + i;
            const QByteArray data = bigData(uploadSize, p->index);
            const QByteArray name = "f" + QByteArray::number(p->index) + ".bin";
            p->upload = i % 2 ? formUpload(name, data)
                              : "PUT /up/" + name + " HTTP/1.1\r\nContent-Length: " + QByteArray::number(data.size())
                                    + "\r\n\r\n" + data;
            QObject::connect(&p->socket, &QTcpSocket::connected, &p->socket, [p] {
                p->socket.write("GET /dl.bin HTTP/1.1\r\n\r\n");
            });
            QObject::connect(&p->socket, &QTcpSocket::readyRead, &p->socket, [p, &done, &download, &moved] {
                p->received += p->socket.readAll();
                HttpReply reply;
                if (!reply.takeFrom(p->received))
                    return;
                if (p->step == 0) {
                    if (reply.code != 200 || reply.body != download)
                        p->failure = QStringLiteral("download: %1, %2 bytes").arg(reply.code).arg(reply.body.size());
                    moved += reply.body.size() + p->upload.size();
                    p->step = 1;
                    p->socket.write(p->upload);
                } else if (p->step == 1) {
                    const bool form = p->upload.startsWith("POST");
                    if (form ? !reply.body.contains("File sent success.") : reply.code != 201)
                        p->failure = QStringLiteral("upload: %1").arg(QString::fromLatin1(reply.statusLine));
                    p->step = 2;
                    ++done;
                    p->socket.disconnectFromHost();
                }
            });
            peers.push_back(std::move(peer));
        }
        for (auto &peer : peers)
            peer->socket.connectToHost(QHostAddress::LocalHost, server.port);
        const bool finished = HttpClient::waitUntil([&] { return done == connections; }, 120000);
        int failed = 0;
        for (const auto &peer : peers) {
            if (peer->step != 2 && peer->failure.isEmpty())
                peer->failure = QStringLiteral("unfinished at step %1, %2").arg(peer->step).arg(peer->socket.errorString());
            if (!peer->failure.isEmpty() && failed++ < 5)
                qWarning("connection %d: %s", peer->index, qPrintable(peer->failure));
        }
        QVERIFY2(finished, qPrintable(QStringLiteral("%1 of %2 done").arg(done).arg(connections)));
        QCOMPARE(failed, 0);
    }
    const qint64 elapsed = clock.elapsed();
    qInfo("%d rounds of %d concurrent connections (download %d + upload %d bytes each): %lld ms, %.1f MB/s",
          rounds, connections, downloadSize, uploadSize, elapsed, double(moved) / 1e3 / double(qMax<qint64>(1, elapsed)));

    // Every upload arrived whole under its own name, and nothing else.
    const QStringList uploaded = QDir(server.share(QStringLiteral("up"))).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(uploaded.size(), rounds * connections);
    for (int i = 0; i < rounds * connections; i += 37) {
        QFile file(server.share(QStringLiteral("up/f%1.bin").arg(i)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll() == bigData(uploadSize, i), qPrintable(file.fileName()));
    }
    // All connections are gone from the server.
    QVERIFY2(HttpClient::waitUntil([&] { return server.openDescriptors() <= descriptors; }, 20000),
             qPrintable(QStringLiteral("%1 descriptors, %2 before").arg(server.openDescriptors()).arg(descriptors)));
    QVERIFY(server.stop());
    QVERIFY2(!server.reportedAFault(), server.errors().constData());
}

void TestLoad::idleAndSlowPeersDoNotDelayOthers()
{
    const int idleCount = 200;
    const int slowCount = 50;
    const int seconds = longRun() ? 60 : 5;

    Program server;
    {
        QFile file(server.share(QStringLiteral("page.html")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bigData(20000));
    }
    QVERIFY(server.start());

    // One GET on a fresh connection, timed from connect to the last byte.
    const auto timedGet = [&server]() -> double {
        QElapsedTimer clock;
        clock.start();
        const int fd = connectTo(server.port);
        if (fd < 0)
            return -1;
        HttpReply reply;
        const bool ok = sendAll(fd, "GET /page.html HTTP/1.1\r\n\r\n") && readReply(fd, &reply);
        ::close(fd);
        return ok && reply.code == 200 && reply.body.size() == 20000 ? double(clock.nsecsElapsed()) / 1e6 : -1;
    };

    std::vector<double> baseline;
    for (int i = 0; i < 20; ++i) {
        baseline.push_back(timedGet());
        QVERIFY(baseline.back() >= 0);
        QTest::qSleep(20);
    }

    // All are taken at once: none waits for the system to retry its connection.
    QElapsedTimer connecting;
    connecting.start();
    std::vector<int> idle;
    std::vector<int> slow;
    for (int i = 0; i < idleCount; ++i) {
        idle.push_back(connectTo(server.port));
        QVERIFY(idle.back() >= 0);
    }
    for (int i = 0; i < slowCount; ++i) {
        slow.push_back(connectTo(server.port));
        QVERIFY(slow.back() >= 0);
    }
    const qint64 connectMs = connecting.elapsed();
    qInfo("%d connections opened one after the other in %lld ms", idleCount + slowCount, connectMs);
    QVERIFY2(connectMs < 900, qPrintable(QString::number(connectMs)));
    // A head that takes far longer than the test to trickle in.
    const QByteArray slowHead = "GET /page.html HTTP/1.1\r\nX-Slow: " + QByteArray(400, 's') + "\r\n\r\n";

    std::vector<double> loaded;
    QElapsedTimer clock;
    clock.start();
    int second = -1;
    while (clock.elapsed() < seconds * 1000) {
        const int now = int(clock.elapsed() / 1000);
        if (now != second) {
            second = now;
            for (const int fd : slow)
                QVERIFY(sendAll(fd, slowHead.mid(second, 1)));
        }
        const double ms = timedGet();
        QVERIFY(ms >= 0);
        loaded.push_back(ms);
        QTest::qSleep(50);
    }
    // The idle and the slow connections are all still there, unanswered.
    int open = 0;
    for (const int fd : idle) {
        pollfd p = {fd, POLLIN, 0};
        open += ::poll(&p, 1, 0) == 0;
    }
    for (const int fd : slow) {
        pollfd p = {fd, POLLIN, 0};
        open += ::poll(&p, 1, 0) == 0;
    }
    for (const int fd : idle)
        ::close(fd);
    for (const int fd : slow)
        ::close(fd);

    const double base = percentile(baseline, 0.5);
    qInfo("GET latency alone: median %.2f ms, max %.2f ms (%zu requests)", base, percentile(baseline, 1), baseline.size());
    qInfo("GET latency beside %d idle and %d slow connections (%d s): median %.2f ms, 95%% %.2f ms, max %.2f ms (%zu requests)",
          idleCount, slowCount, seconds, percentile(loaded, 0.5), percentile(loaded, 0.95), percentile(loaded, 1), loaded.size());
    QCOMPARE(open, idleCount + slowCount);
    QVERIFY(percentile(loaded, 0.5) - base < 100);
    QVERIFY2(percentile(loaded, 0.95) - base < 100, qPrintable(QString::number(percentile(loaded, 0.95))));
    QVERIFY(server.stop());
    QVERIFY2(!server.reportedAFault(), server.errors().constData());
}

void TestLoad::killedServerLeavesNoCompleteLookingFile_data()
{
    QTest::addColumn<bool>("form");
    QTest::addRow("form upload") << true;
    QTest::addRow("PUT") << false;
}

void TestLoad::killedServerLeavesNoCompleteLookingFile()
{
    QFETCH(bool, form);
    Program server;
    QVERIFY(QDir().mkpath(server.share(QStringLiteral("up"))));
    QVERIFY(server.start());

    const QByteArray data = bigData(4 * 1000 * 1000);
    const QByteArray request = form ? formUpload("big.bin", data)
                                    : "PUT /up/big.bin HTTP/1.1\r\nContent-Length: " + QByteArray::number(data.size())
                                          + "\r\n\r\n" + data;
    const int fd = connectTo(server.port);
    QVERIFY(fd >= 0);
    // Most of the file, then the server dies. The file being written may have no name at all
    // (an anonymous temporary file): it is found among the server's open files.
    QVERIFY(sendAll(fd, request.left(request.size() - 1000 * 1000)));
    const QString folder = server.share(QStringLiteral("up"));
    const auto writtenSoFar = [&] {
        const QDir descriptors(QStringLiteral("/proc/%1/fd").arg(server.process.processId()));
        for (const QFileInfo &entry : descriptors.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            if (entry.symLinkTarget().startsWith(folder + u'/'))
                return QFileInfo(entry.absoluteFilePath()).size();
        }
        return qint64(-1);
    };
    QVERIFY(HttpClient::waitUntil([&] { return writtenSoFar() >= 2 * 1000 * 1000; }, 20000));
    ::kill(pid_t(server.process.processId()), SIGKILL);
    QVERIFY(server.process.waitForFinished(10000));
    ::close(fd);

    // Nothing at all: the file had no name yet.
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot), QStringList());
}

void TestLoad::trafficLimitInTheMiddleOfADownloadStopsCleanly()
{
    Program server;
    {
        QFile file(server.share(QStringLiteral("big.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bigData(8 * 1000 * 1000));
    }
    QVERIFY(server.start({QStringLiteral("--limit-kb"), QStringLiteral("1024")}));

    // Several downloads at once; the limit falls in the middle of them.
    // All connected before the first request: once the limit falls, no new connection is served.
    std::vector<int> clients;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(connectTo(server.port));
        QVERIFY(clients.back() >= 0);
    }
    for (const int fd : clients)
        QVERIFY(sendAll(fd, "GET /big.bin HTTP/1.1\r\n\r\n"));
    qint64 total = 0;
    for (const int fd : clients) {
        char piece[65536];
        ssize_t n;
        while ((n = ::recv(fd, piece, sizeof piece, 0)) > 0)
            total += n;
        // Closed by the server, not timed out. A connection whose request was still unread when
        // the limit fell is reset rather than closed.
        const int error = n < 0 ? errno : 0;
        QVERIFY2(n == 0 || error == ECONNRESET, std::strerror(error));
        ::close(fd);
    }
    QVERIFY2(total < 2 * 1024 * 1024, qPrintable(QString::number(total)));
    QVERIFY(HttpClient::waitUntil([&] { return server.errors().contains("Network traffic limit"); }, 10000));
    QCOMPARE(server.process.state(), QProcess::Running);
    // No longer served.
    const int later = connectTo(server.port);
    if (later >= 0) {
        char byte;
        QVERIFY(!sendAll(later, "GET /big.bin HTTP/1.1\r\n\r\n") || ::recv(later, &byte, 1, 0) <= 0);
        ::close(later);
    }
    QVERIFY(server.stop());
    QVERIFY2(!server.reportedAFault(), server.errors().constData());
}

void TestLoad::sparseFilesDownloadWhole_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addRow("1 GiB") << (1LL << 30);
    QTest::addRow("5 GiB") << (5LL << 30);
}

void TestLoad::sparseFilesDownloadWhole()
{
    QFETCH(qint64, size);
    if (!longRun())
        QSKIP("whole downloads of big files only in the long run (tests/stress/run.sh)");

    Program server;
    // Only the marks take room on disk; everything else reads as zeros.
    const QByteArray mark = QCryptographicHash::hash("mark", QCryptographicHash::Sha256).repeated(2);
    // Side by side at 2^31 and 2^32, never overlapping.
    QList<qint64> marks{0, (1LL << 31) - mark.size(), 1LL << 31, (1LL << 32) - mark.size(), 1LL << 32, size - mark.size()};
    marks.removeIf([size, &mark](qint64 at) { return at + mark.size() > size; });
    {
        QFile file(server.share(QStringLiteral("huge.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));
        for (const qint64 at : marks) {
            QVERIFY(file.seek(at));
            QCOMPARE(file.write(mark), qint64(mark.size()));
        }
    }
    QVERIFY(server.start());

    const int fd = connectTo(server.port);
    QVERIFY(fd >= 0);
    QVERIFY(sendAll(fd, "GET /huge.bin HTTP/1.1\r\n\r\n"));
    QElapsedTimer clock;
    clock.start();
    std::vector<char> piece(1 << 20);
    const std::vector<char> zeros(piece.size(), 0);
    QByteArray head;
    qint64 offset = -1; // position in the file of the next byte received
    qint64 wrong = 0;
    for (;;) {
        const ssize_t n = ::recv(fd, piece.data(), piece.size(), 0);
        if (n <= 0)
            break;
        qsizetype from = 0;
        if (offset < 0) {
            head.append(piece.data(), n);
            const qsizetype end = head.indexOf("\r\n\r\n");
            if (end < 0)
                continue;
            from = n - (head.size() - end - 4);
            head.truncate(end + 4);
            offset = 0;
        }
            // Every byte outside the marks is zero.
        const char *data = piece.data() + from;
        const qint64 length = n - from;
        for (qint64 pos = 0; pos < length;) {
            const qint64 at = offset + pos;
            qint64 next = length;
            bool inMark = false;
            for (const qint64 m : std::as_const(marks)) {
                if (at >= m && at < m + mark.size()) {
                    inMark = true;
                    wrong += data[pos] != mark.at(at - m);
                } else if (m > at && m - offset < next) {
                    next = m - offset;
                }
            }
            if (inMark) {
                ++pos;
                continue;
            }
            if (std::memcmp(data + pos, zeros.data(), size_t(next - pos)) != 0)
                ++wrong;
            pos = next;
        }
        offset += n - from;
        if (offset >= size)
            break;
    }
    const qint64 elapsed = clock.elapsed();
    ::close(fd);
    QVERIFY2(head.contains("\r\nContent-Length: " + QByteArray::number(size) + "\r\n"), head.constData());
    QCOMPARE(offset, size);
    QCOMPARE(wrong, qint64(0));
    qInfo("whole download of %lld bytes: %lld ms, %.0f MB/s", size, elapsed, double(size) / 1e3 / double(qMax<qint64>(1, elapsed)));

    // A range on the same file, beyond 2^31 where the file is that large.
    const int ranged = connectTo(server.port);
    QVERIFY(ranged >= 0);
    const qint64 at = marks.size() > 2 ? marks.at(2) : marks.last();
    QVERIFY(sendAll(ranged, "GET /huge.bin HTTP/1.1\r\nRange: bytes=" + QByteArray::number(at) + '-'
                                + QByteArray::number(at + mark.size() - 1) + "\r\n\r\n"));
    HttpReply reply;
    QVERIFY(readReply(ranged, &reply));
    ::close(ranged);
    QCOMPARE(reply.code, 206);
    QCOMPARE(reply.body, mark);
    QCOMPARE(reply.header("Content-Range"), "bytes " + QByteArray::number(at) + '-'
                                                + QByteArray::number(at + mark.size() - 1) + '/' + QByteArray::number(size));
    QVERIFY(server.stop());
    QVERIFY2(!server.reportedAFault(), server.errors().constData());
}

QTEST_GUILESS_MAIN(TestLoad)
#include "tst_load.moc"
