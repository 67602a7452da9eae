// Who may read and change what: the login page of password-only access, Basic authentication,
// the write switches and the checks of other sites and host names, as one table of requests;
// then the sessions a login holds for, with the session clock moved by hand (when a session ends,
// when the sweep removes it), and the slowing of password guesses.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "server/clientdata.h"
#include "server/guessdelay.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QSysInfo>
#include <QScopeGuard>
#include <QTest>

namespace {

const QByteArray TextA = "contents of a";

QByteArray loginPage()
{
    return TestServer::readFile(TestServer::buildDir() + QStringLiteral("/lang/C/login.html"));
}

QByteArray withCookie(const QByteArray &request, const QByteArray &cookie)
{
    const qsizetype lineEnd = request.indexOf("\r\n");
    return request.left(lineEnd + 2) + "Cookie: " + cookie + "\r\n" + request.mid(lineEnd + 2);
}

// Everything below `path`: "name=content" for a file, "name/" for a folder, by relative path.
QStringList tree(const QString &path)
{
    QStringList facts;
    QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        facts.append(info.filePath().mid(path.size()) + (info.isDir() ? QStringLiteral("/") : u'=' + QString::fromLatin1(TestServer::readFile(info.filePath()))));
    }
    facts.sort();
    return facts;
}

// A request as it comes from 127.0.0.1:PORT (the listener's port is put in place of "PORT").
QByteArray sent(const QByteArray &method, const QByteArray &target, const QByteArray &headers = QByteArray(),
                const QByteArray &body = QByteArray())
{
    return method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1:PORT\r\n" + headers + "Content-Length: "
           + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray formSent(const QByteArray &body, const QByteArray &headers = QByteArray())
{
    return sent("POST", "/", headers + "Content-Type: application/x-www-form-urlencoded\r\n", body);
}

QByteArray to(const char *path)
{
    return "Destination: http://127.0.0.1:PORT" + QByteArray(path) + "\r\n";
}

} // namespace

class TestAccess : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void requestsAreAnsweredByTheRules_data();
    void requestsAreAnsweredByTheRules();
    void loginHandsOutAFreshSession_data();
    void loginHandsOutAFreshSession();
    void sweepRemovesEndedSessionsAfterTheirLifetime_data();
    void sweepRemovesEndedSessionsAfterTheirLifetime();
    void sessionBoundToAnOpenConnectionIsNeverFreed();
    void passwordGuessingIsSlowedPerAddress_data();
    void passwordGuessingIsSlowedPerAddress();

private:
    ClientData *session(qint64 id) const { return ts->server->clients.sessions.value(id); }
    static qint64 idOf(const HttpReply &reply) { return cookieOf(reply).mid(3).toLongLong(); }

    TestServer *ts = nullptr;
    qint64 now = 0; // the session clock, moved by hand
};

void TestAccess::init()
{
    ts = new TestServer;
    now = 1000000;
    ts->server->clients.clock = [this] { return now; };
    ts->put(QStringLiteral("a.txt"), TextA);
    ts->put(QStringLiteral("Client.jar"), TestServer::ClientArchive);
    ts->put(QStringLiteral("secretClient.jar"), TestServer::ClientArchive);
    ts->put(QStringLiteral("sub/KestruneClient.jar"), TestServer::ClientArchive);
    ts->put(QStringLiteral("sub/inner.txt"), "inner");
    ts->config.password = QStringLiteral("s3cret");
    ts->config.users = QStringList{QStringLiteral("anna:s3cret"), QStringLiteral("bob:pa:ss%41"),
                                   QString::fromUtf8("j\xC3\xBCrgen:\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C\xE2\x82\xAC"),
                                   QString::fromUtf8("ren\xC3\xA9:s\xC3\xA9same")};
    ts->config.allowedHosts = QStringList{QStringLiteral("files.example"), QStringLiteral("nas.home:8080")};
}

void TestAccess::cleanup()
{
    delete ts;
    ts = nullptr;
}

