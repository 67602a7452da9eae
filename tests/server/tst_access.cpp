// Who may read what: the login page of password-only access, Basic authentication, the write
// switches and the checks of other sites and host names.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

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
const QByteArray Jar = "applet archive";

QByteArray loginPage()
{
    QFile file(TestServer::buildDir() + QStringLiteral("/lang/C/login.html"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

} // namespace

class TestAccess : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void passwordModeRefusesByMethod_data();
    void passwordModeRefusesByMethod();
    void loginHoldsForTheSession_data();
    void loginHoldsForTheSession();
    void theStoredPasswordIsComparedWithEveryRequest();
    void loginHandsOutAFreshSession_data();
    void loginHandsOutAFreshSession();
    void basicModeChecksTheUserList_data();
    void basicModeChecksTheUserList();

    void writeSwitchesRefuseEveryChange_data();
    void writeSwitchesRefuseEveryChange();
    void otherSitesAndOtherNamesAreRefused_data();
    void otherSitesAndOtherNamesAreRefused();
    void passwordGuessingIsSlowedPerAddress_data();
    void passwordGuessingIsSlowedPerAddress();


private:
    HttpReply exchange(const QByteArray &request) { return ts->exchange(request); }

    TestServer *ts = nullptr;
};

void TestAccess::init()
{
    ts = new TestServer;
    ts->put(QStringLiteral("a.txt"), TextA);
    ts->put(QStringLiteral("Client.jar"), Jar);
    ts->put(QStringLiteral("sub/KestruneClient.jar"), Jar);
    ts->put(QStringLiteral("sub/inner.txt"), "inner");
    ts->config.password = QStringLiteral("s3cret");
}

void TestAccess::cleanup()
{
    delete ts;
    ts = nullptr;
}

void TestAccess::passwordModeRefusesByMethod_data()
{
    QTest::addColumn<QByteArray>("request");
    // "login": the login page, with 403 for every path; "401": the Basic challenge; three digits:
    // that status; otherwise the body served.
    QTest::addColumn<QByteArray>("answer");

    const QByteArray login = "login";
    const QByteArray challenge = "401";
    QTest::addRow("GET of a folder gets the login page") << QByteArray("GET / HTTP/1.1\r\n\r\n") << login;
    QTest::addRow("GET of a file gets the login page") << QByteArray("GET /a.txt HTTP/1.1\r\n\r\n") << login;
    QTest::addRow("GET of a missing file gets the login page")
        << QByteArray("GET /missing.txt HTTP/1.1\r\n\r\n") << login;
    QTest::addRow("form POST to a file gets the login page") << formPost("/a.txt", "x=1") << login;
    QTest::addRow("upload POST to a folder gets the login page") << uploadPost("/?a=up", "escaped.txt") << login;
    // A WebDAV client gets the challenge it can answer, never the login page.
    for (const char *method : {"PUT", "DELETE", "PROPFIND", "MKCOL", "HEAD", "LOCK", "UNLOCK", "COPY", "MOVE"})
        QTest::addRow("%s gets the Basic challenge", method)
            << QByteArray(method) + " /a.txt HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody" << challenge;
    QTest::addRow("OPTIONS needs no password") << QByteArray("OPTIONS / HTTP/1.1\r\n\r\n") << QByteArray("200");
    QTest::addRow("the password as Basic credentials, any user: PROPFIND")
        << QByteArray("PROPFIND / HTTP/1.1\r\nDepth: 0\r\n" + basicAuth("anyone:s3cret") + "\r\n") << QByteArray("207");
    QTest::addRow("the password as Basic credentials, no user: GET")
        << QByteArray("GET /a.txt HTTP/1.1\r\n" + basicAuth(":s3cret") + "\r\n") << TextA;
    QTest::addRow("a wrong password as Basic credentials gets the challenge")
        << QByteArray("GET /a.txt HTTP/1.1\r\n" + basicAuth("s3cret:wrong") + "\r\n") << challenge;
    // The applet's archive, and only it, needs no login.
    QTest::addRow("GET of the client archive is served")
        << QByteArray("GET /_i/KestruneClient.jar HTTP/1.1\r\n\r\n") << TestServer::ClientArchive;
    QTest::addRow("a file of the share named Client.jar is not")
        << QByteArray("GET /Client.jar HTTP/1.1\r\n\r\n") << login;
    QTest::addRow("a file of the share whose name ends in Client.jar is not")
        << QByteArray("GET /secretClient.jar HTTP/1.1\r\n\r\n") << login;
    QTest::addRow("the archive's name in another folder is not")
        << QByteArray("GET /sub/KestruneClient.jar HTTP/1.1\r\n\r\n") << login;
    QTest::addRow("a longer name in the icon folder is not")
        << QByteArray("GET /_i/KestruneClient.jarx HTTP/1.1\r\n\r\n") << login;
    QTest::addRow("the archive's name is case-sensitive")
        << QByteArray("GET /_i/kestruneclient.jar HTTP/1.1\r\n\r\n") << login;
    QTest::addRow("PUT of the client archive gets the challenge")
        << QByteArray("PUT /_i/KestruneClient.jar HTTP/1.1\r\nContent-Length: 4\r\n\r\nevil") << challenge;
    QTest::addRow("POST of the client archive gets the login page")
        << formPost("/_i/KestruneClient.jar", "x=1") << login;
}

void TestAccess::passwordModeRefusesByMethod()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    ts->config.authMode = AuthMode::Password;
    ts->put(QStringLiteral("secretClient.jar"), Jar);
    QVERIFY(ts->start());

    HttpClient client(ts->port());
    const HttpReply reply = request.startsWith("HEAD") ? client.exchangeHead(request) : client.exchange(request);
    if (answer == "login") {
        QCOMPARE(reply.status, QByteArray("403 Forbidden"));
        QCOMPARE(reply.body, loginPage());
        QCOMPARE(reply.header("Content-Type"), QByteArray("text/html; charset=UTF-8"));
        // The login page is the server's own: its form has to post, and no other site may frame it.
        QCOMPARE(reply.header("Content-Security-Policy"), QByteArray("frame-ancestors 'none'"));
        QCOMPARE(reply.header("Connection"), QByteArray("close"));
        QVERIFY(client.waitClosed());
    } else if (answer == "401") {
        QCOMPARE(reply.status, QByteArray("401 Authorization Required"));
        QCOMPARE(reply.header("WWW-Authenticate"), QByteArray("Basic realm=\"Private Area\""));
        QCOMPARE(reply.header("Connection"), QByteArray("close"));
        QVERIFY(client.waitClosed());
        QVERIFY(client.pending().isEmpty());
    } else if (answer.size() == 3) {
        QCOMPARE(reply.code, answer.toInt());
    } else {
        QCOMPARE(reply.code, 200);
        QCOMPARE(reply.body, answer);
    }
    QCOMPARE(QFile(ts->path(QStringLiteral("Client.jar"))).size(), qint64(Jar.size()));
    QVERIFY(QFileInfo::exists(ts->path(QStringLiteral("a.txt"))));
    QVERIFY(QFileInfo::exists(ts->dir.path() + QStringLiteral("/img/KestruneClient.jar")));
}

