// Files as a browser downloads them: the exact header block, ranges and conditions, content
// types and the sandbox, the Content-Disposition name, the not-found page, the icon prefix, and a
// share that is gone.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QUrl>

namespace {

// The settings a row is answered with.
enum Setting { Classic, Responsive, ShareGone };

} // namespace

class TestFileResponse : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void answers_data();
    void answers();

private:
    void fill();

    TestServer ts;
};

void TestFileResponse::initTestCase()
{
    ts.writeFile(ts.dir.path() + QStringLiteral("/img/sub/deep.ico"), "deep icon");
    fill();
    QVERIFY(ts.start());
}

void TestFileResponse::fill()
{
    // Every file was last changed at 2021-03-04 05:06:07 UTC.
    const QStringList names{QStringLiteral("a.txt"), QStringLiteral("b.jpg"), QStringLiteral("f.bin")};
    ts.put(names[0], "hello");
    ts.put(names[1], "JPEG!");
    ts.put(names[2], bigData(1000));
    for (const char *name : {"PHOTO.JPG", "INDEX.HTML", "file.htm", "file.mp4", "Drawing.SVG", "page.html.txt", "data.xml",
                             "leaflet.pdf", "a b;c.txt",
                             "x\r\nSet-Cookie: ID=1.txt", "t\tu\x01v.txt", "say \"hi\".txt", "caf\u00e9.txt",
                             "\u65e5 \"x\".txt"})
        ts.put(QString::fromUtf8(name), "<svg xmlns=\"http://www.w3.org/2000/svg\"><script>alert(1)</script></svg>");
    ts.put(QStringLiteral("sub/b.bin"), "bee");
    for (const QString &name : names) {
        QFile file(ts.path(name));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC), QFileDevice::FileModificationTime));
    }
}