void TestAccess::requestsAreAnsweredByTheRules_data()
{
    // The words of the setting: password, basic (else open access), odd (the password "p w&%=\u00e9"),
    // nobody (no user list), no-upload, no-delete.
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("status"); // how the status line begins; a refusal leaves the share as it was
    QTest::addColumn<QByteArray>("shown");  // in the answer; LOGIN: the answer is the login page
    const auto row = [](const char *name, const char *setting, const QByteArray &request, const char *status,
                        const QByteArray &shown = QByteArray()) {
        QTest::addRow("%s: %s", setting, name) << QByteArray(setting) << request << QByteArray(status) << shown;
    };

    // Password only: a browser gets the login page for every path, a WebDAV client the challenge
    // it can answer.
    const char *const login = "403 Forbidden";
    row("GET of a folder", "password", "GET / HTTP/1.1\r\n\r\n", login, "LOGIN");
    row("GET of a file", "password", "GET /a.txt HTTP/1.1\r\n\r\n", login, "LOGIN");
    row("upload POST to a folder", "password", uploadPost("/?a=up", "escaped.txt"), login, "LOGIN");
    const char *const challenge = "401 Authorization Required";
    for (const char *method : {"PUT", "DELETE", "PROPFIND", "MKCOL", "HEAD", "LOCK", "UNLOCK", "COPY", "MOVE"})
        row(method, "password", QByteArray(method) + " /a.txt HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody", challenge);
    row("OPTIONS needs no password", "password", "OPTIONS / HTTP/1.1\r\n\r\n", "200");
    row("the password as Basic credentials, any user", "password",
        sent("PROPFIND", "/", "Depth: 0\r\n" + basicAuth("anyone:s3cret")), "207");
    row("the password as Basic credentials, no user", "password", sent("GET", "/a.txt", basicAuth(":s3cret")), "200", TextA);
    row("a wrong password as Basic credentials", "password", sent("GET", "/a.txt", basicAuth("s3cret:wrong")), challenge);
    // The applet's archive, and only it, needs no login.
    row("the client archive", "password", sent("GET", "/_i/KestruneClient.jar"), "200", TestServer::ClientArchive);
    for (const char *target : {"/Client.jar", "/secretClient.jar", "/sub/KestruneClient.jar", "/_i/KestruneClient.jarx",
                               "/_i/kestruneclient.jar"})
        row(target, "password", "GET " + QByteArray(target) + " HTTP/1.1\r\n\r\n", login, "LOGIN");
    // A login: the answer is the file asked for.
    row("a=log in the query of a GET", "password", "GET /a.txt?a=log&password=s3cret HTTP/1.1\r\n\r\n", "200", TextA);
    row("the body replaces the query of the request line", "password",
        formPost("/a.txt?a=x&password=bad", "a=log&password=s3cret"), "200", TextA);
    row("form decoding: plus is a blank, escapes are decoded", "password odd",
        formPost("/a.txt", "a=log&password=p+w%26%25%3D%C3%A9"), "200", TextA);
    row("a=log on a request for another file", "password", "GET /missing?password=s3cret&a=log HTTP/1.1\r\n\r\n", "404");
    row("PUT of the client archive", "password", sent("PUT", "/_i/KestruneClient.jar", {}, "evil"), challenge);

    // Basic: the user list.
    const auto get = [](const QByteArray &credentials) { return sent("GET", "/a.txt", basicAuth(credentials)); };
    row("no credentials", "basic", sent("GET", "/a.txt"), challenge);
    row("right credentials", "basic", get("anna:s3cret"), "200", TextA);
    row("wrong password", "basic", get("anna:wrong"), challenge);
    row("unknown user", "basic", get("carl:s3cret"), challenge);
    row("password with a colon and a percent sign", "basic", get("bob:pa:ss%41"), "200", TextA);
    row("credentials end at a NUL byte", "basic", get(QByteArray("anna:s3cret\0junk", 16)), "200", TextA);
    row("empty user list refuses everyone", "basic nobody", get("anna:s3cret"), challenge);
    // RFC 7617: browsers and WebDAV clients send UTF-8; older clients Latin-1.
    row("UTF-8 name and password outside Latin-1", "basic",
        get("j\xC3\xBCrgen:\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C\xE2\x82\xAC"), "200", TextA);
    row("Latin-1 bytes of the same letters", "basic", get("ren\xE9:s\xE9same"), "200", TextA);

    // Uploads off: nothing that makes a name. Deleting off: nothing that removes or replaces one,
    // whoever the client says it is.
    const char *const forbidden = "403 Forbidden";
    const QByteArray upload = uploadPost("/", "new.txt", "new", "Host: 127.0.0.1:PORT\r\n");
    row("PUT of a new file", "no-upload", sent("PUT", "/new.txt", {}, "new"), "423 Read only");
    row("MKCOL", "no-upload", sent("MKCOL", "/new"), forbidden);
    row("COPY of a file", "no-upload", sent("COPY", "/a.txt", to("/c.txt")), forbidden);
    row("MOVE", "no-upload", sent("MOVE", "/a.txt", to("/c.txt")), forbidden);
    row("LOCK of a new name", "no-upload", sent("LOCK", "/new.txt"), forbidden);
    row("LOCK of a file makes nothing", "no-upload",
        sent("LOCK", "/a.txt", {}, "<lockinfo xmlns=\"DAV:\"><lockscope><shared/></lockscope></lockinfo>"), "200 Locked");
    row("form upload", "no-upload", upload, forbidden);
    row("form upload after a page link", "no-upload", QByteArray(upload).replace("POST /", "POST /?a=p&p=1"), forbidden);
    row("create-folder action", "no-upload", formSent("a=cfd&f=new"), forbidden);
    row("deleting goes on", "no-upload", sent("DELETE", "/a.txt"), "200 File deleted");
    row("DELETE of a file", "no-delete", sent("DELETE", "/a.txt"), "423 Read-only");
    row("PUT over a file", "no-delete", sent("PUT", "/a.txt", {}, "new"), "412 Precondition Failed");
    row("PUT over a file as the applet", "no-delete", sent("PUT", "/a.txt", "User-Agent: mc\r\n", "new"),
        "412 Precondition Failed");
    row("MOVE onto a file", "no-delete", sent("MOVE", "/a.txt", to("/sub/inner.txt") + "Overwrite: T\r\n"), "412 Name exists");
    row("COPY onto a file", "no-delete", sent("COPY", "/a.txt", to("/sub/inner.txt")), "412 Precondition Failed");
    row("delete action", "no-delete", formSent("a=del&f=a.txt&d=sub"), forbidden);
    row("PUT of a new file goes on", "no-delete", sent("PUT", "/new.txt", {}, "new"), "201 Created");

    // No browser may change anything from another site's page.
    const QByteArray del = "a=del&f=a.txt";
    const QByteArray evil = "Origin: http://evil.example\r\n";
    row("POST from another site's page", "open", formSent(del, evil), forbidden);
    row("POST from the share's own page", "open", formSent(del, "Origin: http://127.0.0.1:PORT\r\n"), "200");
    row("POST from a sandboxed page", "open", formSent(del, "Origin: null\r\n"), forbidden);
    row("POST said to come from another site", "open", formSent(del, "Sec-Fetch-Site: cross-site\r\n"), forbidden);
    row("POST said to come from the same origin", "open",
        formSent(del, "Sec-Fetch-Site: same-origin\r\nOrigin: http://127.0.0.1:PORT\r\n"), "200");
    row("POST without either header (curl)", "open", formSent(del), "200");
    for (const char *method : {"PUT", "DELETE", "MKCOL", "LOCK"})
        row(method, "open", sent(method, "/a.txt", evil), forbidden);
    row("COPY from another site's page", "open", sent("COPY", "/a.txt", evil + to("/c.txt")), forbidden);
    row("GET from another site's page is read", "open", sent("GET", "/a.txt", evil), "200", TextA);
    // An open share answers only under this server's names: a name of another site made to point
    // here is refused.
    const auto named = [](const QByteArray &method, const QByteArray &host) {
        return sent(method, "/a.txt").replace("Host: 127.0.0.1:PORT", "Host: " + host);
    };
    const char *const misdirected = "421";
    row("another name", "open", named("GET", "evil.example"), misdirected);
    row("another name, PUT", "open", named("PUT", "evil.example:PORT"), misdirected);
    row("a name that is not one", "open", named("GET", "a b"), misdirected);
    row("the connection's address", "open", named("GET", "127.0.0.1:PORT"), "200", TextA);
    row("localhost", "open", named("GET", "localhost:PORT"), "200", TextA);
    row("the machine's name", "open", named("GET", "HOSTNAME:PORT"), "200", TextA);
    row("a name the owner allowed", "open", named("GET", "files.example:PORT"), "200", TextA);
    row("an allowed name in capitals, its port not compared", "open", named("GET", "NAS.home"), "200", TextA);
    row("a name the window learnt", "open", named("GET", "public.example"), "200", TextA);
    row("no Host (HTTP/1.0)", "open", "GET /a.txt HTTP/1.0\r\n\r\n", "200", TextA);
    // Behind a password another site has no login of its own: any name is answered.
    const QByteArray key = basicAuth(":s3cret");
    row("another name", "password", sent("GET", "/a.txt", key).replace("127.0.0.1:PORT", "evil.example"), "200", TextA);
    row("POST from another site's page", "password", formSent(del, evil + key), forbidden);
    row("POST from another site's page", "basic", formSent(del, evil + basicAuth("anna:s3cret")), forbidden);
    row("POST from the share's own page", "basic",
        formSent(del, "Origin: http://127.0.0.1:PORT\r\n" + basicAuth("anna:s3cret")), "200");
}