void TestAccess::loginHoldsForTheSession_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("login");

    QTest::addRow("a=log in the query of a GET")
        << QStringLiteral("s3cret") << QByteArray("GET /a.txt?a=log&password=s3cret HTTP/1.1\r\n\r\n");
    QTest::addRow("a=log in a url-encoded POST body")
        << QStringLiteral("s3cret") << formPost("/a.txt", "a=log&password=s3cret");
    QTest::addRow("the body replaces the query of the request line")
        << QStringLiteral("s3cret") << formPost("/a.txt?a=x&password=bad", "a=log&password=s3cret");
    QTest::addRow("form decoding: plus is a blank, escapes are decoded")
        << QStringLiteral("p w&%=\u00e9") << formPost("/a.txt", "a=log&password=p+w%26%25%3D%C3%A9");
    QTest::addRow("a=log on a request for another file")
        << QStringLiteral("s3cret") << QByteArray("GET /missing?password=s3cret&a=log HTTP/1.1\r\n\r\n");
}

void TestAccess::loginHoldsForTheSession()
{
    QFETCH(QString, password);
    QFETCH(QByteArray, login);
    ts->config.authMode = AuthMode::Password;
    ts->config.password = password;
    QVERIFY(ts->start());

    const QByteArray other = ts->browserSession(43);
    HttpReply reply = exchange(login);
    QVERIFY2(reply.code == 200 || reply.code == 404, reply.statusLine.constData());
    QVERIFY(reply.body != loginPage());
    const QByteArray cookie = cookieOf(reply);
    // Another connection of the same browser is served without the password.
    reply = exchange("GET /a.txt HTTP/1.1\r\nCookie: " + cookie + "\r\n\r\n");
    QCOMPARE(reply.body, TextA);
    // Another browser is not.
    reply = exchange("GET /a.txt HTTP/1.1\r\nCookie: " + other + "\r\n\r\n");
    QCOMPARE(reply.body, loginPage());
}

