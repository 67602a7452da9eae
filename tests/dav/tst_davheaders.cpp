#include "testserver.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <utility>

// OPTIONS, HEAD, LOCK and UNLOCK: answers that are mostly a head.
class tst_DavHeaders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void options();
    void head_data();
    void head();
    void headThenRequest();
    void lock_data();
    void lock();
    void lockTokensDiffer();
    void lockRefresh_data();
    void lockRefresh();
    void unlock_data();
    void unlock();

private:
    TestServer s;
};

void tst_DavHeaders::initTestCase()
{
    QVERIFY(s.start());
    QVERIFY(s.write(QStringLiteral("docs/a.txt"), QByteArray(5 * 1024 * 1024, 'a')));
    QVERIFY(s.write(QStringLiteral("docs/page.html"), "<p>hi</p>"));
    QVERIFY(s.write(QStringLiteral("docs/pic.JPG"), "jpeg"));
    QVERIFY(s.write(QStringLiteral("docs/empty.bin"), QByteArray()));
    QVERIFY(s.write(QStringLiteral("Tom \"&\" Jerry.mp3"), "mp3"));
}

void tst_DavHeaders::options()
{
    const HttpReply r = s.request("OPTIONS", "/anything");
    QVERIFY(r.complete);
    QCOMPARE(r.status, QByteArray("200 OK"));
    QCOMPARE(r.header("DAV"), QByteArray("1,2"));
    QCOMPARE(r.header("Allow"),
             QByteArray("GET, POST, PUT, DELETE, OPTIONS, PROPFIND, PROPPATCH, COPY, MOVE, MKCOL, HEAD, LOCK, UNLOCK"));
    QCOMPARE(r.header("Content-Length"), QByteArray("0"));
    QVERIFY(r.body.isEmpty());
}

void tst_DavHeaders::head_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("length");
    QTest::addColumn<QByteArray>("type");        // null: no Content-Type line
    QTest::addColumn<QByteArray>("disposition"); // null: no Content-Disposition line

    QTest::addRow("5 MB file") << QByteArray("/docs/a.txt") << QByteArray("200 OK") << QByteArray("5242880")
                               << QByteArray() << QByteArray("attachment; filename=\"a.txt\"");
    QTest::addRow("html page: no disposition") << QByteArray("/docs/page.html") << QByteArray("200 OK")
                                               << QByteArray("9") << QByteArray("text/html; charset=UTF-8")
                                               << QByteArray();
    QTest::addRow("typed by its suffix") << QByteArray("/docs/pic.JPG") << QByteArray("200 OK") << QByteArray("4")
                                         << QByteArray("image/jpeg") << QByteArray("attachment; filename=\"pic.JPG\"");
    QTest::addRow("quotes in the name") << QByteArray("/Tom%20%22&%22%20Jerry.mp3") << QByteArray("200 OK")
                                        << QByteArray("3") << QByteArray("audio/mpeg3")
                                        << QByteArray("attachment; filename=\"Tom ?&? Jerry.mp3\"");
    QTest::addRow("empty file") << QByteArray("/docs/empty.bin") << QByteArray("200 OK") << QByteArray("0")
                                << QByteArray() << QByteArray("attachment; filename=\"empty.bin\"");
    QTest::addRow("folder") << QByteArray("/docs") << QByteArray("200 OK") << QByteArray("0") << QByteArray()
                            << QByteArray();
    QTest::addRow("shared folder") << QByteArray("/") << QByteArray("200 OK") << QByteArray("0") << QByteArray()
                                   << QByteArray();
    QTest::addRow("missing") << QByteArray("/docs/none.txt") << QByteArray("404 Not Found") << QByteArray("0")
                             << QByteArray() << QByteArray();
}

void tst_DavHeaders::head()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, length);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, disposition);

    const QByteArray raw = s.rawExchange("HEAD " + target + " HTTP/1.1\r\nConnection: close\r\n\r\n");
    const qsizetype end = raw.indexOf("\r\n\r\n");
    QVERIFY(end > 0);
    // No body at all after the head.
    QCOMPARE(raw.size(), end + 4);
    HttpReply r;
    const QList<QByteArray> lines = raw.left(end).split('\n');
    r.status = lines.first().trimmed().mid(9);
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        r.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    QCOMPARE(r.status, status);
    QCOMPARE(r.header("Content-Length"), length);
    QCOMPARE(r.header("Content-Type"), type);
    QCOMPARE(r.header("Content-Disposition"), disposition);
}

