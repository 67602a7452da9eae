// Requests on one connection: how a head is read and which heads are refused, keep-alive,
// pipelining, declared bodies and what follows them, bodies in chunks in any pieces, the
// lingering close after an early answer, 100-continue, heads of every length, and the session a
// cookie binds.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "server/clientdata.h"
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
// How a connection ends after its answers: kept open, closed by the server, or half-closed by
// the client after its requests and then closed by the server.
enum End { Open, Closes, HalfClosed };

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

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void requestsOnOneConnection_data();
    void requestsOnOneConnection();
    void floodOfPipelinedRequestsIsServedWithoutRecursion();
    void chunkedBodyIsDecodedInAnyPieces_data();
    void chunkedBodyIsDecodedInAnyPieces();
    void bodyAfterAnEarlyAnswerIsReadBeforeTheClose_data();
    void bodyAfterAnEarlyAnswerIsReadBeforeTheClose();
    void expectContinueGetsAnInterimAnswerOnlyForABodyRead();
    void answersDoNotWaitForTheNextAcknowledgement();
    void cookieBindsTheSession_data();
    void cookieBindsTheSession();

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

void TestConnection::requestsOnOneConnection_data()
{
    QTest::addColumn<QByteArray>("bytes"); // sent at once
    QTest::addColumn<QByteArrayList>("answers"); // in order: "code text-in-the-body"
    QTest::addColumn<int>("end");

    const QByteArray a = "200 " + TextA;
    const QByteArray b = "200 " + TextB;
    const QByteArray getA = "GET /a.txt HTTP/1.1\r\n\r\n";
    const QByteArray getB = "GET /b.txt HTTP/1.1\r\n\r\n";

    // Keep-alive (HTTP/1.0 keeps a connection only when asked to), and how a head is read.
    QTest::addRow("Connection: close") << QByteArray("GET /a.txt HTTP/1.1\r\nConnection: close\r\n\r\n")
                                       << QByteArrayList{a} << int(Closes);
    QTest::addRow("HTTP/1.0") << QByteArray("GET /a.txt HTTP/1.0\r\n\r\n") << QByteArrayList{a} << int(Closes);
    QTest::addRow("HTTP/1.0, keep-alive") << QByteArray("GET /a.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n")
                                          << QByteArrayList{a} << int(Open);
    QTest::addRow("empty lines before the head") << "\r\n\r\n" + getA << QByteArrayList{a} << int(Open);
    QTest::addRow("a line of two bytes is skipped, the head goes on")
        << QByteArray("GET /a.txt HTTP/1.1\r\nXY\r\nRange: bytes=0-1\r\n\r\n") << QByteArrayList{"206 co"} << int(Open);
    QTest::addRow("header names in any case, no blank after the colon")
        << QByteArray("GET /a.txt HTTP/1.1\r\nRANGE:bytes=0-3\r\n\r\n") << QByteArrayList{"206 cont"} << int(Open);
    QTest::addRow("Transfer-Encoding: Chunked")
        << "POST /a.txt HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nTransfer-Encoding: Chunked\r\n\r\n"
               "5\r\na=log\r\n0\r\n\r\n" + getB
        << QByteArrayList{a, b} << int(Open);
    // Paths that are no paths of the share: 403, and closed.
    QTest::addRow("an encoded path out of the share") << "GET /%2e%2e/a.txt HTTP/1.1\r\n\r\n" + getB
                                                      << QByteArrayList{"403"} << int(Closes);
    QTest::addRow("a relative target") << "GET a.txt HTTP/1.1\r\n\r\n" + getB << QByteArrayList{"403"} << int(Closes);
    QTest::addRow("a NUL in the path") << "GET /a%00.txt HTTP/1.1\r\n\r\n" + getB << QByteArrayList{"403"}
                                       << int(Closes);
    QTest::addRow("a request line too short: no answer") << QByteArray("AB\r\n\r\n") << QByteArrayList{} << int(Closes);
    // As `printf ... | nc` does.
    QTest::addRow("two requests, then half-closed") << getA + getB << QByteArrayList{a, b} << int(HalfClosed);

    // What a request asked for does not outlive it.
    QTest::addRow("a range, then none") << "GET /a.txt HTTP/1.1\r\nRange: bytes=2-4\r\n\r\n" + getA
                                        << QByteArrayList{"206 nte", a} << int(Open);
    QTest::addRow("a form, then a suffix range")
        << formPost("/b.txt", "a=log&x=1") + "GET /b.txt HTTP/1.1\r\nRange: bytes=-3\r\n\r\n"
        << QByteArrayList{b, "206 ger"} << int(Open);

    // The bytes after a declared body start the next request.
    QTest::addRow("form whose body looks like a request") << formPost("/a.txt", "a=log&" + getB) + getB
                                                          << QByteArrayList{a, b} << int(Open);
    QTest::addRow("GET with a body") << "GET /a.txt HTTP/1.1\r\nContent-Length: 23\r\n\r\n" + getB
                                            + "GET /b.txt HTTP/1.1\r\nRange: bytes=0-7\r\n\r\n"
                                     << QByteArrayList{a, "206 contents"} << int(Open);
    QTest::addRow("the same Content-Length twice, with blanks")
        << "GET /a.txt HTTP/1.1\r\nContent-Length: 3 \r\nCONTENT-LENGTH:3\r\n\r\nxyz" + getB << QByteArrayList{a, b}
        << int(Open);
    // The field p comes last: it is only seen when the whole body was read. A refused body is
    // declared, not sent.
    QTest::addRow("a form of 64 KiB is read whole")
        << formPost("/b.txt", "a=log&x=" + QByteArray(64 * 1024 - 12, 'y') + "&p=9") + getA << QByteArrayList{b, a}
        << int(Open);
    const QByteArray form = "POST /b.txt HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: ";
    QTest::addRow("a form of 64 KiB + 1") << form + "65537\r\n\r\np=1" + getA << QByteArrayList{"413"} << int(Closes);
    QTest::addRow("a form of 4 GiB + 1, not 1 byte") << form + "4294967297\r\n\r\np=1" + getA << QByteArrayList{"413"}
                                                     << int(Closes);

    // An answer while some of the body is unread closes the connection.
    const QByteArray some(3000, 'z');
    const QByteArray file = "POST /a.txt HTTP/1.1\r\nContent-Type: application/octet-stream\r\nContent-Length: ";
    QTest::addRow("POST of a file with a long body") << file + "100000\r\n\r\n" + some << QByteArrayList{"200"}
                                                     << int(Closes);
    QTest::addRow("GET with a body of 4 GiB + 5")
        << "GET /a.txt HTTP/1.1\r\nContent-Length: 4294967301\r\n\r\n" + some << QByteArrayList{"413"} << int(Closes);

    // Heads up to 8 KiB are read, longer ones never: nothing after them is taken for a request.
    const QByteArray pad = "GET /a.txt HTTP/1.1\r\nX-Pad: ";
    QTest::addRow("a line longer than the first buffer") << pad + QByteArray(2500, 'p') + "\r\n\r\n" + getB
                                                         << QByteArrayList{a, b} << int(Open);
    QTest::addRow("8 KiB in all") << pad + QByteArray(8192 - pad.size() - 4, 'p') + "\r\n\r\n" + getB
                                  << QByteArrayList{a, b} << int(Open);
    QTest::addRow("8 KiB and one byte") << pad + QByteArray(8193 - pad.size() - 4, 'p') + "\r\n\r\n" + getB
                                        << QByteArrayList{"431"} << int(Closes);
    QByteArray lines = "GET /a.txt HTTP/1.1\r\n";
    for (int i = 0; i < 5000; ++i)
        lines += "X: " + QByteArray::number(i) + "\r\n";
    QTest::addRow("5000 lines") << lines + "\r\n" + getB << QByteArrayList{"431"} << int(Closes);
    // The header after the padding counts: without it the copy would replace b.txt.
    const QByteArray copy = "COPY /a.txt HTTP/1.1\r\nDestination: /b.txt\r\nX-Pad: ";
    QTest::addRow("COPY with 2100 bytes before Overwrite: F")
        << copy + QByteArray(2100, 'p') + "\r\nOverwrite: F\r\n\r\n" + getB << QByteArrayList{"412", b} << int(Open);
    QTest::addRow("COPY with 9000 bytes before Overwrite: F")
        << copy + QByteArray(9000, 'p') + "\r\nOverwrite: F\r\n\r\n" + getB << QByteArrayList{"431"} << int(Closes);

    // Refused heads: 400 and closed. Methods are known by their whole names, in capitals: 405.
    // A request line longer than any head: 414.
    const QByteArrayList refused{"400"};
    QTest::addRow("unknown method") << "BREW /a.txt HTTP/1.1\r\n\r\n" + getB << QByteArrayList{"405"} << int(Closes);
    QTest::addRow("lower-case get") << "get /a.txt HTTP/1.1\r\n\r\n" + getB << QByteArrayList{"405"} << int(Closes);
    // Once counted as the method its name begins with, taking the body and the destination.
    QTest::addRow("a longer method name") << "DELETEX /a.txt HTTP/1.1\r\nContent-Length: 4\r\n\r\n" + getB
                                          << QByteArrayList{"405"} << int(Closes);
    QTest::addRow("a request line longer than the longest head")
        << "GET /" + QByteArray(9000, 'a') + " HTTP/1.1\r\n\r\n" + getB << QByteArrayList{"414"} << int(Closes);
    QTest::addRow("negative Content-Length") << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length: -5\r\n\r\n")
                                             << refused << int(Closes);
    QTest::addRow("two different Content-Length values")
        << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length: 5\r\ncontent-length: 6\r\n\r\nhello!") << refused
        << int(Closes);
    QTest::addRow("Content-Length beyond 64 bits")
        << QByteArray("POST /a.txt HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n") << refused << int(Closes);
    // A header name with blanks after it, or a line folded onto the one before, is no header the
    // server may ignore: read as none, a chunked body would be taken for the next request.
    const QByteArray chunked = "5\r\nhello\r\n0\r\n\r\n" + getA;
    QTest::addRow("Transfer-Encoding with a blank before the colon")
        << "POST /a.txt HTTP/1.1\r\nTransfer-Encoding : chunked\r\n\r\n" + chunked << refused << int(Closes);
    QTest::addRow("a line folded onto the one before")
        << QByteArray("GET /a.txt HTTP/1.1\r\nRange: bytes=0-1\r\n ,2-3\r\n\r\n") << refused << int(Closes);
    // Lines that end, or names and values that read, differently for others on the way
    // (RFC 9112 2.2, 5.5).
    QTest::addRow("a bare CR inside a value")
        << "PUT /new.txt HTTP/1.1\r\nX-A: 1\rTransfer-Encoding: chunked\r\n\r\n" + chunked << refused << int(Closes);
    QTest::addRow("a LF alone ending a line")
        << "PUT /new.txt HTTP/1.1\r\nX-A: 1\nTransfer-Encoding: chunked\r\n\r\n" + chunked << refused << int(Closes);
    QTest::addRow("a control character in a value") << QByteArray("GET /a.txt HTTP/1.1\r\nX-A: a\x01b\r\n\r\n")
                                                     << refused << int(Closes);
    // Only exactly chunked frames a body (RFC 9112 6.1, 6.3).
    QTest::addRow("gzip coding") << "PUT /new.txt HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n" + chunked << refused
                                 << int(Closes);
    QTest::addRow("two Transfer-Encoding lines")
        << "PUT /new.txt HTTP/1.1\r\nTransfer-Encoding: chunked\r\ntransfer-encoding: chunked\r\n\r\n" + chunked
        << refused << int(Closes);
    QTest::addRow("chunked beside a Content-Length")
        << "PUT /new.txt HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked << refused
        << int(Closes);
    QTest::addRow("a Content-Length after chunked")
        << "POST /a.txt HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 23\r\n\r\n" + chunked << refused
        << int(Closes);

    // Broken chunks: 400, and nothing is left under the name.
    const QByteArray put = "PUT /up.bin HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    QTest::addRow("a chunk size that is not hexadecimal") << put + "1g\r\nx\r\n0\r\n\r\n" + getB << refused
                                                          << int(Closes);
    QTest::addRow("a chunk size past 63 bits") << put + "8000000000000000\r\nabc\r\n0\r\n\r\n" + getB << refused
                                               << int(Closes);
    QTest::addRow("two other bytes in place of a chunk's CR LF") << put + "5\r\nhelloXY0\r\n\r\n" + getB << refused
                                                                 << int(Closes);
    QTest::addRow("a chunk longer than its size") << put + "3\r\nhello\r\n0\r\n\r\n" + getB << refused << int(Closes);
    // Two whole chunks of 50000 bytes, then a size that is none.
    QTest::addRow("upload form, broken after 100 KB of the file")
        << "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=XyZ\r\nTransfer-Encoding: chunked\r\n\r\n"
               + inChunks(multipartBody("XyZ", "up.bin", bigData(300000)), 50000).left(2 * 50008) + "zz\r\n"
        << refused << int(Closes);
    QTest::addRow("url-encoded form past 64 KiB in chunks")
        << "POST /a.txt HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n"
               + inChunks("a=log&x=" + QByteArray(70000, 'y'), 4096) + getB
        << refused << int(Closes);
}