void TestAccess::theStoredPasswordIsComparedWithEveryRequest()
{
    ts->config.authMode = AuthMode::Password;
    QVERIFY(ts->start());

    const auto get = [this](const QByteArray &cookie, const QByteArray &query = QByteArray()) {
        return exchange("GET /a.txt" + query + " HTTP/1.1\r\nCookie: " + cookie + "\r\n\r\n").body;
    };
    const QByteArray first = cookieOf(exchange("GET /a.txt?a=log&password=s3cret HTTP/1.1\r\n\r\n"));
    const QByteArray second = cookieOf(exchange("GET /a.txt?a=log&password=s3cret HTTP/1.1\r\n\r\n"));
    QCOMPARE(get(first), TextA);
    // A wrong password replaces the stored one: the session is logged out.
    QCOMPARE(get(first, "?a=log&password=nope"), loginPage());
    QCOMPARE(get(first), loginPage());
    // A changed profile password logs everyone out.
    QCOMPARE(get(second), TextA);
    ts->config.password = QStringLiteral("changed");
    QCOMPARE(get(second), loginPage());
    QCOMPARE(get(second, "?a=log&password=changed"), TextA);
}

void TestAccess::loginHandsOutAFreshSession_data()
{
    QTest::addColumn<QByteArray>("login");
    QTest::addColumn<QByteArray>("planted"); // ISSUED: a session the server issued to someone

    const QByteArray get = "GET /a.txt?a=log&password=s3cret HTTP/1.1\r\n\r\n";
    QTest::addRow("GET with a=log") << get << QByteArray("ISSUED");
    QTest::addRow("form POST with a=log") << formPost("/a.txt", "a=log&password=s3cret") << QByteArray("ISSUED");
    QTest::addRow("logging in again") << QByteArray("AGAIN") << QByteArray("ISSUED");
    // A cookie naming no issued session shares no login either.
    QTest::addRow("ID=42") << get << QByteArray("ID=42");
}

void TestAccess::loginHandsOutAFreshSession()
{
    QFETCH(QByteArray, login);
    QFETCH(QByteArray, planted);
    ts->config.authMode = AuthMode::Password;
    QVERIFY(ts->start());

    // Someone gets a session of the server's (the client archive needs no login) and plants its
    // cookie in the browser of the one who knows the password.
    const bool issued = planted == "ISSUED";
    if (issued)
        planted = ts->browserSession(1000);
    if (login == "AGAIN") {
        // A browser logged in already logs in again: the id it had goes out of use as well.
        login = "GET /a.txt?a=log&password=s3cret HTTP/1.1\r\n\r\n";
        const HttpReply first = exchange(withCookie(login, planted));
        QCOMPARE(first.body, TextA);
        planted = cookieOf(first);
    }
    HttpClient victim(ts->port());
    const HttpReply reply = victim.exchange(withCookie(login, planted));
    QCOMPARE(reply.body, TextA);
    const QByteArray fresh = cookieOf(reply);
    QVERIFY(fresh.startsWith("ID="));
    QVERIFY(fresh != planted);
    // The planted id holds no login; the fresh one does, on this connection and on others.
    QCOMPARE(exchange(withCookie("GET /a.txt HTTP/1.1\r\n\r\n", planted)).body, loginPage());
    QCOMPARE(exchange("GET /a.txt HTTP/1.1\r\nCookie: " + fresh + "\r\n\r\n").body, TextA);
    QCOMPARE(victim.exchange("GET /a.txt HTTP/1.1\r\nCookie: " + fresh + "\r\n\r\n").body, TextA);
    // A connection still bound to the planted session gains nothing either.
    if (issued)
        QCOMPARE(victim.exchange(withCookie("GET /a.txt HTTP/1.1\r\n\r\n", planted)).body, loginPage());
}

