// Framing of requests on one connection: heads in pieces, pipelining, keep-alive, declared
// bodies and what follows them, refused bodies, 100-continue and heads too long for the buffer.

#include "httpclient.h"
#include "testserver.h"

#include "server/serverthread.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include <sys/socket.h>

namespace {

const QByteArray TextA = "contents of a";
const QByteArray TextB = "contents of b, longer";

QByteArray form(const QByteArray &target, const QByteArray &body, const QByteArray &headers = QByteArray())
{
    return "POST " + target + " HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\n" + headers + "\r\n" + body;
}

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void headInSeveralWritesIsParsedOnlyWhenComplete_data();
    void headInSeveralWritesIsParsedOnlyWhenComplete();
    void pipelinedRequestsAreAnsweredInOrder();
    void idleConnectionHoldsNoBufferAndNoAnswer_data();
    void idleConnectionHoldsNoBufferAndNoAnswer();
    void floodOfPipelinedRequestsIsServedWithoutRecursion_data();
    void floodOfPipelinedRequestsIsServedWithoutRecursion();
    void keepAliveResetsPerRequestFields();
    void malformedHeadGets400AndCloses_data();
    void malformedHeadGets400AndCloses();
    void transferCodedBodyGets411AndCreatesNothing_data();
    void transferCodedBodyGets411AndCreatesNothing();
    void formBodyIsCappedAt64KiB_data();
    void formBodyIsCappedAt64KiB();
    void bytesAfterADeclaredBodyStartTheNextRequest_data();
    void bytesAfterADeclaredBodyStartTheNextRequest();
    void answerWhileBodyIsUnreadClosesTheConnection_data();
    void answerWhileBodyIsUnreadClosesTheConnection();
    void expectContinueGetsAnInterimAnswerBeforeTheBody();
    void refusedBodyGetsNoInterimAnswer();
    void headLongerThanTheBufferIsAnsweredThenClosed_data();
    void headLongerThanTheBufferIsAnsweredThenClosed();
    void clientClosingEndsTheHandler();
    void requestFollowedByHalfCloseIsAnswered();
    void answersDoNotWaitForTheNextAcknowledgement_data();
    void answersDoNotWaitForTheNextAcknowledgement();

private:
    TestServer *ts = nullptr;
};

void TestConnection::init()
{
    ts = new TestServer;
    ts->put(QStringLiteral("a.txt"), TextA);
    ts->put(QStringLiteral("b.txt"), TextB);
}

void TestConnection::cleanup()
{
    delete ts;
    ts = nullptr;
}

void TestConnection::headInSeveralWritesIsParsedOnlyWhenComplete_data()
{
    QTest::addColumn<QList<int>>("cuts");

    // The head is "GET /a.txt HTTP/1.1\r\nRange: bytes=0-3\r\n\r\n"; parsing it early would lose
    // the range (or part of it) and answer 200.
    QTest::addRow("inside the request line") << QList<int>{7};
    QTest::addRow("after the request line") << QList<int>{21};
    QTest::addRow("inside the Range value") << QList<int>{36};
    QTest::addRow("between CR and LF of the Range line") << QList<int>{38};
    QTest::addRow("before the empty line") << QList<int>{39};
    QTest::addRow("between CR and LF of the empty line") << QList<int>{40};
    QTest::addRow("many pieces") << QList<int>{3, 10, 20, 21, 22, 30, 37, 38, 39, 40};
}

void TestConnection::headInSeveralWritesIsParsedOnlyWhenComplete()
{
    QFETCH(QList<int>, cuts);
    QVERIFY(ts->start());
    const QByteArray head = "GET /a.txt HTTP/1.1\r\nRange: bytes=0-3\r\n\r\n";

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    int from = 0;
    for (const int cut : cuts) {
        client.send(head.mid(from, cut - from));
        from = cut;
        QTRY_COMPARE(ts->server->traffic.receivedBytes, qint64(from));
        QVERIFY(client.pending().isEmpty());
    }
    HttpReply reply = client.exchange(head.mid(from));
    QCOMPARE(reply.code, 206);
    QCOMPARE(reply.body, QByteArray("cont"));
    QVERIFY(!client.read(&reply, 200));
}