void TestConnection::requestsOnOneConnection()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArrayList, answers);
    QFETCH(int, end);
    ts->config.enableDelete = CheckState::On;
    QVERIFY(ts->start());
    const QStringList before = ts->names();

    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    client.send(bytes);
    if (end == HalfClosed)
        QCOMPARE(::shutdown(int(client.socket.socketDescriptor()), SHUT_WR), 0);
    HttpReply reply;
    for (const QByteArray &answer : std::as_const(answers)) {
        QVERIFY2(client.read(&reply, 20000), answer.constData());
        QCOMPARE(QByteArray::number(reply.code), answer.left(3));
        QVERIFY2(reply.body.contains(answer.mid(4)), reply.body.left(300).constData());
    }
    if (end == Open) {
        // Exactly these answers: nothing of a body was taken for a request.
        QVERIFY(!client.read(&reply, 300));
        QVERIFY(!client.isClosed());
    } else {
        if (end == Closes && !answers.isEmpty())
            QCOMPARE(reply.header("Connection"), QByteArray("close"));
        QVERIFY(client.waitClosed());
        QCOMPARE(client.pending(), QByteArray());
    }
    QCOMPARE(ts->names(), before);
    QCOMPARE(ts->read(QStringLiteral("b.txt")), TextB);
    // The buffer grown for a long head is not kept by the idle connection.
    QTRY_VERIFY(ts->server->threads.isEmpty() || !ts->server->threads.first()->request.socket.holdsBuffer());
}