void tst_DavHeaders::headThenRequest()
{
    // The next request on the connection is read right after the head: no body was sent.
    HttpClient client(s.port());
    client.send("HEAD /docs/a.txt HTTP/1.1\r\n\r\n");
    QVERIFY(QTest::qWaitFor([&]() { return !client.pending().isEmpty(); }, 5000));
    const QByteArray head = std::exchange(client.received, QByteArray());
    QVERIFY(head.startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(head.endsWith("\r\n\r\n"));
    client.send("OPTIONS / HTTP/1.1\r\n\r\n");
    QVERIFY(QTest::qWaitFor([&]() { return !client.pending().isEmpty(); }, 5000));
    const QByteArray next = std::exchange(client.received, QByteArray());
    QVERIFY2(next.startsWith("HTTP/1.1 200 OK\r\n"), next.left(64).constData());
    QVERIFY(next.contains("DAV: 1,2\r\n"));
}

void tst_DavHeaders::lock_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QList<QByteArray>>("headers");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("scope");
    QTest::addColumn<QByteArray>("depth");
    QTest::addColumn<QByteArray>("timeout");

    const QByteArray exclusive = "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:lockinfo xmlns:D=\"DAV:\">"
                                 "<D:lockscope><D:exclusive/></D:lockscope><D:locktype><D:write/></D:locktype>"
                                 "<D:owner><D:href>me</D:href></D:owner></D:lockinfo>";
    const QByteArray shared = "<lockinfo xmlns=\"DAV:\"><lockscope><shared/></lockscope>"
                              "<locktype><write/></locktype></lockinfo>";
    QTest::addRow("file, exclusive") << QByteArray("/docs/a.txt")
                                     << QList<QByteArray>{"Timeout: Second-600", "Depth: 0"} << exclusive
                                     << QByteArray("200 Locked") << QByteArray("exclusive") << QByteArray("0")
                                     << QByteArray("Second-600");
    QTest::addRow("file, shared") << QByteArray("/docs/a.txt") << QList<QByteArray>{"Timeout: Infinite, Second-4100000000"}
                                  << shared << QByteArray("200 Locked") << QByteArray("shared")
                                  << QByteArray("infinity") << QByteArray("Second-3600");
    QTest::addRow("folder, at most an hour") << QByteArray("/docs") << QList<QByteArray>{"Timeout: Second-99999"}
                                             << exclusive << QByteArray("200 Locked") << QByteArray("exclusive")
                                             << QByteArray("infinity") << QByteArray("Second-3600");
    QTest::addRow("new name: an empty file") << QByteArray("/docs/new.txt") << QList<QByteArray>{"Timeout: Second-180"}
                                             << exclusive << QByteArray("201 Created") << QByteArray("exclusive")
                                             << QByteArray("infinity") << QByteArray("Second-180");
}

void tst_DavHeaders::lock()
{
    QFETCH(QByteArray, target);
    QFETCH(QList<QByteArray>, headers);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, scope);
    QFETCH(QByteArray, depth);
    QFETCH(QByteArray, timeout);

    const HttpReply r = s.request("LOCK", target, headers, body);
    QVERIFY(r.complete);
    QCOMPARE(r.status, status);
    QCOMPARE(r.header("Content-Type"), QByteArray("text/xml; charset=\"utf-8\""));
    const QByteArray tokenHeader = r.header("Lock-Token");
    static const QRegularExpression form(QStringLiteral("^<(opaquelocktoken:[0-9a-f-]{36})>$"));
    const QRegularExpressionMatch m = form.match(QString::fromLatin1(tokenHeader));
    QVERIFY2(m.hasMatch(), tokenHeader.constData());
    const QByteArray token = m.captured(1).toLatin1();

    const QByteArray owner = body.contains("owner") ? "<D:owner xmlns:D=\"DAV:\"><D:href>me</D:href></D:owner>" : "";
    const QByteArray expected =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:prop xmlns:D=\"DAV:\"><D:lockdiscovery><D:activelock>"
        "<D:lockscope><D:" + scope + "/></D:lockscope><D:locktype><D:write/></D:locktype>"
        "<D:depth>" + depth + "</D:depth>" + owner + "<D:timeout>" + timeout + "</D:timeout>"
        "<D:locktoken><D:href>" + token + "</D:href></D:locktoken>"
        "<D:lockroot><D:href>" + s.base() + target + "</D:href></D:lockroot>"
        "</D:activelock></D:lockdiscovery></D:prop>";
    QCOMPARE(r.body, expected);
    QCOMPARE(s.exists(QStringLiteral("docs/new.txt")), status == "201 Created");
    QCOMPARE(s.request("UNLOCK", target, {"Lock-Token: <" + token + ">"}).status, QByteArray("200 OK"));
    QFile::remove(s.path(QStringLiteral("docs/new.txt")));
}