void TestConnection::pipelinedRequestsAreAnsweredInOrder()
{
    QVERIFY(ts->start());
    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    client.send("GET /a.txt HTTP/1.1\r\n\r\nGET /b.txt HTTP/1.1\r\nRange: bytes=9-\r\n\r\n"
                "GET /missing HTTP/1.1\r\n\r\nGET /a.txt HTTP/1.1\r\n\r\n");
    HttpReply reply;
    QVERIFY(client.read(&reply));
    QCOMPARE(reply.body, TextA);
    QVERIFY(client.read(&reply));
    QCOMPARE(reply.code, 206);
    QCOMPARE(reply.body, TextB.mid(9));
    QVERIFY(client.read(&reply));
    QCOMPARE(reply.code, 404);
    QVERIFY(client.read(&reply));
    QCOMPARE(reply.body, TextA);
    QVERIFY(!client.isClosed());
}

void TestConnection::idleConnectionHoldsNoBufferAndNoAnswer_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("answers");
    QTest::addColumn<bool>("holds");
    QTest::addColumn<QByteArray>("rest");
    QTest::addColumn<QByteArray>("lastBody");

    const QByteArray getA = "GET /a.txt HTTP/1.1\r\n\r\n";
    const QByteArray getB = "GET /b.txt HTTP/1.1\r\n\r\n";
    QTest::addRow("one request") << getA << 1 << false << getB << TextB;
    QTest::addRow("three pipelined") << getA + getB + getA << 3 << false << getB << TextB;
    QTest::addRow("a form, then a request") << form("/a.txt", "x=1") + getB << 2 << false << getA << TextA;
    QTest::addRow("answered, half of the next head held") << getA + getB.left(9) << 1 << true << getB.mid(9) << TextB;
    // Empty lines before a request line are skipped: nothing is held for them.
    QTest::addRow("answered, then empty lines") << getA + "\r\n\r\n" << 1 << false << getB << TextB;
    QTest::addRow("a request in pieces") << QByteArray("GET /a.t") << 0 << true << getA.mid(8) << TextA;
}

void TestConnection::idleConnectionHoldsNoBufferAndNoAnswer()
{
    QFETCH(QByteArray, sent);
    QFETCH(int, answers);
    QFETCH(bool, holds);
    QFETCH(QByteArray, rest);
    QFETCH(QByteArray, lastBody);
    QVERIFY(ts->start());

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    client.send(sent);
    for (int i = 0; i < answers; ++i) {
        HttpReply reply;
        QVERIFY(client.read(&reply));
        QCOMPARE(reply.code, 200);
    }
    QTRY_COMPARE(ts->server->traffic.receivedBytes, qint64(sent.size()));
    QCOMPARE(ts->server->threads.size(), 1);
    const ServerThread *handler = ts->server->threads.first();
    // Bytes of a next request keep the buffer they wait in, and the answer before them.
    QTRY_COMPARE(handler->request.socket.holdsBuffer(), holds);
    QCOMPARE(handler->response == nullptr, !holds || answers == 0);

    // What was held is not lost when the rest comes; what was given back is taken anew.
    const HttpReply reply = client.exchange(rest);
    QCOMPARE(reply.code, 200);
    QCOMPARE(reply.body, lastBody);
    QTRY_VERIFY(!handler->request.socket.holdsBuffer());
    QTRY_VERIFY(handler->response == nullptr);
    QVERIFY(!client.isClosed());
}

void TestConnection::floodOfPipelinedRequestsIsServedWithoutRecursion_data()
{
    QTest::addColumn<int>("limitKB");
    QTest::addRow("no traffic limit") << 0;
    // A limit caps the socket's own read buffer at 2048 bytes.
    QTest::addRow("with a traffic limit") << 1000000;
}