void TestConnection::floodOfPipelinedRequestsIsServedWithoutRecursion()
{
    // A traffic limit caps the socket's own read buffer at 2048 bytes: reads fill it.
    ts->config.dataLimitKB = 1000000;
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

void TestConnection::chunkedBodyIsDecodedInAnyPieces_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("chunks");
    QTest::addColumn<int>("piece"); // bytes per write; 0: all at once
    QTest::addColumn<QByteArray>("stored"); // the content of up.bin afterwards

    const QByteArray put = "PUT /up.bin HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    const QByteArray upload = "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
                              "Transfer-Encoding: chunked\r\n\r\n";
    const QByteArray data = "The quick brown fox jumps over the lazy dog. 0123456789";
    const QByteArray big = bigData(300000);
    const QByteArray form = multipartBody("XyZ", "up.bin", data);

    // One byte at a time: the head too is cut at every place, the end of the empty line among them.
    QTest::addRow("PUT, chunks of 7 bytes, one byte at a time") << put << inChunks(data, 7) << 1 << data;
    QTest::addRow("PUT, sizes in upper case with leading zeros")
        << put << QByteArray("000A\r\n0123456789\r\n0000\r\n\r\n") << 0 << QByteArray("0123456789");
    QTest::addRow("PUT, extensions, one byte at a time")
        << put << inChunks(data, 9, "; name=value;quoted=\"a b;c\"") << 1 << data;
    QTest::addRow("PUT, trailers, in fives") << put << inChunks(data, 20, QByteArray(), "X-Sum: 12\r\nX-More: a\r\n") << 5
                                            << data;
    QTest::addRow("PUT, no data at all") << put << QByteArray("0\r\n\r\n") << 0 << QByteArray("");
    QTest::addRow("PUT, 300 KB in chunks of 1000, sent in 4093s") << put << inChunks(big, 1000) << 4093 << big;
    QTest::addRow("upload form, one byte at a time") << upload << inChunks(form, 11) << 1 << data;
    QTest::addRow("upload form, the delimiter across chunks") << upload << inChunks(form, form.size() - 20) << 0 << data;
}