void tst_DavHeaders::lockTokensDiffer()
{
    const QByteArray shared = "<lockinfo xmlns=\"DAV:\"><lockscope><shared/></lockscope></lockinfo>";
    const HttpReply a = s.request("LOCK", "/docs/a.txt", {}, shared);
    const HttpReply b = s.request("LOCK", "/docs/a.txt", {}, shared);
    QVERIFY(!a.header("Lock-Token").isEmpty());
    QVERIFY(a.header("Lock-Token") != b.header("Lock-Token"));
    // A shared lock excludes an exclusive one, on the file and on the folder above it.
    const QByteArray exclusive = "<lockinfo xmlns=\"DAV:\"><lockscope><exclusive/></lockscope></lockinfo>";
    QCOMPARE(s.request("LOCK", "/docs/a.txt", {}, exclusive).status, QByteArray("423 Locked"));
    QCOMPARE(s.request("LOCK", "/docs", {}, exclusive).status, QByteArray("423 Locked"));
    for (const HttpReply *r : {&a, &b})
        QCOMPARE(s.request("UNLOCK", "/docs/a.txt", {"Lock-Token: " + r->header("Lock-Token")}).status, QByteArray("200 OK"));

    // Not in an existing folder: nothing to lock.
    const HttpReply missing = s.request("LOCK", "/nowhere/new.txt", {}, exclusive);
    QCOMPARE(missing.status, QByteArray("404 Not Found"));
    QVERIFY(missing.header("Lock-Token").isNull());
}

void tst_DavHeaders::lockRefresh_data()
{
    QTest::addColumn<QByteArray>("ifHeader"); // TOKEN: the lock's
    QTest::addColumn<QByteArray>("status");

    QTest::addRow("refresh: the same token") << QByteArray("(<TOKEN>)") << QByteArray("200 Locked");
    QTest::addRow("tagged refresh") << QByteArray("<http://127.0.0.1/docs/a.txt> (<TOKEN>)") << QByteArray("200 Locked");
    QTest::addRow("a token of no lock") << QByteArray("(<opaquelocktoken:0f1e2d3c-aaaa-bbbb-cccc-123456789abc>)")
                                        << QByteArray("412 Precondition Failed");
    QTest::addRow("no token") << QByteArray() << QByteArray("400 Bad Request");
}

void tst_DavHeaders::lockRefresh()
{
    QFETCH(QByteArray, ifHeader);
    QFETCH(QByteArray, status);

    const QByteArray token = s.request("LOCK", "/docs/a.txt", {"Timeout: Second-60"},
                                       "<lockinfo xmlns=\"DAV:\"><lockscope><exclusive/></lockscope></lockinfo>")
                                 .header("Lock-Token");
    QVERIFY(!token.isEmpty());
    ifHeader.replace("TOKEN", token.mid(1, token.size() - 2));
    QList<QByteArray> headers{"Timeout: Second-600"};
    if (!ifHeader.isEmpty())
        headers.append("If: " + ifHeader);
    const HttpReply r = s.request("LOCK", "/docs/a.txt", headers);
    QCOMPARE(r.status, status);
    if (r.code == 200) {
        QCOMPARE(r.header("Lock-Token"), token);
        QVERIFY(r.body.contains("<D:timeout>Second-600</D:timeout>"));
    }
    QCOMPARE(s.request("UNLOCK", "/docs/a.txt", {"Lock-Token: " + token}).status, QByteArray("200 OK"));
}

void tst_DavHeaders::unlock_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("lockToken"); // TOKEN: the lock's; null: no header
    QTest::addColumn<QByteArray>("status");
    QTest::addRow("the lock's token") << QByteArray("/docs/a.txt") << QByteArray("<TOKEN>") << QByteArray("200 OK");
    QTest::addRow("another token") << QByteArray("/docs/a.txt") << QByteArray("<opaquelocktoken:1234>")
                                   << QByteArray("409 Conflict");
    QTest::addRow("another item") << QByteArray("/docs/page.html") << QByteArray("<TOKEN>") << QByteArray("409 Conflict");
    QTest::addRow("no token") << QByteArray("/docs/a.txt") << QByteArray() << QByteArray("400 Bad Request");
}

void tst_DavHeaders::unlock()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, lockToken);
    QFETCH(QByteArray, status);
    const QByteArray token = s.request("LOCK", "/docs/a.txt", {"Depth: 0"},
                                       "<lockinfo xmlns=\"DAV:\"><lockscope><exclusive/></lockscope></lockinfo>")
                                 .header("Lock-Token");
    QVERIFY(!token.isEmpty());
    const HttpReply r = s.request("UNLOCK", target, lockToken.isNull() ? QList<QByteArray>{}
                                                                       : QList<QByteArray>{"Lock-Token: " + lockToken.replace("<TOKEN>", token)});
    QCOMPARE(r.status, status);
    if (r.code != 200)
        QCOMPARE(s.request("UNLOCK", "/docs/a.txt", {"Lock-Token: " + token}).status, QByteArray("200 OK"));
}

QTEST_GUILESS_MAIN(tst_DavHeaders)
#include "tst_davheaders.moc"