void TestConnection::floodOfPipelinedRequestsIsServedWithoutRecursion()
{
    QFETCH(int, limitKB);
    ts->config.dataLimitKB = limitKB;
    QVERIFY(ts->start());
    constexpr int Count = 5000;
    QByteArray requests;
    for (int i = 0; i < Count; ++i)
        requests += i % 2 ? "GET /b.txt HTTP/1.1\r\n\r\n" : "GET /a.txt HTTP/1.1\r\n\r\n";

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    client.send(requests);
    for (int i = 0; i < Count; ++i) {
        HttpReply reply;
        QVERIFY2(client.read(&reply, 20000), qPrintable(QStringLiteral("answer %1 missing").arg(i)));
        QCOMPARE(reply.body, i % 2 ? TextB : TextA);
    }
    QVERIFY(!client.isClosed());
    QCOMPARE(ts->server->threads.size(), 1);
}

void TestConnection::keepAliveResetsPerRequestFields()
{
    QVERIFY(ts->start());
    const QByteArray cookie = ts->browserSession(31);
    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));

    HttpReply reply = client.exchange("GET /a.txt HTTP/1.1\r\nRange: bytes=2-4\r\nCookie: " + cookie + "\r\n\r\n");
    QCOMPARE(reply.code, 206);
    // No Range on the second request: the whole file, whatever the first one asked for.
    reply = client.exchange("GET /a.txt HTTP/1.1\r\n\r\n");
    QCOMPARE(reply.code, 200);
    QCOMPARE(reply.body, TextA);
    QVERIFY(!reply.hasHeader("Content-Range"));
    // The session stays bound to the connection.
    QVERIFY(reply.header("Set-Cookie").startsWith(cookie));
    // A form's parameters do not outlive their request either: a suffix range request follows.
    reply = client.exchange(form("/b.txt", "a=log&x=1"));
    QCOMPARE(reply.body, TextB);
    reply = client.exchange("GET /b.txt HTTP/1.1\r\nRange: bytes=-3\r\n\r\n");
    QCOMPARE(reply.code, 206);
    QCOMPARE(reply.body, TextB.right(3));
    QVERIFY(!client.isClosed());
}

void TestConnection::malformedHeadGets400AndCloses_data()
{
    QTest::addColumn<QByteArray>("request");

    QTest::addRow("negative on POST") << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length: -5\r\n\r\n");
    QTest::addRow("not a number on POST") << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length: abc\r\n\r\n");
    QTest::addRow("number with trailing junk") << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length: 12x\r\n\r\n");
    QTest::addRow("empty value") << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length:\r\n\r\n");
    QTest::addRow("two different values")
        << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length: 5\r\ncontent-length: 6\r\n\r\nhello!");
    QTest::addRow("negative on GET") << QByteArray("GET /a.txt HTTP/1.1\r\nContent-Length: -1\r\n\r\n");
    QTest::addRow("negative on PUT") << QByteArray("PUT /new.txt HTTP/1.1\r\nContent-Length: -1\r\n\r\n");
    QTest::addRow("beyond 64 bits") << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n");

    // A header name with blanks after it, or a line folded onto the one before, is no header the
    // server may ignore: read as none, a chunked body would be taken for the next request.
    const QByteArray chunked = "5\r\nhello\r\n0\r\n\r\nGET /a.txt HTTP/1.1\r\n\r\n";
    QTest::addRow("Transfer-Encoding with a blank before the colon")
        << "POST /a.txt HTTP/1.1\r\nTransfer-Encoding : chunked\r\n\r\n" + chunked;
    QTest::addRow("Transfer-Encoding with a tab before the colon")
        << "PUT /new.txt HTTP/1.1\r\nTransfer-Encoding\t: chunked\r\n\r\n" + chunked;
    QTest::addRow("Content-Length with a blank before the colon")
        << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length : 5\r\n\r\nhello");
    QTest::addRow("an unknown header with a blank before the colon")
        << QByteArray("GET /a.txt HTTP/1.1\r\nX-Thing : 1\r\n\r\n");
    QTest::addRow("a line folded onto the one before")
        << QByteArray("GET /a.txt HTTP/1.1\r\nRange: bytes=0-1\r\n ,2-3\r\n\r\n");
    QTest::addRow("a folded line with a colon")
        << "PUT /new.txt HTTP/1.1\r\nHost: h\r\n\tTransfer-Encoding: chunked\r\n\r\n" + chunked;
}

