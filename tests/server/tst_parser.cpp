// How a request head is read: the line reader, the header table (names in any case, optional
// blanks after the colon, none before it), the methods known by their whole names, and the
// session cookie.

#include "httpclient.h"
#include "testserver.h"

#include "server/clientdata.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

using IdList = QList<qint64>;

namespace {
const QByteArray Text = "0123456789abcdef";
}

class TestParser : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void lineReaderTakesTheHeadApart_data();
    void lineReaderTakesTheHeadApart();
    void headerNamesMatchInAnyCase_data();
    void headerNamesMatchInAnyCase();
    void blankBeforeTheColonGets400AndCloses_data();
    void blankBeforeTheColonGets400AndCloses();
    void methodsAreKnownByTheirCaseSensitiveNames_data();
    void methodsAreKnownByTheirCaseSensitiveNames();
    void methodNameWithMoreLettersDoesNothing_data();
    void methodNameWithMoreLettersDoesNothing();
    void cookieBindsTheSession_data();
    void cookieBindsTheSession();
    void tooShortRequestLineClosesWithoutAnswer();

private:
    TestServer *ts = nullptr;
};

void TestParser::init()
{
    ts = new TestServer;
    ts->put(QStringLiteral("t.txt"), Text);
    ts->put(QStringLiteral("a b.txt"), "blank");
    ts->put(QStringLiteral("a+b.txt"), "plus");
    ts->put(QStringLiteral("\u00e9t\u00e9.txt"), "summer");
}

void TestParser::cleanup()
{
    delete ts;
    ts = nullptr;
}

void TestParser::lineReaderTakesTheHeadApart_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("body");

    QTest::addRow("plain request") << QByteArray("GET /t.txt HTTP/1.1\r\nHost: h\r\n\r\n") << 200 << Text;
    QTest::addRow("leading empty lines are skipped")
        << QByteArray("\r\n\r\nGET /t.txt HTTP/1.1\r\n\r\n") << 200 << Text;
    QTest::addRow("request line without protocol") << QByteArray("GET /t.txt\r\n\r\n") << 200 << Text;
    QTest::addRow("line of two bytes is skipped, the head goes on")
        << QByteArray("GET /t.txt HTTP/1.1\r\nXY\r\nRange: bytes=0-1\r\n\r\n") << 206 << QByteArray("01");
    QTest::addRow("line without a colon is skipped, the head goes on")
        << QByteArray("GET /t.txt HTTP/1.1\r\nnot a header line\r\nRange: bytes=2-3\r\n\r\n") << 206 << QByteArray("23");
    QTest::addRow("unknown headers are ignored")
        << QByteArray("GET /t.txt HTTP/1.1\r\nX-Range: bytes=0-1\r\nAccept: */*\r\n\r\n") << 200 << Text;
    QTest::addRow("percent-encoded blank in the path") << QByteArray("GET /a%20b.txt HTTP/1.1\r\n\r\n") << 200 << QByteArray("blank");
    QTest::addRow("plus in the path is a plus") << QByteArray("GET /a+b.txt HTTP/1.1\r\n\r\n") << 200 << QByteArray("plus");
    QTest::addRow("UTF-8 path") << QByteArray("GET /%C3%A9t%C3%A9.txt HTTP/1.1\r\n\r\n") << 200 << QByteArray("summer");
    QTest::addRow("query is not part of the path") << QByteArray("GET /t.txt?x=1&y=%20 HTTP/1.1\r\n\r\n") << 200 << Text;
}

void TestParser::lineReaderTakesTheHeadApart()
{
    QFETCH(QByteArray, request);
    QFETCH(int, code);
    QFETCH(QByteArray, body);
    QVERIFY(ts->start());

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    const HttpReply reply = client.exchange(request);
    QCOMPARE(reply.code, code);
    QCOMPARE(reply.body, body);
}

