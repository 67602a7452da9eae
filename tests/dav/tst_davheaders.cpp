#include "testserver.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

// OPTIONS, HEAD and LOCK: answers that are mostly a head (litmus checks the rest of locking).
class tst_DavHeaders : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void options();
    void head_data();
    void head();
    void lock_data();
    void lock();

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
    QTest::addRow("quotes in the name") << QByteArray("/Tom%20%22&%22%20Jerry.mp3") << QByteArray("200 OK")
                                        << QByteArray("3") << QByteArray("audio/mpeg3")
                                        << QByteArray("attachment; filename=\"Tom ?&? Jerry.mp3\"");
    QTest::addRow("folder") << QByteArray("/docs") << QByteArray("200 OK") << QByteArray("0") << QByteArray()
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

    for (const QByteArray &piece : {"<D:lockscope><D:" + scope + "/>", "<D:depth>" + depth + "</D:depth>",
                                    "<D:timeout>" + timeout + "</D:timeout>", "<D:href>" + token + "</D:href>"})
        QVERIFY2(r.body.contains(piece), r.body.constData());
    QCOMPARE(s.exists(QStringLiteral("docs/new.txt")), status == "201 Created");
    QCOMPARE(s.request("UNLOCK", target, {"Lock-Token: <" + token + ">"}).status, QByteArray("200 OK"));
    QFile::remove(s.path(QStringLiteral("docs/new.txt")));
}

QTEST_GUILESS_MAIN(tst_DavHeaders)
#include "tst_davheaders.moc"