void TestConnection::malformedHeadGets400AndCloses()
{
    QFETCH(QByteArray, request);
    QVERIFY(ts->start());
    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    const HttpReply reply = client.exchange(request);
    QCOMPARE(reply.status, QByteArray("400 Bad Request"));
    QCOMPARE(reply.header("Connection"), QByteArray("close"));
    QCOMPARE(reply.contentLength(), 0);
    QVERIFY(client.waitClosed());
    // No second answer: nothing after the head was read as a request.
    QCOMPARE(client.pending(), QByteArray());
    QVERIFY(!QFileInfo::exists(ts->path(QStringLiteral("new.txt"))));
}

void TestConnection::transferCodedBodyGets411AndCreatesNothing_data()
{
    QTest::addColumn<QByteArray>("request");

    const QByteArray chunk = "5\r\nhello\r\n0\r\n\r\n";
    QTest::addRow("chunked PUT") << "PUT /new.txt HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk;
    QTest::addRow("chunked upload POST")
        << "POST /?a=up HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=B\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk;
    QTest::addRow("chunked form POST")
        << "POST /a.txt HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\ntransfer-encoding: chunked\r\n\r\n" + chunk;
    QTest::addRow("gzip coding") << "PUT /new.txt HTTP/1.1\r\nTRANSFER-ENCODING: gzip, chunked\r\n\r\n" + chunk;
    QTest::addRow("chunked beside a Content-Length")
        << "PUT /new.txt HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n" + chunk;
}

void TestConnection::transferCodedBodyGets411AndCreatesNothing()
{
    QFETCH(QByteArray, request);
    QVERIFY(ts->start());
    const QStringList before = QDir(ts->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    const HttpReply reply = client.exchange(request);
    QCOMPARE(reply.status, QByteArray("411 Length Required"));
    QCOMPARE(reply.header("Connection"), QByteArray("close"));
    QCOMPARE(reply.contentLength(), 0);
    QVERIFY(client.waitClosed());
    QCOMPARE(QDir(ts->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
}

void TestConnection::formBodyIsCappedAt64KiB_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("code");

    QTest::addRow("64 KiB is read whole") << 64 * 1024 << 200;
    QTest::addRow("64 KiB + 1 is too large") << 64 * 1024 + 1 << 413;
    QTest::addRow("4 GiB + 1 is too large, not 1 byte") << -1 << 413;
}

void TestConnection::formBodyIsCappedAt64KiB()
{
    QFETCH(int, length);
    QFETCH(int, code);
    QVERIFY(ts->start());

    // The field p comes last, so it is only seen when the whole body was read. With a=log the
    // answer to a form posted to a file is the file.
    QByteArray body = "a=log&x=" + QByteArray(length - 12, 'y') + "&p=9";
    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    if (code == 413) {
        const QByteArray declared = length < 0 ? QByteArray("4294967297") : QByteArray::number(length);
        const HttpReply reply = client.exchange(form("/b.txt", QByteArray()).replace("Length: 0", "Length: " + declared) + "p=1");
        QCOMPARE(reply.status, QByteArray("413 Request Entity Too Large"));
        QCOMPARE(reply.header("Connection"), QByteArray("close"));
        QVERIFY(client.waitClosed());
        return;
    }
    QCOMPARE(body.size(), length);
    HttpReply reply = client.exchange(form("/b.txt", body) + "GET /a.txt HTTP/1.1\r\n\r\n");
    QCOMPARE(reply.code, code);
    QCOMPARE(reply.body, TextB);
    QVERIFY(!reply.hasHeader("Connection"));
    QVERIFY(client.read(&reply));
    QCOMPARE(reply.body, TextA);
}

void TestConnection::bytesAfterADeclaredBodyStartTheNextRequest_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("firstBody");

    QTest::addRow("url-encoded form") << form("/a.txt", "a=log&k=v&w=z") << TextA;
    QTest::addRow("form whose body looks like a request")
        << form("/a.txt", "a=log&GET /b.txt HTTP/1.1\r\n\r\n") << TextA;
    QTest::addRow("GET with a body")
        << QByteArray("GET /a.txt HTTP/1.1\r\nContent-Length: 23\r\n\r\nGET /b.txt HTTP/1.1\r\n\r\n") << TextA;
    QTest::addRow("the same Content-Length twice, with blanks")
        << QByteArray("GET /a.txt HTTP/1.1\r\nContent-Length: 3 \r\nCONTENT-LENGTH:3\r\n\r\nxyz") << TextA;
    QTest::addRow("form with a range")
        << form("/a.txt", "a=log&q=1", "Range: bytes=0-1\r\n") << TextA.left(2);
}

void TestConnection::bytesAfterADeclaredBodyStartTheNextRequest()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, firstBody);
    QVERIFY(ts->start());

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    client.send(first + "GET /b.txt HTTP/1.1\r\nRange: bytes=0-7\r\n\r\n");
    HttpReply reply;
    QVERIFY(client.read(&reply));
    QCOMPARE(reply.body, firstBody);
    QVERIFY(!reply.hasHeader("Connection"));
    QVERIFY(client.read(&reply));
    QCOMPARE(reply.code, 206);
    QCOMPARE(reply.body, TextB.left(8));
    // Exactly two answers: nothing of a body was taken for a request.
    QVERIFY(!client.read(&reply, 300));
    QVERIFY(!client.isClosed());
}

