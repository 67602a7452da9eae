// How a request head is read: the line reader, the header table (names in any case, optional
// blanks after the colon, none before it), the methods known by their whole names, and the
// session cookie. The parser's rules are tables over bytes; what the connection handler makes of
// the parsed head (closing, answering, binding the session) goes through a real connection.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "server/clientdata.h"
#include "server/requestframing.h"
#include "server/requestparser.h"
#include "server/socket.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

using IdList = QList<qint64>;
using Status = RequestParser::Status;
Q_DECLARE_METATYPE(RequestParser::Status)

namespace {
const QByteArray Text = "0123456789abcdef";

RequestParser::Result parse(const QByteArray &bytes, bool singleFile = false)
{
    return RequestParser::parse(bytes, false, singleFile);
}
} // namespace

class TestParser : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void lineReaderTakesTheHeadApart_data();
    void lineReaderTakesTheHeadApart();
    void leadingEmptyLinesAreSkipped();
    void connectionHeaderDecidesKeepAlive_data();
    void connectionHeaderDecidesKeepAlive();
    void headsThatAreRefused_data();
    void headsThatAreRefused();
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
}

void TestParser::cleanup()
{
    delete ts;
    ts = nullptr;
}

void TestParser::lineReaderTakesTheHeadApart_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<qint64>("rangeStart");
    QTest::addColumn<qint64>("rangeEnd");

    const QByteArray none;
    QTest::addRow("plain request") << QByteArray("GET /t.txt HTTP/1.1\r\nHost: h\r\n\r\n") << "/t.txt" << none << 0ll << 0ll;
    QTest::addRow("request line without protocol") << QByteArray("GET /t.txt\r\n\r\n") << "/t.txt" << none << 0ll << 0ll;
    QTest::addRow("line of two bytes is skipped, the head goes on")
        << QByteArray("GET /t.txt HTTP/1.1\r\nXY\r\nRange: bytes=0-1\r\n\r\n") << "/t.txt" << none << 0ll << 1ll;
    QTest::addRow("header names in any case, with or without blanks")
        << QByteArray("GET /t.txt HTTP/1.1\r\nRANGE:bytes=0-3\r\n\r\n") << "/t.txt" << none << 0ll << 3ll;
    QTest::addRow("UTF-8 path") << QByteArray("GET /%C3%A9t%C3%A9.txt HTTP/1.1\r\n\r\n")
                                << QString::fromUtf8("/\u00e9t\u00e9.txt") << none << 0ll << 0ll;
    QTest::addRow("query is not part of the path")
        << QByteArray("GET /t.txt?x=1&y=%20 HTTP/1.1\r\n\r\n") << "/t.txt" << QByteArray("x=1&y=%20") << 0ll << 0ll;
    QTest::addRow("a second request behind the head is not read")
        << QByteArray("GET /t.txt HTTP/1.1\r\n\r\nGET /u.txt HTTP/1.1\r\nRange: bytes=4-5\r\n\r\n") << "/t.txt" << none << 0ll << 0ll;
}

void TestParser::lineReaderTakesTheHeadApart()
{
    QFETCH(QByteArray, head);
    QFETCH(QString, path);
    QFETCH(QByteArray, query);
    QFETCH(qint64, rangeStart);
    QFETCH(qint64, rangeEnd);

    const RequestParser::Result parsed = parse(head);
    QCOMPARE(parsed.status, Status::Parsed);
    QCOMPARE(parsed.head.type, int(RequestHead::Get));
    QCOMPARE(parsed.head.path, path);
    QCOMPARE(parsed.head.rawQuery, query);
    QCOMPARE(parsed.head.rangeStart, rangeStart);
    QCOMPARE(parsed.head.rangeEnd, rangeEnd);
}

void TestParser::leadingEmptyLinesAreSkipped()
{
    // The socket drops them before it announces the head.
    QVERIFY(ts->start());
    const HttpReply reply = ts->exchange("\r\n\r\nGET /t.txt HTTP/1.1\r\n\r\n");
    QCOMPARE(reply.code, 200);
    QCOMPARE(reply.body, Text);
}

void TestParser::connectionHeaderDecidesKeepAlive_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<bool>("closes");

    const QByteArray http11 = "HTTP/1.1";
    QTest::addRow("no Connection header") << http11 << QByteArray() << false;
    QTest::addRow("Connection: close") << http11 << QByteArray("Connection: close\r\n") << true;
    QTest::addRow("Connection: keep-alive") << http11 << QByteArray("Connection: keep-alive\r\n") << false;
    // HTTP/1.0 keeps a connection only when asked to.
    const QByteArray http10 = "HTTP/1.0";
    QTest::addRow("HTTP/1.0") << http10 << QByteArray() << true;
    QTest::addRow("HTTP/1.0, Connection: keep-alive") << http10 << QByteArray("Connection: Keep-Alive\r\n") << false;
    QTest::addRow("HTTP/1.0, another Connection token") << http10 << QByteArray("Connection: TE\r\n") << true;
}