void TestParser::headerNamesMatchInAnyCase_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("connection");
    QTest::addColumn<QByteArray>("cookie");

    const QByteArray none;
    QTest::addRow("Range as written") << QByteArray("Range: bytes=0-3\r\n") << 206 << none << none;
    QTest::addRow("range in lower case") << QByteArray("range: bytes=0-3\r\n") << 206 << none << none;
    QTest::addRow("RANGE without a blank") << QByteArray("RANGE:bytes=0-3\r\n") << 206 << none << none;
    QTest::addRow("Range with several blanks") << QByteArray("Range:   bytes=0-3\r\n") << 206 << none << none;
    QTest::addRow("Range with a tab") << QByteArray("Range:\tbytes=0-3\r\n") << 206 << none << none;
    QTest::addRow("connection: close in lower case")
        << QByteArray("connection: close\r\n") << 200 << QByteArray("close") << none;
    QTest::addRow("CONNECTION:close without a blank")
        << QByteArray("CONNECTION:close\r\n") << 200 << QByteArray("close") << none;
    QTest::addRow("Connection: keep-alive keeps it") << QByteArray("Connection: keep-alive\r\n") << 200 << none << none;
    // The browser holds the session 77.
    QTest::addRow("COOKIE in upper case") << QByteArray("COOKIE: ID=77\r\n") << 200 << none << QByteArray("ID=77");
    QTest::addRow("cookie without a blank") << QByteArray("cookie:ID=77\r\n") << 200 << none << QByteArray("ID=77");
}

void TestParser::headerNamesMatchInAnyCase()
{
    QFETCH(QByteArray, headers);
    QFETCH(int, code);
    QFETCH(QByteArray, connection);
    QFETCH(QByteArray, cookie);
    QVERIFY(ts->start());
    QCOMPARE(ts->browserSession(77), QByteArray("ID=77"));

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    const HttpReply reply = client.exchange("GET /t.txt HTTP/1.1\r\n" + headers + "\r\n");
    QCOMPARE(reply.code, code);
    QCOMPARE(reply.body, code == 206 ? QByteArray("0123") : Text);
    QCOMPARE(reply.header("Connection"), connection);
    if (!cookie.isNull())
        QVERIFY(reply.header("Set-Cookie").startsWith(cookie + ';') || reply.header("Set-Cookie") == cookie);
    QCOMPARE(client.waitClosed(connection.isNull() ? 300 : HttpClient::Timeout), !connection.isNull());
}

void TestParser::blankBeforeTheColonGets400AndCloses_data()
{
    QTest::addColumn<QByteArray>("request");

    // Read as no header at all, the chunked body would be taken for the next request.
    const QByteArray chunked = "5\r\nhello\r\n0\r\n\r\nGET /t.txt HTTP/1.1\r\n\r\n";
    QTest::addRow("Transfer-Encoding with a blank before the colon")
        << "POST /t.txt HTTP/1.1\r\nTransfer-Encoding : chunked\r\n\r\n" + chunked;
    QTest::addRow("Transfer-Encoding with a tab before the colon")
        << "PUT /new.txt HTTP/1.1\r\nTransfer-Encoding\t: chunked\r\n\r\n" + chunked;
    QTest::addRow("Content-Length with a blank before the colon")
        << QByteArray("POST /t.txt HTTP/1.1\r\nContent-Length : 5\r\n\r\nhello");
    QTest::addRow("an unknown header with a blank before the colon")
        << QByteArray("GET /t.txt HTTP/1.1\r\nX-Thing : 1\r\n\r\n");
    QTest::addRow("a line folded onto the one before")
        << QByteArray("GET /t.txt HTTP/1.1\r\nRange: bytes=0-1\r\n ,2-3\r\n\r\n");
    QTest::addRow("a folded line with a colon")
        << QByteArray("GET /t.txt HTTP/1.1\r\nHost: h\r\n\tTransfer-Encoding: chunked\r\n\r\n");
}

void TestParser::blankBeforeTheColonGets400AndCloses()
{
    QFETCH(QByteArray, request);
    QVERIFY(ts->start());

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    const HttpReply reply = client.exchange(request);
    QCOMPARE(reply.status, QByteArray("400 Bad Request"));
    QCOMPARE(reply.header("Connection"), QByteArray("close"));
    QVERIFY(client.waitClosed());
    // No second answer: nothing of the body was read as a request.
    QCOMPARE(client.pending(), QByteArray());
    QVERIFY(!QFileInfo::exists(ts->path(QStringLiteral("new.txt"))));
}