void TestConnection::answerWhileBodyIsUnreadClosesTheConnection_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("code");

    QTest::addRow("POST of a file with a long body")
        << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Type: application/octet-stream\r\nContent-Length: 100000\r\n\r\n") << 200;
    QTest::addRow("POST of an upload without a boundary, with a long body")
        << QByteArray("POST /nothing.bin HTTP/1.1\r\nContent-Type: application/octet-stream\r\nContent-Length: 100000\r\n\r\n") << 200;
    QTest::addRow("GET with a body too large to collect")
        << QByteArray("GET /a.txt HTTP/1.1\r\nContent-Length: 100000\r\n\r\n") << 413;
    QTest::addRow("GET with a body of 4 GiB + 5")
        << QByteArray("GET /a.txt HTTP/1.1\r\nContent-Length: 4294967301\r\n\r\n") << 413;
    QTest::addRow("POST of a file with a body of 4 GiB + 100")
        << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Type: application/octet-stream\r\nContent-Length: 4294967396\r\n\r\n") << 200;
}

void TestConnection::answerWhileBodyIsUnreadClosesTheConnection()
{
    QFETCH(QByteArray, head);
    QFETCH(int, code);
    QVERIFY(ts->start());

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    // Some of the body follows the head; the rest never comes.
    const HttpReply reply = client.exchange(head + QByteArray(3000, 'z'));
    QCOMPARE(reply.code, code);
    QCOMPARE(reply.header("Connection"), QByteArray("close"));
    QVERIFY(client.waitClosed());
}

void TestConnection::expectContinueGetsAnInterimAnswerBeforeTheBody()
{
    ts->config.authMode = AuthMode::Password;
    ts->config.password = QStringLiteral("s3cret");
    QVERIFY(ts->start());

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    const QByteArray body = "a=log&password=s3cret";
    HttpReply reply = client.exchange("POST /a.txt HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                      "Content-Length: " + QByteArray::number(body.size()) + "\r\nExpect: 100-continue\r\n\r\n");
    QCOMPARE(reply.head, QByteArray("HTTP/1.1 100 Continue\r\n\r\n"));
    reply = client.exchange(body);
    QCOMPARE(reply.code, 200);
    QCOMPARE(reply.body, TextA);
    // The login holds for the session.
    reply = client.exchange("GET /b.txt HTTP/1.1\r\n\r\n");
    QCOMPARE(reply.body, TextB);
}

void TestConnection::refusedBodyGetsNoInterimAnswer()
{
    QVERIFY(ts->start());
    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    const HttpReply reply = client.exchange("POST /a.txt HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                            "Content-Length: 70000\r\nExpect: 100-continue\r\n\r\n");
    QCOMPARE(reply.code, 413);
    QVERIFY(client.waitClosed());
    QVERIFY(!client.pending().contains("100 Continue"));
}

void TestConnection::headLongerThanTheBufferIsAnsweredThenClosed_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("code");

    const QByteArray start = "GET /a.txt HTTP/1.1\r\nX-Pad: ";
    const QByteArray padded = start + QByteArray(2048 - start.size(), 'p');
    QTest::addRow("long header line") << padded + QByteArray(500, 'q') + "\r\n\r\n" << 200;
    QTest::addRow("a request line right behind the first 2048 bytes")
        << padded + "GET /b.txt HTTP/1.1\r\n\r\n" << 200;
    QTest::addRow("a request after the long head")
        << padded + "\r\n\r\nGET /b.txt HTTP/1.1\r\n\r\n" << 200;
    QTest::addRow("range behind the first 2048 bytes is not seen")
        << padded + "\r\nRange: bytes=0-1\r\n\r\n" << 200;
}

void TestConnection::headLongerThanTheBufferIsAnsweredThenClosed()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, code);
    QVERIFY(ts->start());

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    HttpReply reply = client.exchange(bytes);
    QCOMPARE(reply.code, code);
    QCOMPARE(reply.body, TextA);
    QCOMPARE(reply.header("Connection"), QByteArray("close"));
    QVERIFY(client.waitClosed());
    // Nothing of the overflow was answered.
    QVERIFY(!client.read(&reply, 100));
    QVERIFY(!client.pending().contains(TextB));
}