void TestAccess::basicModeChecksTheUserList_data()
{
    QTest::addColumn<QStringList>("users");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("code");

    const QStringList users{QStringLiteral("anna:s3cret"), QStringLiteral("bob:pa:ss%41")};
    const QByteArray get = "GET /a.txt HTTP/1.1\r\n";
    QTest::addRow("no credentials") << users << get + "\r\n" << 401;
    QTest::addRow("right credentials") << users << get + basicAuth("anna:s3cret") + "\r\n" << 200;
    QTest::addRow("wrong password") << users << get + basicAuth("anna:wrong") + "\r\n" << 401;
    QTest::addRow("unknown user") << users << get + basicAuth("carl:s3cret") + "\r\n" << 401;
    QTest::addRow("password with a colon and a percent sign") << users << get + basicAuth("bob:pa:ss%41") + "\r\n" << 200;
    QTest::addRow("percent sign is not decoded") << users << get + basicAuth("bob:pa:ssA") + "\r\n" << 401;
    QTest::addRow("header name in lower case")
        << users << get + "authorization: basic " + QByteArray("anna:s3cret").toBase64() + "\r\n\r\n" << 200;
    QTest::addRow("credentials end at a NUL byte")
        << users << get + basicAuth(QByteArray("anna:s3cret\0junk", 16)) + "\r\n" << 200;
    QTest::addRow("other scheme") << users << get + "Authorization: Digest anna:s3cret\r\n\r\n" << 401;
    QTest::addRow("Client.jar is not exempt") << users << QByteArray("GET /Client.jar HTTP/1.1\r\n\r\n") << 401;
    QTest::addRow("empty user list refuses everyone") << QStringList() << get + basicAuth("anna:s3cret") + "\r\n" << 401;
    // RFC 7617: browsers and WebDAV clients send UTF-8; older clients Latin-1.
    const QStringList international{QString::fromUtf8("j\xC3\xBCrgen:\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C\xE2\x82\xAC"),
                                    QString::fromUtf8("ren\xC3\xA9:s\xC3\xA9same")};
    QTest::addRow("UTF-8 name and password outside Latin-1")
        << international << get + basicAuth("j\xC3\xBCrgen:\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C\xE2\x82\xAC") + "\r\n" << 200;
    QTest::addRow("Latin-1 bytes of the same letters") << international << get + basicAuth("ren\xE9:s\xE9same") + "\r\n" << 200;
}

void TestAccess::basicModeChecksTheUserList()
{
    QFETCH(QStringList, users);
    QFETCH(QByteArray, request);
    QFETCH(int, code);
    ts->config.authMode = AuthMode::Basic;
    ts->config.users = users;
    QVERIFY(ts->start());

    HttpClient client(ts->port());
    const HttpReply reply = client.exchange(request);
    QCOMPARE(reply.code, code);
    if (code == 200) {
        QCOMPARE(reply.body, TextA);
    } else {
        QCOMPARE(reply.header("WWW-Authenticate"), QByteArray("Basic realm=\"Private Area\""));
        QVERIFY(client.waitClosed());
    }
    QCOMPARE(QFile(ts->path(QStringLiteral("a.txt"))).size(), qint64(TextA.size()));
}

namespace {
// A request of a WebDAV client or of a form, as it comes from 127.0.0.1:PORT (the listener's port
// is put in place of "PORT").
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

QByteArray uploadSent(const QByteArray &target, const QByteArray &headers = QByteArray())
{
    return sent("POST", target, headers + "Content-Type: multipart/form-data; boundary=XyZ\r\n",
                "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; filename=\"new.txt\"\r\n\r\nnew\r\n--XyZ--\r\n");
}

QByteArray to(const char *path)
{
    return "Destination: http://127.0.0.1:PORT" + QByteArray(path) + "\r\n";
}
} // namespace

