// The headless program under load, driven from this process over loopback: many concurrent
// connections downloading and uploading. ./test runs it with small counts; tests/stress/run.sh
// runs it with TESSALY_STRESS=long: more rounds and larger files. The figures go to the test log.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "server/webserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

#include <csignal>

namespace {

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

    // A program still running when the test ends is killed with its QProcess.
    bool start()
    {
        process.setArguments({QStringLiteral("--headless"), QStringLiteral("--address"), QStringLiteral("127.0.0.1"),
                              QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--share"), share()});
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

    int openDescriptors() const
    {
        return int(QDir(QStringLiteral("/proc/%1/fd").arg(process.processId()))
                       .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    }

    QString share(const QString &relative = QString()) const
    {
        return home.path() + QStringLiteral("/share") + (relative.isEmpty() ? QString() : u'/' + relative);
    }

    QTemporaryDir home;
    QProcess process;
    quint16 port = 0;
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

} // namespace

class TestLoad : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void manyConcurrentDownloadsAndUploads();
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
    const bool longRun = qgetenv("TESSALY_STRESS") == "long";
    const int connections = 500;
    const int rounds = longRun ? 4 : 1;
    const int downloadSize = longRun ? 1000 * 1000 : 200 * 1000;
    const int uploadSize = longRun ? 300 * 1000 : 60 * 1000;

    Program server;
    const QByteArray download = bigData(downloadSize);
    TestServer::writeFile(server.share(QStringLiteral("dl.bin")), download);
    QVERIFY(QDir().mkpath(server.share(QStringLiteral("up"))));
    QVERIFY(server.start());
    // The program made room for its connections.
    const QRegularExpression openFiles(QStringLiteral("Max open files\\s+(\\d+)\\s+(\\d+)"));
    const QRegularExpressionMatch match = openFiles.match(QString::fromLatin1(
        TestServer::readFile(QStringLiteral("/proc/%1/limits").arg(server.process.processId()))));
    QVERIFY(match.hasMatch() && match.captured(1) == match.captured(2));
    // Counted once the program has settled: it has answered a request (and made the event
    // poller its connections wait on). The shared folder is one of them: it is held open.
    HttpClient settled(server.port);
    QCOMPARE(settled.exchange("GET /dl.bin HTTP/1.1\r\nConnection: close\r\n\r\n").body, download);
    settled.close();
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
            p->upload = i % 2 ? uploadPost("/up/", name, data)
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
}

QTEST_GUILESS_MAIN(TestLoad)
#include "tst_load.moc"
