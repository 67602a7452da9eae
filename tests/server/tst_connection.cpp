// Framing of requests on one connection: heads in pieces, pipelining, keep-alive, declared
// bodies and what follows them, bodies in chunks, refused bodies and the lingering close after
// them, 100-continue and heads of every length.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "server/serverthread.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray TextA = "contents of a";
const QByteArray TextB = "contents of b, longer";

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void headInSeveralWritesIsParsedOnlyWhenComplete_data();
    void headInSeveralWritesIsParsedOnlyWhenComplete();
    void floodOfPipelinedRequestsIsServedWithoutRecursion_data();
    void floodOfPipelinedRequestsIsServedWithoutRecursion();
    void keepAliveResetsPerRequestFields();
    void malformedHeadGets400AndCloses_data();
    void malformedHeadGets400AndCloses();
    void chunkedBodyIsDecodedInAnyPieces_data();
    void chunkedBodyIsDecodedInAnyPieces();
    void formBodyIsCappedAt64KiB_data();
    void formBodyIsCappedAt64KiB();
    void bytesAfterADeclaredBodyStartTheNextRequest_data();
    void bytesAfterADeclaredBodyStartTheNextRequest();
    void answerWhileBodyIsUnreadClosesTheConnection_data();
    void answerWhileBodyIsUnreadClosesTheConnection();
    void bodyAfterAnEarlyAnswerIsReadBeforeTheClose_data();
    void bodyAfterAnEarlyAnswerIsReadBeforeTheClose();
    void expectContinueGetsAnInterimAnswerOnlyForABodyRead();
    void headsUpTo8KiBAreReadLongerOnesRefused_data();
    void headsUpTo8KiBAreReadLongerOnesRefused();
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
    HttpClient client(ts->port());
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
    reply = client.exchange(formPost("/b.txt", "a=log&x=1"));
    QCOMPARE(reply.body, TextB);
    reply = client.exchange("GET /b.txt HTTP/1.1\r\nRange: bytes=-3\r\n\r\n");
    QCOMPARE(reply.code, 206);
    QCOMPARE(reply.body, TextB.right(3));
    QVERIFY(!client.isClosed());
}

void TestConnection::malformedHeadGets400AndCloses_data()
{
    QTest::addColumn<QByteArray>("request");

    // Methods are known by their whole names, in capitals: 405, and closed as a bad head is.
    QTest::addRow("unknown method") << QByteArray("BREW /a.txt HTTP/1.1\r\n\r\n");
    QTest::addRow("lower-case get") << QByteArray("get /a.txt HTTP/1.1\r\n\r\n");
    QTest::addRow("negative on POST") << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length: -5\r\n\r\n");
    QTest::addRow("two different values")
        << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length: 5\r\ncontent-length: 6\r\n\r\nhello!");
    QTest::addRow("beyond 64 bits") << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n");

    // A header name with blanks after it, or a line folded onto the one before, is no header the
    // server may ignore: read as none, a chunked body would be taken for the next request.
    const QByteArray chunked = "5\r\nhello\r\n0\r\n\r\nGET /a.txt HTTP/1.1\r\n\r\n";
    QTest::addRow("Transfer-Encoding with a blank before the colon")
        << "POST /a.txt HTTP/1.1\r\nTransfer-Encoding : chunked\r\n\r\n" + chunked;
    QTest::addRow("a line folded onto the one before")
        << QByteArray("GET /a.txt HTTP/1.1\r\nRange: bytes=0-1\r\n ,2-3\r\n\r\n");

    // Lines that end, or names and values that read, differently for others on the way
    // (RFC 9112 2.2, 5.5).
    QTest::addRow("a bare CR inside a value")
        << "PUT /new.txt HTTP/1.1\r\nX-A: 1\rTransfer-Encoding: chunked\r\n\r\n" + chunked;
    QTest::addRow("a LF alone ending a line")
        << "PUT /new.txt HTTP/1.1\r\nX-A: 1\nTransfer-Encoding: chunked\r\n\r\n" + chunked;
    QTest::addRow("a control character in a value") << QByteArray("GET /a.txt HTTP/1.1\r\nX-A: a\x01b\r\n\r\n");
    // Only exactly chunked frames a body (RFC 9112 6.1, 6.3).
    QTest::addRow("gzip coding") << "PUT /new.txt HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n" + chunked;
    QTest::addRow("two Transfer-Encoding lines")
        << "PUT /new.txt HTTP/1.1\r\nTransfer-Encoding: chunked\r\ntransfer-encoding: chunked\r\n\r\n" + chunked;
    QTest::addRow("chunked beside a Content-Length")
        << "PUT /new.txt HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked;
    QTest::addRow("a Content-Length after chunked")
        << "POST /a.txt HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 23\r\n\r\n" + chunked;
}