void TestFileResponse::answers_data()
{
    QTest::addColumn<int>("setting");
    QTest::addColumn<QByteArray>("request"); // the target and the header lines after it
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArrayList>("shown");  // in the answer (head and body)
    QTest::addColumn<QByteArrayList>("hidden"); // not in it

    const QByteArray validators = "Last-Modified: Thu, 04 Mar 2021 05:06:07 GMT\r\nETag: \"177fba0fa18-";
    // On a keep-alive connection: no Connection line, no Date.
    QTest::addRow("range: Content-Range before Content-Disposition, type after both")
        << int(Classic) << QByteArray("/b.jpg\r\nRange: bytes=1-2") << 206
        << QByteArrayList{"HTTP/1.1 206 Partial Content\r\nServer: Kestrune_4\r\nCache-Control: no-cache\r\nSet-Cookie: ID=",
                          "; HttpOnly; SameSite=Lax\r\nAccept-Ranges: bytes\r\nContent-Range: bytes 1-2/5\r\n" + validators
                              + "5\"\r\nX-Content-Type-Options: nosniff\r\nContent-Disposition: attachment; filename=\"b.jpg\"\r\n"
                                "Content-Type: image/jpeg\r\nContent-Length: 2\r\n\r\nPE"}
        << QByteArrayList{"Connection", "Date"};

    // Ranges of f.bin (1000 bytes): the answer holds exactly the bytes named.
    const auto range = [](const char *name, const QByteArray &headers, int code, int first, int length) {
        const QByteArray body = "Content-Length: " + QByteArray::number(length) + "\r\n\r\n" + bigData(1000).mid(first, length);
        const QByteArray span = QByteArray::number(first) + '-' + QByteArray::number(first + length - 1) + "/1000";
        QTest::addRow("%s", name) << int(Classic) << "/f.bin\r\n" + headers << code
                                  << QByteArrayList{body, code == 206 ? "Content-Range: bytes " + span : "\r\n"}
                                  << (code == 206 ? QByteArrayList() : QByteArrayList{"Content-Range"});
    };
    range("100- : to the end", "Range: bytes=100-", 206, 100, 900);
    range("100-199", "Range: bytes=100-199", 206, 100, 100);
    range("999-999: the last byte", "Range: bytes=999-999", 206, 999, 1);
    range("0- is the whole file with 200", "Range: bytes=0-", 200, 0, 1000);
    range("0-0 is the whole file with 200", "Range: bytes=0-0", 200, 0, 1000);
    range("500-5000 ends at the file's end", "Range: bytes=500-5000", 206, 500, 500);
    range("-300: the last 300 bytes", "Range: bytes=-300", 206, 700, 300);
    range("-5000: longer than the file", "Range: bytes=-5000", 206, 0, 1000);
    range("start past end is ignored", "Range: bytes=300-200", 200, 0, 1000);
    for (const char *spec : {"-0", "1000-"}) {
        QTest::addRow("%s: 416", spec) << int(Classic) << "/f.bin\r\nRange: bytes=" + QByteArray(spec) << 416
                                       << QByteArrayList{"416 Range Not Satisfiable", "Content-Range: bytes */1000",
                                                         "Content-Length: 0\r\n\r\n"}
                                       << QByteArrayList{"Content-Disposition"};
    }
    // If-Range sends the range only of the same file; the other conditions beside a range.
    const QByteArray tag = "\"177fba0fa18-3e8\"";
    const QByteArray date = "Thu, 04 Mar 2021 05:06:07 GMT";
    range("If-Range: the file's tag", "Range: bytes=10-19\r\nIf-Range: " + tag, 206, 10, 10);
    range("If-Range: the file's date", "Range: bytes=10-19\r\nIf-Range: " + date, 206, 10, 10);
    range("If-Range: another tag", "Range: bytes=10-19\r\nIf-Range: \"xyz\"", 200, 0, 1000);
    range("If-Range: the file's tag, weak", "Range: bytes=10-19\r\nIf-Range: W/" + tag, 200, 0, 1000);
    range("If-Range: an older date", "Range: bytes=10-19\r\nIf-Range: Thu, 04 Mar 2021 05:06:06 GMT", 200, 0, 1000);
    range("If-Range: a later date", "Range: bytes=10-19\r\nIf-Range: Thu, 04 Mar 2021 05:06:08 GMT", 200, 0, 1000);
    range("If-None-Match: another tag", "Range: bytes=10-19\r\nIf-None-Match: \"xyz\"\r\nIf-Modified-Since: " + date,
          206, 10, 10);
    range("If-Match: the file's tag", "Range: bytes=10-19\r\nIf-Match: " + tag, 206, 10, 10);
    const QByteArrayList notModified{"304 Not Modified", "ETag: " + tag};
    QTest::addRow("If-None-Match: the file's tag") << int(Classic) << "/f.bin\r\nIf-None-Match: \"a\", " + tag << 304
                                                   << notModified << QByteArrayList{bigData(1000).left(8)};
    QTest::addRow("If-Modified-Since: the file's date") << int(Classic) << "/f.bin\r\nIf-Modified-Since: " + date << 304
                                                        << notModified << QByteArrayList{bigData(1000).left(8)};
    QTest::addRow("If-Match: another tag") << int(Classic) << QByteArray("/f.bin\r\nIf-Match: \"xyz\"") << 412
                                           << QByteArrayList() << QByteArrayList{bigData(1000).left(8)};

    // Pages and pictures that may hold script run without the site's session; only html is shown
    // in place, or what the responsive pages show (the suffix table itself is the folder page's).
    // A type "*" is not looked at here.
    const auto file = [](const char *name, int setting, const QByteArray &type, const char *disposition, bool sandboxed) {
        const QByteArray target = "/" + QUrl::toPercentEncoding(QString::fromUtf8(name), "/?=");
        QByteArrayList shown{"X-Content-Type-Options: nosniff\r\n"};
        QByteArrayList hidden;
        if (type != "*")
            (type.isEmpty() ? hidden : shown) << (type.isEmpty() ? "\nContent-Type" : "Content-Type: " + type + "\r\n");
        (sandboxed ? shown : hidden) << (sandboxed ? "Content-Security-Policy: sandbox\r\n" : "Content-Security-Policy");
        if (disposition)
            shown << "Content-Disposition: " + QByteArray(disposition) + "; filename=\"" + QByteArray(name).split('?')[0] + '"';
        else
            hidden << "Content-Disposition";
        QTest::addRow("%s%s", name, setting == Responsive ? ", responsive pages" : "")
            << setting << target << 200 << shown << hidden;
    };
    file("PHOTO.JPG", Classic, "image/jpeg", "attachment", false);
    file("INDEX.HTML", Classic, "text/html; charset=UTF-8", nullptr, true);
    file("file.htm", Classic, QByteArray(), "attachment", true);
    file("Drawing.SVG", Classic, "*", "attachment", true);
    file("page.html.txt", Classic, "*", "attachment", false);
    file("file.htm", Responsive, "text/html; charset=utf-8", "inline", true);
    file("file.mp4?dl=1", Responsive, "video/mp4", "attachment", false);
    file("data.xml", Responsive, "*", "inline", true);
    file("leaflet.pdf", Responsive, "*", "inline", false);
    QTest::addRow("a range of a page is sandboxed too") << int(Classic) << QByteArray("/INDEX.HTML\r\nRange: bytes=1-3")
                                                        << 206 << QByteArrayList{"Content-Security-Policy: sandbox"}
                                                        << QByteArrayList();

    // The name a download is saved under cannot end the header; one outside Latin-1 follows whole
    // (RFC 6266 4.3).
    const auto named = [](const char *name, const QByteArray &shown) {
        QTest::addRow("disposition of %s", name)
            << int(Classic) << "/" + QUrl::toPercentEncoding(QString::fromUtf8(name)) << 200
            << QByteArrayList{"Content-Disposition: attachment; filename=\"" + shown + "\r\n"}
            << QByteArrayList{"\nSet-Cookie: ID=1.txt"};
    };
    named("a b;c.txt", "a b;c.txt\"");
    named("x\r\nSet-Cookie: ID=1.txt", "x??Set-Cookie: ID=1.txt\"");
    named("t\tu\x01v.txt", "t?u?v.txt\"");
    named("say \"hi\".txt", "say ?hi?.txt\"");
    named("caf\u00e9.txt", "caf\xe9.txt\"");
    named("\u65e5 \"x\".txt", "? ?x?.txt\"; filename*=UTF-8''%E6%97%A5%20%22x%22.txt");

    // The not-found page names the file as the share does, escaped.
    const auto missing = [](const char *name, const QByteArray &target, const QByteArray &shown, int setting) {
        QTest::addRow("%s", name) << setting << target << 404
                                  << QByteArrayList{"Content-Type: text/html\r\n", "<h1>Wrong URL</h1>Path=" + shown
                                                        + "<br>or File=" + shown + "<br>Not found.</body></html>"}
                                  << QByteArrayList{"Connection", "<script>"};
    };
    missing("markup in the path is escaped", "/%3Cscript%3Ealert(1)%3C/script%3E.pdf",
            "/&lt;script&gt;alert(1)&lt;/script&gt;.pdf", Classic);
    missing("ampersand and quotes", "/a%26b%22c%27d", "/a&amp;b&quot;c&#39;d", Classic);
    missing("query is not part of the path", "/gone.txt?x=%3Cb%3E", "/gone.txt", Classic);
    missing("the share itself, gone", "/", "/", ShareGone);
    missing("a file of a share that is gone", "/a.txt", "/a.txt", ShareGone);
    // The icon prefix serves one plain name of the icon folder; the same item spelled otherwise.
    QTest::addRow("icon") << int(Classic) << QByteArray("/_i/n900.ico") << 200 << QByteArrayList{TestServer::FavIcon}
                          << QByteArrayList();
    for (const char *target : {"/_i/.", "/_i/sub%2Fdeep.ico", "/_i/sub/deep.ico"})
        QTest::addRow("%s", target) << int(Classic) << QByteArray(target) << 404 << QByteArrayList{"Wrong URL"}
                                    << QByteArrayList{"deep icon"};
    for (const char *target : {"//sub//b.bin", "/sub/./b.bin", "/s%75b/b%2Ebin"})
        QTest::addRow("%s", target) << int(Classic) << QByteArray(target) << 200
                                    << QByteArrayList{"filename=\"b.bin\"\r\n", "\r\n\r\nbee"} << QByteArrayList();
    QTest::addRow("folder, dot at the end") << int(Classic) << QByteArray("/sub/.") << 200
                                            << QByteArrayList{"text/html", "b.bin"} << QByteArrayList();
}