void TestAccess::writeSwitchesRefuseEveryChange_data()
{
    QTest::addColumn<bool>("upload");
    QTest::addColumn<bool>("deleting");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("status"); // a refusal leaves the share as it was

    const QByteArray locked = "423 Read only";
    const QByteArray forbidden = "403 Forbidden";
    // Uploads off: nothing that makes a name.
    QTest::addRow("uploads off: PUT of a new file") << false << true << sent("PUT", "/new.txt", {}, "new") << locked;
    QTest::addRow("uploads off: PUT over a file") << false << true << sent("PUT", "/a.txt", {}, "new") << locked;
    QTest::addRow("uploads off: MKCOL") << false << true << sent("MKCOL", "/new") << forbidden;
    QTest::addRow("uploads off: COPY of a file") << false << true << sent("COPY", "/a.txt", to("/c.txt")) << forbidden;
    QTest::addRow("uploads off: MOVE") << false << true << sent("MOVE", "/a.txt", to("/c.txt")) << forbidden;
    QTest::addRow("uploads off: LOCK of a new name") << false << true << sent("LOCK", "/new.txt") << forbidden;
    QTest::addRow("uploads off: LOCK of a file makes nothing")
        << false << true << sent("LOCK", "/a.txt", {}, "<lockinfo xmlns=\"DAV:\"><lockscope><shared/></lockscope></lockinfo>")
        << QByteArray("200 Locked");
    QTest::addRow("uploads off: PROPPATCH") << false << true << sent("PROPPATCH", "/a.txt") << forbidden;
    QTest::addRow("uploads off: form upload") << false << true << uploadSent("/") << forbidden;
    QTest::addRow("uploads off: form upload after a page link") << false << true << uploadSent("/?a=p&p=1") << forbidden;
    QTest::addRow("uploads off: create-folder action") << false << true << formSent("a=cfd&f=new") << forbidden;
    QTest::addRow("uploads off: deleting goes on") << false << true << sent("DELETE", "/a.txt")
                                                   << QByteArray("200 File deleted");
    // Deleting off: nothing that removes or replaces one, whoever the client says it is.
    const QByteArray readOnly = "423 Read-only";
    QTest::addRow("deleting off: DELETE of a file") << true << false << sent("DELETE", "/a.txt") << readOnly;
    QTest::addRow("deleting off: PUT over a file") << true << false << sent("PUT", "/a.txt", {}, "new")
                                                   << QByteArray("412 Precondition Failed");
    QTest::addRow("deleting off: PUT over a file as the applet") << true << false
        << sent("PUT", "/a.txt", "User-Agent: mc\r\n", "new") << QByteArray("412 Precondition Failed");
    QTest::addRow("deleting off: MOVE to a new name") << true << false << sent("MOVE", "/a.txt", to("/c.txt")) << forbidden;
    QTest::addRow("deleting off: MOVE onto a file") << true << false
        << sent("MOVE", "/a.txt", to("/sub/inner.txt") + "Overwrite: T\r\n") << QByteArray("412 Name exists");
    QTest::addRow("deleting off: COPY onto a file") << true << false << sent("COPY", "/a.txt", to("/sub/inner.txt"))
                                                    << QByteArray("412 Precondition Failed");
    QTest::addRow("deleting off: delete action") << true << false << formSent("a=del&f=a.txt&d=sub") << forbidden;
    QTest::addRow("deleting off: PUT of a new file goes on") << true << false << sent("PUT", "/new.txt", {}, "new")
                                                            << QByteArray("201 Created");
    QTest::addRow("both off: MOVE onto a file") << false << false << sent("MOVE", "/a.txt", to("/sub/inner.txt"))
                                                << forbidden;
}