void TestAccess::requestsAreAnsweredByTheRules()
{
    QFETCH(QByteArray, setting);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, shown);
    const QByteArrayList words = setting.split(' ');
    ts->config.authMode = words.contains("password") ? AuthMode::Password
                          : words.contains("basic")  ? AuthMode::Basic
                                                     : AuthMode::None;
    if (words.contains("odd"))
        ts->config.password = QString::fromUtf8("p w&%=\xC3\xA9");
    if (words.contains("nobody"))
        ts->config.users.clear();
    ts->config.enableUpload = words.contains("no-upload") ? CheckState::Off : CheckState::On;
    ts->config.enableDelete = words.contains("no-delete") ? CheckState::Off : CheckState::On;
    QVERIFY(ts->start());
    ts->server->publicNames = QStringList{QStringLiteral("public.example")};
    const QStringList before = tree(ts->share);

    request.replace("PORT", QByteArray::number(ts->port())).replace("HOSTNAME", QSysInfo::machineHostName().toUtf8());
    HttpClient client(ts->port());
    const HttpReply reply = request.startsWith("HEAD") ? client.exchangeHead(request) : client.exchange(request);
    QVERIFY2(reply.status.startsWith(status), reply.statusLine.constData());
    if (shown == "LOGIN") {
        QCOMPARE(reply.body, loginPage());
        // The login page is the server's own: its form has to post, and no other site may frame it.
        QCOMPARE(reply.header("Content-Security-Policy"), QByteArray("frame-ancestors 'none'"));
    } else {
        QVERIFY2(reply.body.contains(shown), reply.body.left(300).constData());
    }
    if (reply.code == 401)
        QCOMPARE(reply.header("WWW-Authenticate"), QByteArray("Basic realm=\"Private Area\""));
    if (reply.code == 401 || shown == "LOGIN") {
        QCOMPARE(reply.header("Connection"), QByteArray("close"));
        QVERIFY(client.waitClosed());
    }
    if (reply.code >= 400)
        QCOMPARE(tree(ts->share), before);
}