void TestParser::methodsAreKnownByTheirCaseSensitiveNames_data()
{
    QTest::addColumn<bool>("singleFile");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<int>("code");

    QTest::addRow("folder share: GET") << false << QByteArray("GET") << 200;
    QTest::addRow("folder share: POST") << false << QByteArray("POST") << 200;
    QTest::addRow("folder share: lower-case get") << false << QByteArray("get") << 405;
    QTest::addRow("folder share: unknown TRACE") << false << QByteArray("TRACE") << 405;
    QTest::addRow("single file: GET") << true << QByteArray("GET") << 200;
    QTest::addRow("single file: POST") << true << QByteArray("POST") << 200;
    for (const char *method : {"PROPFIND", "PUT", "OPTIONS", "DELETE", "COPY", "MOVE", "MKCOL", "LOCK", "UNLOCK", "HEAD"})
        QTest::addRow("single file knows no %s", method) << true << QByteArray(method) << 405;
}

void TestParser::methodsAreKnownByTheirCaseSensitiveNames()
{
    QFETCH(bool, singleFile);
    QFETCH(QByteArray, method);
    QFETCH(int, code);
    QVERIFY(ts->start(singleFile ? ts->path(QStringLiteral("t.txt")) : QString(), singleFile));

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    // On a folder share a=log asks for the file itself, whatever the method.
    const HttpReply reply = client.exchange(method + " /" + (singleFile ? "" : "t.txt?a=log") + " HTTP/1.1\r\n\r\n");
    QCOMPARE(reply.code, code);
    if (code == 200) {
        QCOMPARE(reply.body, Text);
    } else {
        QCOMPARE(reply.status, QByteArray("405 Method Not Allowed"));
        QCOMPARE(reply.header("Connection"), QByteArray("close"));
        QVERIFY(client.waitClosed());
    }
}

void TestParser::methodNameWithMoreLettersDoesNothing_data()
{
    QTest::addColumn<QByteArray>("requestLine");

    // Each of these once counted as the method its name begins with.
    QTest::addRow("GETX") << QByteArray("GETX/t.txt HTTP/1.1");
    QTest::addRow("DELETEX") << QByteArray("DELETEX/t.txt HTTP/1.1");
    QTest::addRow("DELETEX and a blank") << QByteArray("DELETEX /t.txt HTTP/1.1");
    QTest::addRow("PUTX") << QByteArray("PUTX/t.txt HTTP/1.1");
    QTest::addRow("MOVEX") << QByteArray("MOVEX/t.txt HTTP/1.1");
    QTest::addRow("PROPFINDX") << QByteArray("PROPFINDX/t.txt HTTP/1.1");
    QTest::addRow("GET without the blank") << QByteArray("GET/t.txt HTTP/1.1");
}

void TestParser::methodNameWithMoreLettersDoesNothing()
{
    QFETCH(QByteArray, requestLine);
    QVERIFY(ts->start());

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    const HttpReply reply = client.exchange(requestLine + "\r\nDestination: /moved.txt\r\nContent-Length: 4\r\n\r\nevil");
    QCOMPARE(reply.status, QByteArray("405 Method Not Allowed"));
    QVERIFY(reply.body.isEmpty());
    QVERIFY(client.waitClosed());
    QFile file(ts->path(QStringLiteral("t.txt")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), Text);
    QVERIFY(!QFileInfo::exists(ts->path(QStringLiteral("moved.txt"))));
}