void TestParser::connectionHeaderDecidesKeepAlive()
{
    QFETCH(QByteArray, version);
    QFETCH(QByteArray, headers);
    QFETCH(bool, closes);
    QVERIFY(ts->start());

    HttpClient client(ts->port());
    const HttpReply reply = client.exchange("GET /t.txt " + version + "\r\n" + headers + "\r\n");
    QCOMPARE(reply.code, 200);
    QCOMPARE(reply.body, Text);
    QCOMPARE(reply.header("Connection"), closes ? QByteArray("close") : QByteArray());
    QCOMPARE(client.waitClosed(closes ? HttpClient::Timeout : 300), closes);
}

void TestParser::headsThatAreRefused_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<bool>("overflowed"); // cut at the end of the socket's buffer
    QTest::addColumn<Status>("status");
    QTest::addColumn<QByteArray>("statusLine");

    const QByteArray longPath = "GET /" + QByteArray(RequestFraming::MaxHeadSize, 'a');
    QTest::addRow("request line longer than the longest head") << longPath << true << Status::UriTooLong
                                                               << QByteArray("414 URI Too Long");
    const QByteArray longHead = "GET /t.txt HTTP/1.1\r\nX-Pad: " + QByteArray(RequestFraming::MaxHeadSize, 'p');
    QTest::addRow("cut head without a body") << longHead << true << Status::HeadTooLarge
                                             << QByteArray("431 Request Header Fields Too Large");
    QTest::addRow("cut head with a body")
        << "POST /t.txt HTTP/1.1\r\nContent-Length: 5\r\nX-Pad: " + QByteArray(RequestFraming::MaxHeadSize, 'p')
        << true << Status::HeadTooLarge << QByteArray("431 Request Header Fields Too Large");
    QTest::addRow("chunked is read") << QByteArray("PUT /n.txt HTTP/1.1\r\nTransfer-Encoding: Chunked\r\n\r\n")
                                     << false << Status::Parsed << QByteArray();
    QTest::addRow("the same length twice")
        << QByteArray("PUT /n.txt HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\n") << false
        << Status::Parsed << QByteArray();
    QTest::addRow("a path out of the share") << QByteArray("GET /a/../../t.txt HTTP/1.1\r\n\r\n") << false
                                             << Status::Forbidden << QByteArray("403 Forbidden");
    QTest::addRow("an encoded path out of the share") << QByteArray("GET /%2e%2e/t.txt HTTP/1.1\r\n\r\n") << false
                                                      << Status::Forbidden << QByteArray("403 Forbidden");
    QTest::addRow("a relative target") << QByteArray("GET t.txt HTTP/1.1\r\n\r\n") << false
                                       << Status::Forbidden << QByteArray("403 Forbidden");
    QTest::addRow("a NUL in the path") << QByteArray("GET /t%00.txt HTTP/1.1\r\n\r\n") << false
                                       << Status::Forbidden << QByteArray("403 Forbidden");
    // Once counted as the method its name begins with, taking the body and the destination.
    QTest::addRow("a longer method name") << QByteArray("DELETEX /t.txt HTTP/1.1\r\nContent-Length: 4\r\n\r\n")
                                          << false << Status::UnknownMethod << QByteArray("405 Method Not Allowed");
}

void TestParser::headsThatAreRefused()
{
    QFETCH(QByteArray, head);
    QFETCH(bool, overflowed);
    QFETCH(Status, status);
    QFETCH(QByteArray, statusLine);

    QCOMPARE(RequestParser::parse(head, overflowed, false).status, status);
    QCOMPARE(QByteArray(RequestParser::statusLine(status)), statusLine);
}

void TestParser::cookieBindsTheSession_data()
{
    // ISSUED and OTHER stand for the ids of two sessions the server issued to browsers.
    QTest::addColumn<QByteArray>("cookieLines");
    QTest::addColumn<QByteArray>("bound"); // "issued", "other" or "fresh"

    const QByteArray issued = "issued";
    const QByteArray fresh = "fresh";
    QTest::addRow("ID cookie names its session") << QByteArray("Cookie: ID=ISSUED\r\n") << issued;
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
    QTest::addRow("zero") << QByteArray("Cookie: ID=0\r\n") << fresh;
    QTest::addRow("just beyond 63 bits") << QByteArray("Cookie: ID=9223372036854775808\r\n") << fresh;
    QTest::addRow("a leading zero") << QByteArray("Cookie: ID=0ISSUED\r\n") << fresh;
    QTest::addRow("a plus sign") << QByteArray("Cookie: ID=+ISSUED\r\n") << fresh;
    QTest::addRow("letters after the digits") << QByteArray("Cookie: ID=ISSUEDx\r\n") << fresh;
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

    HttpClient client(ts->port());
    const HttpReply reply = client.exchange("GET /t.txt HTTP/1.1\r\n" + cookieLines + "\r\n");
    QCOMPARE(reply.code, 200);
    const QByteArray cookie = cookieOf(reply);
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
    QCOMPARE(parse("AB\r\n\r\n").status, Status::NoRequestLine);
    QCOMPARE(parse(QByteArray()).status, Status::NoRequestLine);

    QVERIFY(ts->start());
    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    client.send("AB\r\n\r\n");
    QVERIFY(client.waitClosed());
    QCOMPARE(client.pending(), QByteArray());
}

QTEST_GUILESS_MAIN(TestParser)
#include "tst_parser.moc"