void TestAccess::writeSwitchesRefuseEveryChange()
{
    QFETCH(bool, upload);
    QFETCH(bool, deleting);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, status);
    ts->config.enableUpload = upload ? CheckState::On : CheckState::Off;
    ts->config.enableDelete = deleting ? CheckState::On : CheckState::Off;
    QVERIFY(ts->start());
    const QStringList before = tree(ts->share);

    const HttpReply reply = exchange(request.replace("PORT", QByteArray::number(ts->port())));
    QCOMPARE(reply.status, status);
    if (reply.code >= 400)
        QCOMPARE(tree(ts->share), before);
}

void TestAccess::otherSitesAndOtherNamesAreRefused_data()
{
    QTest::addColumn<int>("mode"); // AuthMode
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("code"); // a refusal leaves the share as it was

    const int open = int(AuthMode::None);
    const QByteArray del = "a=del&f=a.txt";
    const QByteArray evil = "Origin: http://evil.example\r\n";
    QTest::addRow("POST from another site's page") << open << formSent(del, evil) << 403;
    QTest::addRow("POST from the share's own page") << open << formSent(del, "Origin: http://127.0.0.1:PORT\r\n") << 200;
    QTest::addRow("POST from a page of another port") << open << formSent(del, "Origin: http://127.0.0.1:1\r\n") << 403;
    QTest::addRow("POST from a sandboxed page") << open << formSent(del, "Origin: null\r\n") << 403;
    QTest::addRow("POST from another name of this server") << open << formSent(del, "Origin: http://localhost:PORT\r\n")
                                                           << 200;
    QTest::addRow("POST said to come from another site") << open << formSent(del, "Sec-Fetch-Site: cross-site\r\n")
                                                         << 403;
    QTest::addRow("POST said to come from the same origin")
        << open << formSent(del, "Sec-Fetch-Site: same-origin\r\nOrigin: http://127.0.0.1:PORT\r\n") << 200;
    QTest::addRow("POST without either header (curl)") << open << formSent(del) << 200;
    for (const char *method : {"PUT", "DELETE", "MKCOL", "LOCK"})
        QTest::addRow("%s from another site's page", method) << open << sent(method, "/a.txt", evil) << 403;
    QTest::addRow("COPY from another site's page") << open << sent("COPY", "/a.txt", evil + to("/c.txt")) << 403;
    QTest::addRow("MOVE from another site's page") << open << sent("MOVE", "/a.txt", evil + to("/c.txt")) << 403;
    QTest::addRow("GET from another site's page is read") << open << sent("GET", "/a.txt", evil) << 200;

    // An open share answers only under this server's names: a name of another site made to
    // point here is refused.
    const auto named = [](const QByteArray &method, const QByteArray &host) {
        return sent(method, "/a.txt").replace("Host: 127.0.0.1:PORT", "Host: " + host);
    };
    QTest::addRow("another name") << open << named("GET", "evil.example") << 421;
    QTest::addRow("another name, PUT") << open << named("PUT", "evil.example:PORT") << 421;
    QTest::addRow("an address of another machine") << open << named("GET", "192.0.2.1:PORT") << 421;
    QTest::addRow("a name that is not one") << open << named("GET", "a b") << 421;
    QTest::addRow("the connection's address") << open << named("GET", "127.0.0.1:PORT") << 200;
    QTest::addRow("localhost") << open << named("GET", "localhost:PORT") << 200;
    QTest::addRow("LOCALHOST with a final dot") << open << named("GET", "LOCALHOST.") << 200;
    QTest::addRow("the machine's name") << open << named("GET", "HOSTNAME:PORT") << 200;
    QTest::addRow("a name the owner allowed") << open << named("GET", "files.example:PORT") << 200;
    QTest::addRow("an allowed name in capitals, its port not compared") << open << named("GET", "NAS.home") << 200;
    QTest::addRow("a name the window learnt") << open << named("GET", "public.example") << 200;
    QTest::addRow("no Host (HTTP/1.0)") << open << QByteArray("GET /a.txt HTTP/1.0\r\n\r\n") << 200;

    // Behind a password another site has no login of its own: any name is answered, but no
    // browser may change anything from another site's page.
    const QByteArray login = basicAuth(":s3cret");
    QTest::addRow("password: another name") << int(AuthMode::Password)
        << sent("GET", "/a.txt", login).replace("Host: 127.0.0.1:PORT", "Host: evil.example") << 200;
    QTest::addRow("password: POST from another site's page") << int(AuthMode::Password) << formSent(del, evil + login)
                                                             << 403;
    const QByteArray anna = basicAuth("anna:s3cret");
    QTest::addRow("Basic: POST from another site's page") << int(AuthMode::Basic) << formSent(del, evil + anna) << 403;
    QTest::addRow("Basic: POST from the share's own page")
        << int(AuthMode::Basic) << formSent(del, "Origin: http://127.0.0.1:PORT\r\n" + anna) << 200;
}