void TestConnection::malformedHeadGets400AndCloses()
{
    QFETCH(QByteArray, request);
    QVERIFY(ts->start());
    HttpClient client(ts->port());
    const HttpReply reply = client.exchange(request);
    const bool method = request.startsWith("BREW") || request.startsWith("get ");
    QCOMPARE(reply.status, method ? QByteArray("405 Method Not Allowed") : QByteArray("400 Bad Request"));
    QCOMPARE(reply.header("Connection"), QByteArray("close"));
    QCOMPARE(reply.contentLength(), 0);
    QVERIFY(client.waitClosed());
    // No second answer: nothing after the head was read as a request.
    QCOMPARE(client.pending(), QByteArray());
    QVERIFY(!QFileInfo::exists(ts->path(QStringLiteral("new.txt"))));
}

namespace {
// A body in chunks of at most `size` bytes, with the last chunk and the end of the trailers.
QByteArray inChunks(const QByteArray &data, int size, const QByteArray &extension = QByteArray(),
                    const QByteArray &trailers = QByteArray())
{
    QByteArray out;
    for (qsizetype at = 0; at < data.size(); at += size) {
        const QByteArray piece = data.mid(at, size);
        out += QByteArray::number(piece.size(), 16) + extension + "\r\n" + piece + "\r\n";
    }
    return out + "0" + extension + "\r\n" + trailers + "\r\n";
}
} // namespace

void TestConnection::chunkedBodyIsDecodedInAnyPieces_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("chunks");
    QTest::addColumn<int>("piece"); // bytes per write; 0: all at once
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("stored"); // the content of up.bin afterwards; null: none

    const QByteArray put = "PUT /up.bin HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    const QByteArray upload = "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
                              "Transfer-Encoding: chunked\r\n\r\n";
    const QByteArray data = "The quick brown fox jumps over the lazy dog. 0123456789";
    QByteArray big;
    for (int i = 0; big.size() < 300000; ++i)
        big += QByteArray::number(i) + ',';
    const QByteArray form = multipartBody("XyZ", "up.bin", data);
    const QByteArray none;

    QTest::addRow("PUT, chunks of 7 bytes, one byte at a time") << put << inChunks(data, 7) << 1 << 201 << data;
    QTest::addRow("PUT, sizes in upper case with leading zeros")
        << put << QByteArray("000A\r\n0123456789\r\n0000\r\n\r\n") << 0 << 201 << QByteArray("0123456789");
    QTest::addRow("PUT, extensions, one byte at a time")
        << put << inChunks(data, 9, "; name=value;quoted=\"a b;c\"") << 1 << 201 << data;
    QTest::addRow("PUT, trailers, in fives") << put << inChunks(data, 20, QByteArray(), "X-Sum: 12\r\nX-More: a\r\n") << 5
                                            << 201 << data;
    QTest::addRow("PUT, no data at all") << put << QByteArray("0\r\n\r\n") << 0 << 201 << QByteArray("");
    QTest::addRow("PUT, 300 KB in chunks of 1000, sent in 4093s") << put << inChunks(big, 1000) << 4093 << 201 << big;
    QTest::addRow("upload form, one byte at a time") << upload << inChunks(form, 11) << 1 << 200 << data;
    QTest::addRow("upload form, the delimiter across chunks") << upload << inChunks(form, form.size() - 20) << 0 << 200
                                                             << data;

    // Broken framing: 400, the connection closes, nothing is left under the name.
    QTest::addRow("PUT, a size that is not hexadecimal") << put << QByteArray("1g\r\nx\r\n0\r\n\r\n") << 0 << 400 << none;
    QTest::addRow("PUT, a size past 63 bits") << put << QByteArray("8000000000000000\r\nabc\r\n0\r\n\r\n") << 0 << 400
                                             << none;
    QTest::addRow("PUT, two other bytes in place of a chunk's CR LF") << put << QByteArray("5\r\nhelloXY0\r\n\r\n") << 0
                                                                    << 400 << none;
    QTest::addRow("PUT, a chunk longer than its size") << put << QByteArray("3\r\nhello\r\n0\r\n\r\n") << 1 << 400 << none;
    // Two whole chunks of 50000 bytes, then a size that is none.
    QTest::addRow("upload form, broken after 100 KB of the file")
        << upload << inChunks(multipartBody("XyZ", "up.bin", big), 50000).left(2 * 50008) + "zz\r\n" << 0 << 400 << none;
    QTest::addRow("url-encoded form past 64 KiB")
        << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                      "Transfer-Encoding: chunked\r\n\r\n")
        << inChunks("a=log&x=" + QByteArray(70000, 'y'), 4096) << 0 << 400 << none;
}

