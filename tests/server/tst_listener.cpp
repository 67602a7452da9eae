// The listener's life: stopping keeps open connections, stopping all ends them, a restarted
// listener serves again, a copy gives its profile use back, a listener past its limit serves
// nobody new, and one out of descriptors goes on serving.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include <QDir>
#include <QNetworkAddressEntry>
#include <QScopeGuard>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const QByteArray TextA = "contents of a";
const QByteArray Get = "GET /a.txt HTTP/1.1\r\n\r\n";
}

class TestListener : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void stopKeepsOpenConnectionsStopAllEndsThem();
    void copiedListenerGivesBackItsProfileUse();
    void listenerOutOfDescriptorsGoesOnServing();

private:
    TestServer *ts = nullptr;
};

void TestListener::init()
{
    ts = new TestServer;
    ts->put(QStringLiteral("a.txt"), TextA);
}

void TestListener::cleanup()
{
    delete ts;
    ts = nullptr;
}

void TestListener::stopKeepsOpenConnectionsStopAllEndsThem()
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

void TestListener::copiedListenerGivesBackItsProfileUse()
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

namespace {
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

void TestListener::listenerOutOfDescriptorsGoesOnServing()
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

QTEST_GUILESS_MAIN(TestListener)
#include "tst_listener.moc"