void TestAccess::loginHandsOutAFreshSession_data()
{
    QTest::addColumn<bool>("again"); // a browser logged in already logs in again
    QTest::newRow("login") << false;
    QTest::newRow("logging in again") << true;
}

void TestAccess::loginHandsOutAFreshSession()
{
    QFETCH(bool, again);
    ts->config.authMode = AuthMode::Password;
    QVERIFY(ts->start());

    // Someone gets a session of the server's (the client archive needs no login) and plants its
    // cookie in the browser of the one who knows the password.
    QByteArray planted = ts->browserSession(1000);
    const QByteArray login = "GET /a.txt?a=log&password=s3cret HTTP/1.1\r\n\r\n";
    // Logging in again, the id the browser had goes out of use as well.
    if (again)
        planted = cookieOf(ts->exchange(withCookie(login, planted)));
    HttpClient victim(ts->port());
    const HttpReply reply = victim.exchange(withCookie(login, planted));
    QCOMPARE(reply.body, TextA);
    const QByteArray fresh = cookieOf(reply);
    QVERIFY(fresh.startsWith("ID=") && fresh != planted);
    // The planted id holds no login; the fresh one does, on this connection and on others.
    const QByteArray get = "GET /a.txt HTTP/1.1\r\n\r\n";
    QCOMPARE(ts->exchange(withCookie(get, planted)).body, loginPage());
    QCOMPARE(ts->exchange(withCookie(get, fresh)).body, TextA);
    QCOMPARE(victim.exchange(withCookie(get, fresh)).body, TextA);
    // A connection still bound to the planted session gains nothing either.
    QCOMPARE(victim.exchange(withCookie(get, planted)).body, loginPage());
}

void TestAccess::sweepRemovesEndedSessionsAfterTheirLifetime_data()
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
    };
    for (const auto &[name, request] : closing)
        QTest::addRow("server closes: %s", name) << request << start << 600 << qint64(601000) << false;
}

void TestAccess::sweepRemovesEndedSessionsAfterTheirLifetime()
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