void TestConnection::chunkedBodyIsDecodedInAnyPieces()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, chunks);
    QFETCH(int, piece);
    QFETCH(int, code);
    QFETCH(QByteArray, stored);
    QVERIFY(ts->start());
    const QStringList before = ts->names();

    // A request right behind the body: where the body ends is where it begins.
    const QByteArray bytes = head + chunks + "GET /b.txt HTTP/1.1\r\n\r\n";
    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    if (piece == 0) {
        client.send(bytes);
    } else {
        for (qsizetype at = 0; at < bytes.size(); at += piece) {
            client.send(bytes.mid(at, piece));
            QVERIFY(HttpClient::waitUntil([&] { return ts->server->traffic.receivedBytes >= at + qMin<qsizetype>(piece, bytes.size() - at)
                                                       || client.isClosed(); }));
        }
    }
    HttpReply reply = client.reply(20000);
    QCOMPARE(reply.code, code);
    if (code == 400) {
        QCOMPARE(reply.header("Connection"), QByteArray("close"));
        QVERIFY(client.waitClosed());
        QVERIFY(!client.pending().contains(TextB));
    } else {
        if (code == 200 && !stored.isNull())
            QVERIFY(reply.body.contains("File sent success."));
        HttpReply next;
        QVERIFY(client.read(&next));
        QCOMPARE(next.body, TextB);
        QVERIFY(!client.isClosed());
    }
    QCOMPARE(ts->names(), stored.isNull() ? before : QStringList(before) << QStringLiteral("up.bin"));
    QVERIFY(ts->read(QStringLiteral("up.bin")) == stored);
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
    // answer to a form posted to a file is the file. A refused body is declared, not sent.
    const QByteArray declared = length < 0 ? QByteArray("4294967297") : QByteArray::number(length);
    const QByteArray body = code == 413 ? QByteArray("p=1") : "a=log&x=" + QByteArray(length - 12, 'y') + "&p=9";
    HttpClient client(ts->port());
    HttpReply reply = client.exchange(formPost("/b.txt", body).replace("Length: " + QByteArray::number(body.size()),
                                                                       "Length: " + declared) + "GET /a.txt HTTP/1.1\r\n\r\n");
    QCOMPARE(reply.code, code);
    QCOMPARE(reply.header("Connection"), code == 413 ? QByteArray("close") : QByteArray());
    QCOMPARE(client.read(&reply) ? reply.body : QByteArray(), code == 413 ? QByteArray() : TextA);
}

void TestConnection::bytesAfterADeclaredBodyStartTheNextRequest_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("firstBody");

    QTest::addRow("form whose body looks like a request")
        << formPost("/a.txt", "a=log&GET /b.txt HTTP/1.1\r\n\r\n") << TextA;
    QTest::addRow("GET with a body")
        << QByteArray("GET /a.txt HTTP/1.1\r\nContent-Length: 23\r\n\r\nGET /b.txt HTTP/1.1\r\n\r\n") << TextA;
    QTest::addRow("the same Content-Length twice, with blanks")
        << QByteArray("GET /a.txt HTTP/1.1\r\nContent-Length: 3 \r\nCONTENT-LENGTH:3\r\n\r\nxyz") << TextA;
    QTest::addRow("form with a range")
        << formPost("/a.txt", "a=log&q=1", "Range: bytes=0-1\r\n") << TextA.left(2);
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