void TestConnection::chunkedBodyIsDecodedInAnyPieces()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, chunks);
    QFETCH(int, piece);
    QFETCH(QByteArray, stored);
    QVERIFY(ts->start());

    // A request right behind the body: where the body ends is where it begins.
    const QByteArray bytes = head + chunks + "GET /b.txt HTTP/1.1\r\n\r\n";
    HttpClient client;
    QVERIFY(client.connectTo(ts->port()));
    for (qsizetype at = 0; at < bytes.size(); at += piece ? piece : bytes.size()) {
        client.send(bytes.mid(at, piece ? piece : -1));
        QVERIFY(HttpClient::waitUntil([&] { return ts->server->traffic.receivedBytes >= qMin(at + piece, bytes.size()); }));
    }
    HttpReply reply = client.reply(20000);
    QCOMPARE(reply.code, head.startsWith("PUT") ? 201 : 200);
    QVERIFY(head.startsWith("PUT") || reply.body.contains("File sent success."));
    QVERIFY(client.read(&reply));
    QCOMPARE(reply.body, TextB);
    QVERIFY(!client.isClosed());
    QVERIFY(ts->read(QStringLiteral("up.bin")) == stored);
}

void TestConnection::bodyAfterAnEarlyAnswerIsReadBeforeTheClose_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("answer"); // "code text-in-the-body"

    const QByteArray data(3 * 1000 * 1000, 'd');
    QTest::addRow("PUT that may not replace")
        << "PUT /a.txt HTTP/1.1\r\nIf-None-Match: *\r\nContent-Length: 3000000\r\n\r\n" + data << QByteArray("412");
    QTest::addRow("upload onto an existing name") << uploadPost("/", "a.txt", data)
                                                  << QByteArray("200 File send failed: File exists");
    QTest::addRow("chunks after a refused path")
        << "PUT /../x.bin HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" + inChunks(data, 65536) << QByteArray("403");
}

