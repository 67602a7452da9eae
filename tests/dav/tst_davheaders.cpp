#include "testserver.h"

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
                                     << QByteArray("exclusive") << QByteArray("0") << QByteArray("Second-600");
    QTest::addRow("file, shared") << QByteArray("/docs/a.txt") << QList<QByteArray>{"Timeout: Infinite, Second-4100000000"}
                                  << shared << QByteArray("shared") << QByteArray("infinity")
                                  << QByteArray("Infinite");
    QTest::addRow("folder") << QByteArray("/docs") << QList<QByteArray>{} << exclusive
                            << QByteArray("exclusive") << QByteArray("infinity") << QByteArray("Second-3600");
    QTest::addRow("new name in a folder") << QByteArray("/docs/new.txt") << QList<QByteArray>{"Timeout: Second-180"}
                                          << exclusive << QByteArray("exclusive") << QByteArray("infinity")
                                          << QByteArray("Second-180");
    QTest::addRow("refresh without body") << QByteArray("/docs/a.txt") << QList<QByteArray>{"Timeout: bogus"}
                                          << QByteArray() << QByteArray("exclusive") << QByteArray("infinity")
                                          << QByteArray("Second-3600");
}

void tst_DavHeaders::lock()
{
    QFETCH(QByteArray, target);
    QFETCH(QList<QByteArray>, headers);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, scope);
    QFETCH(QByteArray, depth);
    QFETCH(QByteArray, timeout);

    const HttpReply r = s.request("LOCK", target, headers, body);
    QVERIFY(r.complete);
    QCOMPARE(r.status, QByteArray("200 Locked"));
    QCOMPARE(r.header("Content-Type"), QByteArray("text/xml; charset=\"utf-8\""));
    const QByteArray tokenHeader = r.header("Lock-Token");
    static const QRegularExpression form(QStringLiteral("^<(opaquelocktoken:[0-9a-f-]{36})>$"));
    const QRegularExpressionMatch m = form.match(QString::fromLatin1(tokenHeader));
    QVERIFY2(m.hasMatch(), tokenHeader.constData());
    const QByteArray token = m.captured(1).toLatin1();

    const QByteArray expected =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:prop xmlns:D=\"DAV:\"><D:lockdiscovery><D:activelock>"
        "<D:locktype><D:write/></D:locktype><D:lockscope><D:" + scope + "/></D:lockscope>"
        "<D:depth>" + depth + "</D:depth><D:timeout>" + timeout + "</D:timeout>"
        "<D:locktoken><D:href>" + token + "</D:href></D:locktoken>"
        "<D:lockroot><D:href>" + s.base() + target + "</D:href></D:lockroot>"
        "</D:activelock></D:lockdiscovery></D:prop>";
    QCOMPARE(r.body, expected);
    // Nothing is created by a lock.
    QVERIFY(!s.exists(QStringLiteral("docs/new.txt")));
}

void tst_DavHeaders::lockTokensDiffer()
{
    const HttpReply a = s.request("LOCK", "/docs/a.txt");
    const HttpReply b = s.request("LOCK", "/docs/a.txt");
    QVERIFY(!a.header("Lock-Token").isEmpty());
    QVERIFY(a.header("Lock-Token") != b.header("Lock-Token"));

    // Not in an existing folder: nothing to lock.
    const HttpReply missing = s.request("LOCK", "/nowhere/new.txt");
    QCOMPARE(missing.status, QByteArray("404 Not Found"));
    QVERIFY(missing.header("Lock-Token").isNull());
}

void tst_DavHeaders::lockRefresh_data()
{
    QTest::addColumn<QByteArray>("ifHeader");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("sameToken");

    const QByteArray token = "opaquelocktoken:0f1e2d3c-aaaa-bbbb-cccc-123456789abc";
    QTest::addRow("refresh: the same token") << QByteArray("(<" + token + ">)") << QByteArray() << true;
    QTest::addRow("tagged refresh") << QByteArray("<http://127.0.0.1/docs/a.txt> (<" + token + ">)")
                                    << QByteArray() << true;
    QTest::addRow("a new lock: a new token")
        << QByteArray("(<" + token + ">)")
        << QByteArray("<D:lockinfo xmlns:D=\"DAV:\"><D:lockscope><D:exclusive/></D:lockscope></D:lockinfo>")
        << false;
    QTest::addRow("not a token") << QByteArray("(<opaquelocktoken:x\"<y>)") << QByteArray() << false;
}

void tst_DavHeaders::lockRefresh()
{
    QFETCH(QByteArray, ifHeader);
    QFETCH(QByteArray, body);
    QFETCH(bool, sameToken);

    const HttpReply r = s.request("LOCK", "/docs/a.txt", {"If: " + ifHeader, "Timeout: Second-600"}, body);
    QCOMPARE(r.status, QByteArray("200 Locked"));
    const QByteArray header = r.header("Lock-Token");
    const QByteArray given = "<opaquelocktoken:0f1e2d3c-aaaa-bbbb-cccc-123456789abc>";
    QCOMPARE(header == given, sameToken);
    QVERIFY(header.startsWith("<opaquelocktoken:"));
    QVERIFY(r.body.contains("<D:locktoken><D:href>" + header.mid(1, header.size() - 2) + "</D:href>"));
    QVERIFY(r.body.contains("<D:timeout>Second-600</D:timeout>"));
}

void tst_DavHeaders::unlock_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addRow("existing") << QByteArray("/docs/a.txt");
    QTest::addRow("missing") << QByteArray("/nowhere/x");
}

void tst_DavHeaders::unlock()
{
    QFETCH(QByteArray, target);
    const HttpReply r = s.request("UNLOCK", target, {"Lock-Token: <opaquelocktoken:1234>"});
    QCOMPARE(r.status, QByteArray("200 OK"));
    QCOMPARE(r.header("Content-Length"), QByteArray("0"));
}

QTEST_GUILESS_MAIN(tst_DavHeaders)
#include "tst_davheaders.moc"