void TestFileResponse::answers()
{
    QFETCH(int, setting);
    QFETCH(QByteArray, request);
    QFETCH(int, code);
    QFETCH(QByteArrayList, shown);
    QFETCH(QByteArrayList, hidden);
    ts.config.pages = setting == Responsive ? FolderPages::Responsive : FolderPages::Classic;
    if (setting == ShareGone)
        QVERIFY(QDir(ts.path()).removeRecursively());

    HttpClient client(ts.port());
    const HttpReply reply = client.exchange("GET " + request + "\r\n\r\n");
    const QByteArray answer = reply.head + reply.body;
    QCOMPARE(reply.code, code);
    for (const QByteArray &text : shown)
        QVERIFY2(answer.contains(text), qPrintable(text + " not in: " + answer.left(1000)));
    for (const QByteArray &text : hidden)
        QVERIFY2(!answer.contains(text), qPrintable(text + " in: " + answer.left(1000)));
    // Where the server keeps the share is its own.
    QVERIFY(!answer.contains(ts.dir.path().toUtf8()));
    // The body is as long as announced, and the connection serves the next request; a folder made
    // again at the shared path is the share.
    if (setting == ShareGone)
        fill();
    QCOMPARE(client.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, QByteArray("hello"));
}

QTEST_GUILESS_MAIN(TestFileResponse)
#include "tst_fileresponse.moc"