// The client sends its whole body before it reads, and goes on sending after the server's close
// of its side, as browsers do: had the server closed at once, the system would reset the
// connection at the bytes left unread, and the client would lose the answer.
void TestConnection::bodyAfterAnEarlyAnswerIsReadBeforeTheClose()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, answer);
    QVERIFY(ts->start());

    const int fd = rawConnect(ts->port());
    QVERIFY(fd >= 0);
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
    QCOMPARE(QByteArray::number(reply.code), answer.left(3));
    QVERIFY(reply.body.contains(answer.mid(4)));
    QCOMPARE(reply.header("Connection"), QByteArray("close"));
    QTRY_COMPARE(ts->server->traffic.receivedBytes, qint64(bytes.size()));
    QTRY_COMPARE(ts->server->threads.size(), 0);
    QCOMPARE(ts->read(QStringLiteral("a.txt")), TextA);
}

void TestConnection::expectContinueGetsAnInterimAnswerOnlyForABodyRead()
{
    QVERIFY(ts->start());
    const QByteArray expect = "Expect: 100-continue\r\n";
    HttpClient client(ts->port());
    HttpReply reply = client.exchange(formPost("/a.txt", "a=log&x=1", expect).chopped(9));
    QCOMPARE(reply.head, QByteArray("HTTP/1.1 100 Continue\r\n\r\n"));
    QCOMPARE(client.exchange("a=log&x=1").body, TextA);
    // A body refused by its length gets no interim answer.
    reply = client.exchange(formPost("/a.txt", QByteArray(70000, 'x'), expect).chopped(70000));
    QCOMPARE(reply.code, 413);
    QVERIFY(client.waitClosed());
    QVERIFY(!client.pending().contains("100 Continue"));
}