void TestParser::cookieBindsTheSession_data()
{
    // ISSUED and OTHER stand for the ids of two sessions the server issued to browsers.
    QTest::addColumn<QByteArray>("cookieLines");
    QTest::addColumn<QByteArray>("bound"); // "issued", "other" or "fresh"

    const QByteArray issued = "issued";
    const QByteArray fresh = "fresh";
    QTest::addRow("ID cookie names its session") << QByteArray("Cookie: ID=ISSUED\r\n") << issued;
    QTest::addRow("ID among other cookies") << QByteArray("Cookie: a=1; ID=ISSUED; b=2\r\n") << issued;
    QTest::addRow("blanks around the pieces") << QByteArray("Cookie:  a=1 ;  ID=ISSUED \r\n") << issued;
    QTest::addRow("first of two ID cookies") << QByteArray("Cookie: ID=ISSUED; ID=OTHER\r\n") << issued;
    QTest::addRow("piece without = is ignored") << QByteArray("Cookie: ID; ID=ISSUED\r\n") << issued;
    QTest::addRow("second Cookie line is not read")
        << QByteArray("Cookie: ID=ISSUED\r\nCookie: ID=OTHER\r\n") << issued;
    QTest::addRow("a line without ID binds nothing, the next line does")
        << QByteArray("Cookie: a=1\r\nCookie: ID=OTHER\r\n") << QByteArray("other");
    QTest::addRow("cookie names are case-sensitive") << QByteArray("Cookie: id=ISSUED\r\n") << fresh;
    QTest::addRow("no cookie") << QByteArray() << fresh;
    // Only exactly an id the server issued names a session; anything else gets one of its own.
    QTest::addRow("an id never issued") << QByteArray("Cookie: ID=42\r\n") << fresh;
    QTest::addRow("not a number") << QByteArray("Cookie: ID=attacker\r\n") << fresh;
    QTest::addRow("empty value") << QByteArray("Cookie: ID=\r\n") << fresh;
    QTest::addRow("one letter") << QByteArray("Cookie: ID=x\r\n") << fresh;
    QTest::addRow("minus zero") << QByteArray("Cookie: ID=-0\r\n") << fresh;
    QTest::addRow("zero") << QByteArray("Cookie: ID=0\r\n") << fresh;
    QTest::addRow("beyond 63 bits") << QByteArray("Cookie: ID=99999999999999999999\r\n") << fresh;
    QTest::addRow("just beyond 63 bits") << QByteArray("Cookie: ID=9223372036854775808\r\n") << fresh;
    QTest::addRow("a leading zero") << QByteArray("Cookie: ID=0ISSUED\r\n") << fresh;
    QTest::addRow("a plus sign") << QByteArray("Cookie: ID=+ISSUED\r\n") << fresh;
    QTest::addRow("a minus sign") << QByteArray("Cookie: ID=-ISSUED\r\n") << fresh;
    QTest::addRow("letters after the digits") << QByteArray("Cookie: ID=ISSUEDx\r\n") << fresh;
    QTest::addRow("value containing =") << QByteArray("Cookie: ID=ISSUED=x\r\n") << fresh;
    QTest::addRow("a blank inside") << QByteArray("Cookie: ID=ISSUED 1\r\n") << fresh;
    QTest::addRow("quoted") << QByteArray("Cookie: ID=\"ISSUED\"\r\n") << fresh;
}

void TestParser::cookieBindsTheSession()
{
    QFETCH(QByteArray, cookieLines);
    QFETCH(QByteArray, bound);
    QVERIFY(ts->start());
    const qint64 issued = 4611686018427387904; // 2^62: 19 digits
    const qint64 other = 1234567;
    QCOMPARE(ts->browserSession(issued), "ID=" + QByteArray::number(issued));
    QCOMPARE(ts->browserSession(other), "ID=" + QByteArray::number(other));
    cookieLines.replace("ISSUED", QByteArray::number(issued)).replace("OTHER", QByteArray::number(other));

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    const HttpReply reply = client.exchange("GET /t.txt HTTP/1.1\r\n" + cookieLines + "\r\n");
    QCOMPARE(reply.code, 200);
    QByteArray cookie = reply.header("Set-Cookie");
    cookie.truncate(cookie.indexOf(';') < 0 ? cookie.size() : cookie.indexOf(';'));
    QVERIFY2(cookie.startsWith("ID="), cookie.constData());
    bool number = false;
    const qint64 id = cookie.mid(3).toLongLong(&number);
    QVERIFY2(number && id > 0 && "ID=" + QByteArray::number(id) == cookie, cookie.constData());
    if (bound == "issued") {
        QCOMPARE(id, issued);
    } else if (bound == "other") {
        QCOMPARE(id, other);
    } else {
        // Never the bytes the client sent, never a session of someone else.
        QVERIFY(id != issued && id != other);
        QVERIFY(!cookieLines.contains(cookie));
        QCOMPARE(ts->server->clients.sessions.value(id)->bindings, 1);
    }
    // The sessions that outlive the connection: the two the browsers hold.
    client.close();
    QTRY_COMPARE(ts->server->clients.sessions.size(), 2);
    QVERIFY(ts->server->clients.sessions.contains(issued));
    QVERIFY(ts->server->clients.sessions.contains(other));
}

void TestParser::tooShortRequestLineClosesWithoutAnswer()
{
    QVERIFY(ts->start());
    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    client.send("AB\r\n\r\n");
    QVERIFY(client.waitClosed());
    QCOMPARE(client.pending(), QByteArray());
}

QTEST_GUILESS_MAIN(TestParser)
#include "tst_parser.moc"