void TestConnection::bodyAfterAnEarlyAnswerIsReadBeforeTheClose_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("text"); // in the answer's body

    const QByteArray data(3 * 1000 * 1000, 'd');
    QTest::addRow("PUT that may not replace")
        << "PUT /a.txt HTTP/1.1\r\nIf-None-Match: *\r\nContent-Length: " + QByteArray::number(data.size()) + "\r\n\r\n"
        << data << QByteArray("412 Precondition Failed") << QByteArray();
    const QByteArray form = multipartBody("XyZ", "a.txt", data);
    QTest::addRow("upload onto an existing name")
        << "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=XyZ\r\nContent-Length: "
               + QByteArray::number(form.size()) + "\r\n\r\n"
        << form << QByteArray("200 OK") << QByteArray("File send failed: File exists");
    QTest::addRow("url-encoded form too large")
        << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 1000000\r\n\r\n")
        << QByteArray(1000000, 'x') << QByteArray("413 Request Entity Too Large") << QByteArray();
    QTest::addRow("chunks after a refused path")
        << QByteArray("PUT /../x.bin HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
        << inChunks(data, 65536) << QByteArray("403 Forbidden") << QByteArray();
}

// The client sends its whole body before it reads, and goes on sending after the server's close
// of its side, as browsers do: had the server closed at once, the system would reset the
// connection at the bytes left unread, and the client would lose the answer.
void TestConnection::bodyAfterAnEarlyAnswerIsReadBeforeTheClose()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, text);
    QVERIFY(ts->start());

    const int fd = rawConnect(ts->port());
    QVERIFY(fd >= 0);
    const QByteArray bytes = head + body;
    qsizetype sent = 0;
    int failure = 0;
    QVERIFY(HttpClient::waitUntil([&] {
        const ssize_t n = ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            sent += n;
        else if (n < 0 && errno != EAGAIN)
            failure = errno;
        return sent == bytes.size() || failure != 0;
    }, 30000));
    QCOMPARE(failure, 0);
    QByteArray received;
    QVERIFY(HttpClient::waitUntil([&] {
        char piece[4096];
        const ssize_t n = ::recv(fd, piece, sizeof piece, MSG_DONTWAIT);
        if (n > 0)
            received.append(piece, n);
        else if (n < 0 && errno != EAGAIN)
            failure = errno;
        return n == 0 || failure != 0;
    }));
    ::close(fd);
    // The answer, then the end of the stream: no reset.
    QCOMPARE(failure, 0);
    HttpReply reply;
    QVERIFY(reply.takeFrom(received));
    QCOMPARE(reply.status, status);
    QVERIFY(reply.body.contains(text));
    QCOMPARE(reply.header("Connection"), QByteArray("close"));
    QTRY_COMPARE(ts->server->traffic.receivedBytes, qint64(bytes.size()));
    QTRY_COMPARE(ts->server->threads.size(), 0);
    QCOMPARE(ts->read(QStringLiteral("a.txt")), TextA);
}

void TestConnection::expectContinueGetsAnInterimAnswerOnlyForABodyRead()
{
    ts->config.authMode = AuthMode::Password;
    ts->config.password = QStringLiteral("s3cret");
    QVERIFY(ts->start());

    const QByteArray expect = "Expect: 100-continue\r\n";
    HttpClient client(ts->port());
    HttpReply reply = client.exchange(formPost("/a.txt", "a=log&password=s3cret", expect).chopped(21));
    QCOMPARE(reply.head, QByteArray("HTTP/1.1 100 Continue\r\n\r\n"));
    reply = client.exchange("a=log&password=s3cret");
    QCOMPARE(reply.body, TextA);
    // The login holds for the session.
    QCOMPARE(client.exchange("GET /b.txt HTTP/1.1\r\n\r\n").body, TextB);

    // A body refused by its length gets no interim answer.
    reply = client.exchange(formPost("/a.txt", QByteArray(70000, 'x'), expect).chopped(70000));
    QCOMPARE(reply.code, 413);
    QVERIFY(client.waitClosed());
    QVERIFY(!client.pending().contains("100 Continue"));
}