void TestAccess::otherSitesAndOtherNamesAreRefused()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, request);
    QFETCH(int, code);
    ts->config.authMode = AuthMode(mode);
    ts->config.users = QStringList{QStringLiteral("anna:s3cret")};
    ts->config.allowedHosts = QStringList{QStringLiteral("files.example"), QStringLiteral("nas.home:8080")};
    QVERIFY(ts->start());
    ts->server->publicNames = QStringList{QStringLiteral("public.example")};
    const QStringList before = tree(ts->share);

    request.replace("PORT", QByteArray::number(ts->port()));
    request.replace("HOSTNAME", QSysInfo::machineHostName().toUtf8());
    const HttpReply reply = exchange(request);
    QCOMPARE(reply.code, code);
    if (code >= 400)
        QCOMPARE(tree(ts->share), before);
    else if (request.startsWith("GET"))
        QCOMPARE(reply.body, TextA);
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
    ts->config.users = QStringList{QStringLiteral("anna:s3cret")};
    QVERIFY(ts->start());

    const auto request = [mode](const QByteArray &password) {
        return mode == int(AuthMode::Basic) ? "GET /a.txt HTTP/1.1\r\n" + basicAuth("anna:" + password) + "\r\n"
                                            : "GET /a.txt?a=log&password=" + password + " HTTP/1.1\r\n\r\n";
    };
    // Sends a guess from `address`; the client waits for its answer.
    const auto send = [&](HttpClient *client, const QByteArray &password, const char *address) {
        client->socket.bind(QHostAddress(QLatin1String(address)));
        return client->connectTo(ts->port()) && (client->send(request(password)), true);
    };
    const auto attempt = [&](const QByteArray &password, qint64 *elapsed, const char *address = "127.0.0.1") {
        QElapsedTimer clock;
        clock.start();
        HttpClient client;
        HttpReply reply;
        if (send(&client, password, address))
            reply = client.reply();
        *elapsed = clock.elapsed();
        return reply.body == TextA;
    };

    qint64 elapsed = 0;
    for (int i = 0; i < GuessDelay::FreeFailures; ++i)
        QVERIFY(!attempt("wrong", &elapsed));
    // From the eleventh on, each failure doubles the wait of the next attempt.
    QVERIFY(!attempt("wrong", &elapsed));
    QVERIFY2(elapsed >= first - 20, qPrintable(QString::number(elapsed)));
    QVERIFY(!attempt("wrong", &elapsed));
    QVERIFY2(elapsed >= 2 * first - 20, qPrintable(QString::number(elapsed)));

    // While an attempt waits, the server serves: another address's guess is answered first.
    HttpClient waiting;
    QVERIFY(send(&waiting, "wrong", "127.0.0.1"));
    HttpClient other;
    QVERIFY(send(&other, "wrong", "127.0.0.2"));
    QVERIFY(other.reply().complete);
    QVERIFY(waiting.pending().isEmpty());
    QVERIFY(waiting.reply().complete);

    // The right password waits its turn too, and forgets the failures.
    QVERIFY(attempt("s3cret", &elapsed));
    QVERIFY2(elapsed >= 2 * first - 20, qPrintable(QString::number(elapsed)));
    QVERIFY(!attempt("wrong", &elapsed));
    QVERIFY2(elapsed < first, qPrintable(QString::number(elapsed)));
}

QTEST_GUILESS_MAIN(TestAccess)
#include "tst_access.moc"