void TestConnection::clientClosingEndsTheHandler()
{
    QVERIFY(ts->start());
    {
        HttpClient client;
        QVERIFY(client.connectTo(ts->port()));
        QCOMPARE(client.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
        QTRY_COMPARE(ts->server->threads.size(), 1);
        client.socket.disconnectFromHost();
    }
    QTRY_COMPARE(ts->server->threads.size(), 0);
}

void TestConnection::requestFollowedByHalfCloseIsAnswered()
{
    QVERIFY(ts->start());
    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    client.send("GET /a.txt HTTP/1.1\r\n\r\nGET /b.txt HTTP/1.1\r\n\r\n");
    // The client says it sends nothing more, as `printf ... | nc` does.
    QCOMPARE(::shutdown(int(client.socket.socketDescriptor()), SHUT_WR), 0);
    HttpReply reply;
    QVERIFY(client.read(&reply));
    QCOMPARE(reply.body, TextA);
    QVERIFY(client.read(&reply));
    QCOMPARE(reply.body, TextB);
    QVERIFY(client.waitClosed());
    QTRY_COMPARE(ts->server->threads.size(), 0);
}

void TestConnection::answersDoNotWaitForTheNextAcknowledgement_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("code");
    QTest::addRow("small file") << QByteArray("GET /a.txt HTTP/1.1\r\n\r\n") << 200;
    QTest::addRow("30 KB file") << QByteArray("GET /c.bin HTTP/1.1\r\n\r\n") << 200;
    QTest::addRow("100 KB file") << QByteArray("GET /d.bin HTTP/1.1\r\n\r\n") << 200;
    QTest::addRow("folder page") << QByteArray("GET / HTTP/1.1\r\n\r\n") << 200;
    QTest::addRow("listing") << QByteArray("PROPFIND / HTTP/1.1\r\nDepth: 1\r\n\r\n") << 207;
    QTest::addRow("not found") << QByteArray("GET /missing.txt HTTP/1.1\r\n\r\n") << 404;
}

// A head and its body written apart would leave as two small packets, and the second would
// wait for the peer's delayed acknowledgement of the first: some 40 ms for every answer.
void TestConnection::answersDoNotWaitForTheNextAcknowledgement()
{
    QFETCH(QByteArray, request);
    QFETCH(int, code);
    ts->put(QStringLiteral("c.bin"), QByteArray(30 * 1000, 'c'));
    ts->put(QStringLiteral("d.bin"), QByteArray(100 * 1000, 'd'));
    QVERIFY(ts->start());
    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    constexpr int Exchanges = 30;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < Exchanges; ++i) {
        const HttpReply reply = client.exchange(request);
        QCOMPARE(reply.code, code);
    }
    QVERIFY2(clock.elapsed() < Exchanges * 20, qPrintable(QString::number(clock.elapsed()) + " ms"));
}

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
