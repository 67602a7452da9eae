// The listener's life: stopping keeps open connections, stopping all ends them, a restarted
// listener serves again, a copy gives its profile use back, and a listener past its limit serves
// nobody new.

#include "httpclient.h"
#include "testserver.h"

#include <QNetworkAddressEntry>
#include <QTest>

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

    void stopKeepsOpenConnections();
    void stopAllEndsOpenConnectionsAndStartServesAgain();
    void copiedListenerGivesBackItsProfileUse();
    void listenerPastItsLimitServesNoNewConnection();

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

void TestListener::stopKeepsOpenConnections()
{
    QVERIFY(ts->start());
    const quint16 port = ts->port();
    HttpClient open;
    QVERIFY(open.connectTo(port));
    QCOMPARE(open.exchange(Get).body, TextA);

    ts->server->stop();
    QVERIFY(!ts->server->isListening());
    QCOMPARE(open.exchange(Get).body, TextA);
    HttpClient late;
    QVERIFY(!late.connectTo(port));
}

void TestListener::stopAllEndsOpenConnectionsAndStartServesAgain()
{
    QVERIFY(ts->start());
    HttpClient open;
    QVERIFY(open.connectTo(ts->port()));
    QCOMPARE(open.exchange(Get).body, TextA);

    ts->server->stopAll();
    QVERIFY(ts->server->threads.isEmpty());
    QVERIFY(open.waitClosed());

    QVERIFY(ts->server->start());
    HttpClient again;
    QVERIFY(again.connectTo(ts->port()));
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
    copy->configurationModifyed(&ts->config);
    QVERIFY(copy->start());
    HttpClient client;
    QVERIFY(client.connectTo(copy->serverPort()));
    QCOMPARE(client.exchange(Get).body, TextA);
    delete copy;
    QCOMPARE(ts->config.useCount, uses);
    QVERIFY(client.waitClosed());
}

void TestListener::listenerPastItsLimitServesNoNewConnection()
{
    QVERIFY(ts->start());
    ts->server->traffic.limitReached = true;
    HttpClient client;
    if (client.connectTo(ts->port())) {
        client.send(Get);
        QVERIFY(client.waitClosed());
        QCOMPARE(client.pending(), QByteArray());
    }
    QVERIFY(ts->server->threads.isEmpty());
}

QTEST_GUILESS_MAIN(TestListener)
#include "tst_listener.moc"