void TestConnection::headsUpTo8KiBAreReadLongerOnesRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("status");

    const QByteArray start = "GET /a.txt HTTP/1.1\r\nX-Pad: ";
    const QByteArray ok = "200 OK";
    const QByteArray tooLarge = "431 Request Header Fields Too Large";
    QTest::addRow("a line longer than the first buffer") << start + QByteArray(2500, 'p') + "\r\n\r\n" << ok;
    QTest::addRow("8 KiB in all") << start + QByteArray(8192 - start.size() - 4, 'p') + "\r\n\r\n" << ok;
    QTest::addRow("8 KiB and one byte") << start + QByteArray(8193 - start.size() - 4, 'p') + "\r\n\r\n" << tooLarge;
    QByteArray lines = "GET /a.txt HTTP/1.1\r\n";
    for (int i = 0; i < 5000; ++i)
        lines += "X: " + QByteArray::number(i) + "\r\n";
    QTest::addRow("5000 lines") << lines + "\r\n" << tooLarge;
    // The header that follows the padding counts: without it the copy would replace b.txt.
    const QByteArray copy = "COPY /a.txt HTTP/1.1\r\nDestination: /b.txt\r\nX-Pad: ";
    QTest::addRow("COPY with 2100 bytes before Overwrite: F")
        << copy + QByteArray(2100, 'p') + "\r\nOverwrite: F\r\n\r\n" << QByteArray("412 Precondition Failed");
    QTest::addRow("COPY with 9000 bytes before Overwrite: F") << copy + QByteArray(9000, 'p') + "\r\nOverwrite: F\r\n\r\n"
                                                             << tooLarge;
}

void TestConnection::headsUpTo8KiBAreReadLongerOnesRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, status);
    ts->config.enableDelete = CheckState::On;
    QVERIFY(ts->start());

    HttpClient client(ts->port());
    HttpReply reply = client.exchange(bytes + "GET /b.txt HTTP/1.1\r\n\r\n");
    QCOMPARE(reply.status, status);
    if (reply.code == 200)
        QCOMPARE(reply.body, TextA);
    if (reply.code == 431) {
        // Never read: the request is not run, and nothing after it is taken for a request.
        QCOMPARE(reply.header("Connection"), QByteArray("close"));
        QVERIFY(client.waitClosed());
        QVERIFY(!client.pending().contains(TextB));
    } else {
        QVERIFY(client.read(&reply));
        QCOMPARE(reply.body, TextB);
        QVERIFY(!client.isClosed());
    }
    QCOMPARE(ts->read(QStringLiteral("b.txt")), TextB);
    // The buffer grown for a long head is not kept by the idle connection.
    QTRY_VERIFY(ts->server->threads.isEmpty() || !ts->server->threads.first()->request.socket.holdsBuffer());
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
    QTest::addRow("100 KB file") << QByteArray("GET /d.bin HTTP/1.1\r\n\r\n") << 200;
    QTest::addRow("listing") << QByteArray("PROPFIND / HTTP/1.1\r\nDepth: 1\r\n\r\n") << 207;
}

// A head and its body written apart would leave as two small packets, and the second would
// wait for the peer's delayed acknowledgement of the first: some 40 ms for every answer.
void TestConnection::answersDoNotWaitForTheNextAcknowledgement()
{
    QFETCH(QByteArray, request);
    QFETCH(int, code);
    ts->put(QStringLiteral("d.bin"), QByteArray(100 * 1000, 'd'));
    QVERIFY(ts->start());
    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    constexpr int Exchanges = 30;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < Exchanges; ++i)
        QCOMPARE(client.exchange(request).code, code);
    QVERIFY2(clock.elapsed() < Exchanges * 20, qPrintable(QString::number(clock.elapsed()) + " ms"));
}

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