// A head and its body written apart would leave as two small packets, and the second would
// wait for the peer's delayed acknowledgement of the first: some 40 ms for every answer.
void TestConnection::answersDoNotWaitForTheNextAcknowledgement()
{
    ts->put(QStringLiteral("d.bin"), QByteArray(100 * 1000, 'd'));
    QVERIFY(ts->start());
    for (const char *request : {"GET /a.txt HTTP/1.1\r\n\r\n", "GET /d.bin HTTP/1.1\r\n\r\n",
                                     "PROPFIND / HTTP/1.1\r\nDepth: 1\r\n\r\n"}) {
        HttpClient client(ts->port());
        constexpr int Exchanges = 30;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < Exchanges; ++i)
            QVERIFY(client.exchange(request).code / 100 == 2);
        QVERIFY2(clock.elapsed() < Exchanges * 20, qPrintable(QString::fromLatin1(request) + QString::number(clock.elapsed())));
    }
}

void TestConnection::cookieBindsTheSession_data()
{
    // ISSUED and OTHER stand for the ids of two sessions the server issued to browsers.
    QTest::addColumn<QByteArray>("cookieLines");
    QTest::addColumn<QByteArray>("bound"); // the one bound; empty: a fresh one

    const QByteArray issued = "ISSUED";
    const QByteArray fresh;
    QTest::addRow("ID cookie names its session") << QByteArray("Cookie: ID=ISSUED\r\n") << issued;
    QTest::addRow("first of two ID cookies") << QByteArray("Cookie: ID=ISSUED; ID=OTHER\r\n") << issued;
    QTest::addRow("second Cookie line is not read") << QByteArray("Cookie: ID=ISSUED\r\nCookie: ID=OTHER\r\n")
                                                    << issued;
    QTest::addRow("cookie names are case-sensitive") << QByteArray("Cookie: id=ISSUED\r\n") << fresh;
    // Only exactly an id the server issued names a session; anything else gets one of its own.
    QTest::addRow("an id never issued") << QByteArray("Cookie: ID=42\r\n") << fresh;
    QTest::addRow("just beyond 63 bits") << QByteArray("Cookie: ID=9223372036854775808\r\n") << fresh;
    QTest::addRow("letters after the digits") << QByteArray("Cookie: ID=ISSUEDx\r\n") << fresh;
}

void TestConnection::cookieBindsTheSession()
{
    QFETCH(QByteArray, cookieLines);
    QFETCH(QByteArray, bound);
    QVERIFY(ts->start());
    const QByteArray issued = QByteArray::number(4611686018427387904); // 2^62: 19 digits
    const QByteArray other = "1234567";
    QCOMPARE(ts->browserSession(issued.toLongLong()), "ID=" + issued);
    QCOMPARE(ts->browserSession(other.toLongLong()), "ID=" + other);
    cookieLines.replace("ISSUED", issued).replace("OTHER", other);

    HttpClient client(ts->port());
    const QByteArray cookie = cookieOf(client.exchange("GET /a.txt HTTP/1.1\r\n" + cookieLines + "\r\n"));
    if (!bound.isEmpty()) {
        QCOMPARE(cookie, "ID=" + bound.replace("ISSUED", issued).replace("OTHER", other));
    } else {
        // A number of its own: never the bytes the client sent, never a session of someone else.
        const qint64 id = cookie.mid(3).toLongLong();
        QCOMPARE(cookie, "ID=" + QByteArray::number(id));
        QVERIFY(id > 0 && !cookieLines.contains(cookie) && cookie != "ID=" + issued && cookie != "ID=" + other);
        QCOMPARE(ts->server->clients.sessions.value(id)->bindings, 1);
    }
    // The sessions that outlive the connection: the two the browsers hold.
    client.close();
    QTRY_COMPARE(ts->server->clients.sessions.size(), 2);
    QVERIFY(ts->server->clients.sessions.contains(issued.toLongLong()));
    QVERIFY(ts->server->clients.sessions.contains(other.toLongLong()));
}

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
