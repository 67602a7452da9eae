// Browser sessions over real connections, with the session clock moved by hand: when a session
// ends, when the sweep removes it, and how many the server keeps.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "server/clientdata.h"

#include <QSet>
#include <QTest>

namespace {
const QByteArray TextA = "contents of a";
}

class TestSessions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sweepRemovesEndedSessionsAfterTheirLifetime_data();
    void sweepRemovesEndedSessionsAfterTheirLifetime();
    void sessionBoundToAnOpenConnectionIsNeverFreed();
    void floodOfLoginsKeepsTheSessionsBounded();

private:
    ClientData *session(qint64 id) const { return ts->server->clients.sessions.value(id); }
    HttpReply exchange(const QByteArray &request) { return ts->exchange(request); }
    static qint64 idOf(const HttpReply &reply) { return cookieOf(reply).mid(3).toLongLong(); }

    TestServer *ts = nullptr;
    qint64 now = 0;
};

void TestSessions::init()
{
    ts = new TestServer;
    ts->put(QStringLiteral("a.txt"), TextA);
    now = 1000000;
    ts->server->clients.clock = [this] { return now; };
}

void TestSessions::cleanup()
{
    delete ts;
    ts = nullptr;
}

void TestSessions::sweepRemovesEndedSessionsAfterTheirLifetime_data()
{
    QTest::addColumn<QByteArray>("request"); // of the browser that holds the session 5; empty: it closes
    QTest::addColumn<qint64>("endedAt");
    QTest::addColumn<int>("lifetime");
    QTest::addColumn<qint64>("idleMs");
    QTest::addColumn<bool>("kept");

    const qint64 start = 1000000;
    const QByteArray get = "GET /a.txt HTTP/1.1\r\n\r\n";
    QTest::addRow("600 s lifetime, idle 600 s: kept") << get << start << 600 << qint64(600000) << true;
    QTest::addRow("600 s lifetime, idle 601 s: removed") << get << start << 600 << qint64(601000) << false;
    QTest::addRow("shorter lifetime set afterwards applies at the next sweep") << get << start << 60 << qint64(61000) << false;
    // A clock that counted the time of day would start again at 0 here.
    const qint64 beforeMidnight = 86399000;
    QTest::addRow("ended a second before midnight, idle 2 s: kept") << get << beforeMidnight << 600 << qint64(2000) << true;
    QTest::addRow("ended a second before midnight, idle 601 s: removed") << get << beforeMidnight << 600 << qint64(601000)
                                                                         << false;
    // The server closes the connection: that ends the session too.
    const QList<std::pair<const char *, QByteArray>> closing{
        {"Connection: close", "GET /a.txt HTTP/1.1\r\nConnection: close\r\n\r\n"},
        {"answer while the body is unread", "POST /a.txt HTTP/1.1\r\nContent-Length: 90000\r\n\r\n" + QByteArray(3000, 'b')},
        {"forbidden path", "GET /../a.txt HTTP/1.1\r\n\r\n"},
        {"bad Content-Length", "POST /a.txt HTTP/1.1\r\nContent-Length: x\r\n\r\n"},
    };
    for (const auto &[name, request] : closing)
        QTest::addRow("server closes: %s", name) << request << start << 600 << qint64(601000) << false;
}

void TestSessions::sweepRemovesEndedSessionsAfterTheirLifetime()
{
    QFETCH(QByteArray, request);
    QFETCH(qint64, endedAt);
    QFETCH(int, lifetime);
    QFETCH(qint64, idleMs);
    QFETCH(bool, kept);
    QVERIFY(ts->start());
    now = endedAt;
    const QByteArray cookie = ts->browserSession(5);

    HttpClient client(ts->port());
    const HttpReply reply = client.exchange(request.insert(request.indexOf("\r\n") + 2, "Cookie: " + cookie + "\r\n"));
    QCOMPARE(idOf(reply), 5);
    QVERIFY(session(5));
    if (request.startsWith("GET /a.txt") && !request.contains("close"))
        client.socket.disconnectFromHost();
    QVERIFY(client.waitClosed());
    QTRY_VERIFY(!session(5)->active);
    QCOMPARE(session(5)->endTime, endedAt);

    ts->config.sessionLifetime = lifetime;
    ts->server->configurationChanged(&ts->config);
    now = endedAt + idleMs;
    ts->server->clients.checkSessions();
    QCOMPARE(session(5) != nullptr, kept);
}

void TestSessions::sessionBoundToAnOpenConnectionIsNeverFreed()
{
    ts->config.authMode = AuthMode::Password;
    ts->config.password = QStringLiteral("s3cret");
    QVERIFY(ts->start());

    HttpClient first;
    HttpClient second;
    QVERIFY(first.connectTo(ts->port()));
    QVERIFY(second.connectTo(ts->port()));
    const HttpReply login = first.exchange("GET /a.txt?a=log&password=s3cret HTTP/1.1\r\n\r\n");
    QCOMPARE(login.body, TextA);
    const qint64 id = idOf(login);
    QCOMPARE(second.exchange("GET /a.txt HTTP/1.1\r\nCookie: ID=" + QByteArray::number(id) + "\r\n\r\n").body, TextA);
    ClientData *const shared = session(id);
    QVERIFY(shared);

    // The first connection ends the session; the second one still holds it.
    first.socket.disconnectFromHost();
    QTRY_VERIFY(!shared->active);
    now += 86400000;
    ts->server->clients.checkSessions();
    QCOMPARE(session(id), shared);

    // The second connection goes on using it: still logged in, and a new login is stored there.
    QCOMPARE(second.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
    QVERIFY(second.exchange("GET /a.txt?a=log&password=other HTTP/1.1\r\n\r\n").body != TextA);
    QCOMPARE(shared->password, QStringLiteral("other"));

    // Once no connection holds it, it expires like any other.
    second.socket.disconnectFromHost();
    QTRY_COMPARE(ts->server->threads.size(), 0);
    now += 601000;
    ts->server->clients.checkSessions();
    QVERIFY(!session(id));
}

void TestSessions::floodOfLoginsKeepsTheSessionsBounded()
{
    ts->config.authMode = AuthMode::Password;
    ts->config.password = QStringLiteral("s3cret");
    ts->server->clients.maxSessions = 40;
    QVERIFY(ts->start());

    // A browser logged in long ago, and one whose connection stays open.
    const qint64 old = idOf(exchange("GET /a.txt?a=log&password=s3cret HTTP/1.1\r\n\r\n"));
    now += 1000;
    HttpClient open(ts->port());
    const HttpReply openLogin = open.exchange("GET /a.txt?a=log&password=s3cret HTTP/1.1\r\n\r\n");
    QCOMPARE(openLogin.body, TextA);
    // A client that logs in again with every request: each login is a session of its own.
    qint64 last = 0;
    for (int i = 0; i < 200; ++i) {
        now += 1000;
        last = idOf(exchange("GET /a.txt?a=log&password=s3cret HTTP/1.1\r\n\r\n"));
        QTRY_VERIFY(ts->server->threads.size() <= 1);
        QVERIFY2(ts->server->clients.sessions.size() <= 40, qPrintable(QString::number(ts->server->clients.sessions.size())));
    }
    // The sessions that ended longest ago went first; the one in use stayed, and so did the
    // newest ones.
    QVERIFY(!session(old));
    QVERIFY(session(idOf(openLogin)));
    QCOMPARE(open.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
    QVERIFY(session(last));
}

QTEST_GUILESS_MAIN(TestSessions)
#include "tst_sessions.moc"