void TestAccess::sessionBoundToAnOpenConnectionIsNeverFreed()
{
    ts->config.authMode = AuthMode::Password;
    QVERIFY(ts->start());

    HttpClient first(ts->port());
    HttpClient second(ts->port());
    const auto login = [](const char *password) {
        return "GET /a.txt?a=log&password=" + QByteArray(password) + " HTTP/1.1\r\n\r\n";
    };
    const qint64 id = idOf(first.exchange(login("s3cret")));
    // Another connection of the same browser is served without the password.
    QCOMPARE(second.exchange("GET /a.txt HTTP/1.1\r\nCookie: ID=" + QByteArray::number(id) + "\r\n\r\n").body, TextA);
    ClientData *const shared = session(id);
    QVERIFY(shared);

    // The first connection ends the session; the second one still holds it.
    first.socket.disconnectFromHost();
    QTRY_VERIFY(!shared->active);
    now += 86400000;
    ts->server->clients.checkSessions();
    QCOMPARE(session(id), shared);

    // The second connection goes on using it: still logged in, and a new login, right or wrong, is
    // stored there (a wrong one logs it out).
    QCOMPARE(second.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
    QCOMPARE(second.exchange(login("other")).body, loginPage());
    QCOMPARE(shared->password, QStringLiteral("other"));

    // Once no connection holds it, it expires like any other.
    QVERIFY(second.waitClosed());
    QTRY_COMPARE(ts->server->threads.size(), 0);
    now += 601000;
    ts->server->clients.checkSessions();
    QVERIFY(!session(id));

    // The stored password is compared with the profile's at every request.
    const QByteArray cookie = cookieOf(ts->exchange(login("s3cret")));
    ts->config.password = QStringLiteral("changed");
    QCOMPARE(ts->exchange(withCookie("GET /a.txt HTTP/1.1\r\n\r\n", cookie)).body, loginPage());
}

void TestAccess::passwordGuessingIsSlowedPerAddress_data()
{
    QTest::addColumn<int>("mode"); // AuthMode
    QTest::addRow("login page") << int(AuthMode::Password);
    QTest::addRow("Basic") << int(AuthMode::Basic);
}

void TestAccess::passwordGuessingIsSlowedPerAddress()
{
    QFETCH(int, mode);
    const int first = 300;
    GuessDelay::firstDelayMs = first;
    GuessDelay::longestDelayMs = 2 * first;
    const auto restore = qScopeGuard([] {
        GuessDelay::firstDelayMs = 1000;
        GuessDelay::longestDelayMs = 60000;
    });
    ts->config.authMode = AuthMode(mode);
    QVERIFY(ts->start());

    // Sends a guess from `address`; the client then waits for its answer.
    const auto send = [&](HttpClient *client, const QByteArray &password, const char *address = "127.0.0.1") {
        client->socket.bind(QHostAddress(QLatin1String(address)));
        QVERIFY(client->connectTo(ts->port()));
        client->send(mode == int(AuthMode::Basic) ? "GET /a.txt HTTP/1.1\r\n" + basicAuth("anna:" + password) + "\r\n"
                                                  : "GET /a.txt?a=log&password=" + password + " HTTP/1.1\r\n\r\n");
    };
    // The time from a guess to its answer.
    bool gotIn = false;
    const auto attempt = [&](const QByteArray &password) {
        QElapsedTimer clock;
        clock.start();
        HttpClient client;
        send(&client, password);
        gotIn = client.reply().body == TextA;
        return clock.elapsed();
    };

    for (int i = 0; i < GuessDelay::FreeFailures; ++i)
        attempt("wrong");
    // From the eleventh on, each failure doubles the wait of the next attempt.
    QCOMPARE_GE(attempt("wrong"), first - 20);
    QCOMPARE_GE(attempt("wrong"), 2 * first - 20);

    // While an attempt waits, the server serves: another address's guess is answered first.
    HttpClient waiting;
    send(&waiting, "wrong");
    HttpClient other;
    send(&other, "wrong", "127.0.0.2");
    QVERIFY(other.reply().complete);
    QVERIFY(waiting.pending().isEmpty());
    QVERIFY(waiting.reply().complete);

    // The right password waits its turn too, and forgets the failures.
    QCOMPARE_GE(attempt("s3cret"), 2 * first - 20);
    QVERIFY(gotIn);
    QCOMPARE_LT(attempt("wrong"), first);
    QVERIFY(!gotIn);
}

QTEST_GUILESS_MAIN(TestAccess)
#include "tst_access.moc"
