// Files as a browser downloads them: the exact header block, ranges, content types, the
// Content-Disposition name, the not-found page, and the answers that carry no file.

#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QUrl>

namespace {

QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char('a' + (i * 7) % 26);
    return bytes;
}

QByteArray encoded(const QString &name)
{
    return QUrl::toPercentEncoding(name, "/");
}

} // namespace

class TestFileResponse : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void headerBlockIsExact_data();
    void headerBlockIsExact();
    void rangesFollowTheFileRules_data();
    void rangesFollowTheFileRules();
    void fileAnswersCarryTheirValidators();
    void ifRangeSendsTheRangeOnlyOfTheSameFile_data();
    void ifRangeSendsTheRangeOnlyOfTheSameFile();
    void contentTypeComesFromTheSuffixTable_data();
    void contentTypeComesFromTheSuffixTable();
    void shareFilesCannotActAsAPage_data();
    void shareFilesCannotActAsAPage();
    void dispositionNameReplacesUnsafeCharacters_data();
    void dispositionNameReplacesUnsafeCharacters();
    void missingFileGetsTheEscapedNotFoundPage_data();
    void missingFileGetsTheEscapedNotFoundPage();
    void iconPrefixServesOnlyPlainNames_data();
    void iconPrefixServesOnlyPlainNames();
    void pathSpelledOtherwiseReachesTheSameItem_data();
    void pathSpelledOtherwiseReachesTheSameItem();
    void singleFileShareSendsTheFileForEveryPath();

private:
    HttpReply get(const QByteArray &target, const QByteArray &headers = QByteArray());
    void setModified(const QString &relative, const QDateTime &time);

    TestServer *ts = nullptr;
};

void TestFileResponse::init()
{
    ts = new TestServer;
}

void TestFileResponse::cleanup()
{
    delete ts;
    ts = nullptr;
}

HttpReply TestFileResponse::get(const QByteArray &target, const QByteArray &headers)
{
    return ts->exchange("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n");
}

void TestFileResponse::setModified(const QString &relative, const QDateTime &time)
{
    QFile file(ts->path(relative));
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
}

void TestFileResponse::headerBlockIsExact_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("head");

    const QByteArray common = "Server: Kestrune_4\r\nCache-Control: no-cache\r\n"
                              "Set-Cookie: ID=417; HttpOnly; SameSite=Lax\r\n";
    // Every file was last changed at 2021-03-04 05:06:07 UTC.
    const auto validators = [](int size) {
        return "Last-Modified: Thu, 04 Mar 2021 05:06:07 GMT\r\nETag: \"177fba0fa18-" + QByteArray::number(size, 16)
               + "\"\r\nX-Content-Type-Options: nosniff\r\n";
    };
    QTest::addRow("download on a keep-alive connection: no Connection line, no Date, no type")
        << QByteArray("GET /a.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        << "HTTP/1.1 200 OK\r\n" + common
               + "Accept-Ranges: bytes\r\n" + validators(5)
               + "Content-Disposition: attachment; filename=\"a.txt\"\r\nContent-Length: 5\r\n\r\n";
    QTest::addRow("range: Content-Range before Content-Disposition, type after both")
        << QByteArray("GET /b.jpg HTTP/1.1\r\nRange: bytes=1-2\r\n\r\n")
        << "HTTP/1.1 206 Partial Content\r\n" + common
               + "Accept-Ranges: bytes\r\nContent-Range: bytes 1-2/5\r\n" + validators(5)
               + "Content-Disposition: attachment; filename=\"b.jpg\"\r\nContent-Type: image/jpeg\r\n"
                 "Content-Length: 2\r\n\r\n";
}

void TestFileResponse::headerBlockIsExact()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, head);
    ts->put(QStringLiteral("a.txt"), "hello");
    ts->put(QStringLiteral("b.jpg"), "JPEG!");
    ts->put(QStringLiteral("index.html"), "<p>index</p>\n");
    ts->put(QStringLiteral("empty.pdf"), QByteArray());
    for (const char *name : {"a.txt", "b.jpg", "index.html", "empty.pdf"})
        setModified(QLatin1String(name), QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC));
    ts->server->clients.random = [] { return quint64(417) << 1; };
    QVERIFY(ts->start());

    HttpClient client(ts->port());
    HttpReply reply = client.exchange(request);
    QCOMPARE(reply.head, head);
    QCOMPARE(reply.body.size(), reply.contentLength());
    // The body is exactly as long as announced: the connection holds nothing more.
    QTest::qWait(50);
    QCOMPARE(client.pending(), QByteArray());
}

void TestFileResponse::rangesFollowTheFileRules_data()
{
    QTest::addColumn<QByteArray>("range");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("contentRange");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("length");

    QTest::addRow("no Range: whole file") << QByteArray() << 200 << QByteArray() << 0 << 1000;
    QTest::addRow("100- : to the end") << QByteArray("bytes=100-") << 206 << QByteArray("bytes 100-999/1000") << 100 << 900;
    QTest::addRow("100-199") << QByteArray("bytes=100-199") << 206 << QByteArray("bytes 100-199/1000") << 100 << 100;
    QTest::addRow("999-999: the last byte") << QByteArray("bytes=999-999") << 206 << QByteArray("bytes 999-999/1000") << 999 << 1;
    QTest::addRow("0- is the whole file with 200") << QByteArray("bytes=0-") << 200 << QByteArray() << 0 << 1000;
    QTest::addRow("0-0 is the whole file with 200") << QByteArray("bytes=0-0") << 200 << QByteArray() << 0 << 1000;
    QTest::addRow("500-5000 ends at the file's end") << QByteArray("bytes=500-5000") << 206 << QByteArray("bytes 500-999/1000") << 500 << 500;
    QTest::addRow("-300: the last 300 bytes") << QByteArray("bytes=-300") << 206 << QByteArray("bytes 700-999/1000") << 700 << 300;
    QTest::addRow("-1000: all of it, as a range") << QByteArray("bytes=-1000") << 206 << QByteArray("bytes 0-999/1000") << 0 << 1000;
    QTest::addRow("-5000: longer than the file") << QByteArray("bytes=-5000") << 206 << QByteArray("bytes 0-999/1000") << 0 << 1000;
    QTest::addRow("-0 names no byte: 416") << QByteArray("bytes=-0") << 416 << QByteArray("bytes */1000") << 0 << 0;
    QTest::addRow("-x is no number: ignored") << QByteArray("bytes=-x") << 200 << QByteArray() << 0 << 1000;
    QTest::addRow("start past end is ignored") << QByteArray("bytes=300-200") << 200 << QByteArray() << 0 << 1000;
    QTest::addRow("several ranges are ignored") << QByteArray("bytes=0-9,20-29") << 200 << QByteArray() << 0 << 1000;
    QTest::addRow("1000- starts at the end: 416") << QByteArray("bytes=1000-") << 416 << QByteArray("bytes */1000") << 0 << 0;
}

void TestFileResponse::rangesFollowTheFileRules()
{
    QFETCH(QByteArray, range);
    QFETCH(int, code);
    QFETCH(QByteArray, contentRange);
    QFETCH(int, first);
    QFETCH(int, length);
    const QByteArray data = pattern(1000);
    ts->put(QStringLiteral("f.bin"), data);
    QVERIFY(ts->start());

    const QByteArray header = range.isEmpty() ? QByteArray() : "Range: " + range + "\r\n";
    HttpClient client(ts->port());
    const HttpReply reply = client.exchange("GET /f.bin HTTP/1.1\r\n" + header + "\r\n");
    QCOMPARE(reply.code, code);
    QCOMPARE(reply.header("Content-Range"), contentRange);
    QCOMPARE(reply.contentLength(), qint64(length));
    QCOMPARE(reply.body, data.mid(first, length));
    if (code == 416) {
        QCOMPARE(reply.status, QByteArray("416 Range Not Satisfiable"));
        QVERIFY(!reply.hasHeader("Content-Disposition"));
    }
    // Every answer keeps the connection: a second request is served on it.
    const HttpReply again = client.exchange("GET /f.bin HTTP/1.1\r\n\r\n");
    QCOMPARE(again.code, 200);
    QCOMPARE(again.body, data);
}

void TestFileResponse::fileAnswersCarryTheirValidators()
{
    ts->put(QStringLiteral("f.bin"), pattern(1000));
    setModified(QStringLiteral("f.bin"), QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7, 890), Qt::UTC));
    QVERIFY(ts->start());

    HttpClient client(ts->port());
    const HttpReply reply = client.exchangeHead("HEAD /f.bin HTTP/1.1\r\n\r\n");
    QCOMPARE(reply.code, 200);
    QCOMPARE(reply.header("Last-Modified"), QByteArray("Thu, 04 Mar 2021 05:06:07 GMT"));
    const QByteArray tag = reply.header("ETag");
    QVERIFY2(tag.size() > 2 && tag.startsWith('"') && tag.endsWith('"'), tag.constData());

    // The tag names this content: a change of size or of time makes another one.
    const HttpReply same = client.exchange("GET /f.bin HTTP/1.1\r\n\r\n");
    QCOMPARE(same.header("ETag"), tag);
    setModified(QStringLiteral("f.bin"), QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7, 891), Qt::UTC));
    QVERIFY(client.exchange("GET /f.bin HTTP/1.1\r\n\r\n").header("ETag") != tag);
    ts->put(QStringLiteral("f.bin"), pattern(999));
    setModified(QStringLiteral("f.bin"), QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7, 890), Qt::UTC));
    QVERIFY(client.exchange("GET /f.bin HTTP/1.1\r\n\r\n").header("ETag") != tag);
}

void TestFileResponse::ifRangeSendsTheRangeOnlyOfTheSameFile_data()
{
    // TAG and DATE stand for the file's own validators; a value that begins with "If-" is the
    // request's condition instead of If-Range.
    QTest::addColumn<QByteArray>("ifRange");
    QTest::addColumn<int>("code");

    QTest::addRow("the file's tag") << QByteArray("TAG") << 206;
    QTest::addRow("the file's date") << QByteArray("DATE") << 206;
    QTest::addRow("another tag") << QByteArray("\"xyz\"") << 200;
    QTest::addRow("the file's tag, weak") << QByteArray("W/TAG") << 200;
    QTest::addRow("an older date") << QByteArray("Thu, 04 Mar 2021 05:06:06 GMT") << 200;
    QTest::addRow("a later date") << QByteArray("Thu, 04 Mar 2021 05:06:08 GMT") << 200;
    QTest::addRow("not a date") << QByteArray("yesterday") << 200;
    QTest::addRow("If-None-Match: the file's tag") << QByteArray("If-None-Match: \"a\", TAG") << 304;
    QTest::addRow("If-None-Match: another tag") << QByteArray("If-None-Match: \"xyz\"\r\nIf-Modified-Since: DATE") << 206;
    QTest::addRow("If-Modified-Since: the file's date") << QByteArray("If-Modified-Since: DATE") << 304;
    QTest::addRow("If-Match: another tag") << QByteArray("If-Match: \"xyz\"") << 412;
    QTest::addRow("If-Match: the file's tag") << QByteArray("If-Match: TAG") << 206;
}

void TestFileResponse::ifRangeSendsTheRangeOnlyOfTheSameFile()
{
    QFETCH(QByteArray, ifRange);
    QFETCH(int, code);
    const QByteArray data = pattern(1000);
    ts->put(QStringLiteral("f.bin"), data);
    setModified(QStringLiteral("f.bin"), QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC));
    QVERIFY(ts->start());

    HttpClient client(ts->port());
    const HttpReply first = client.exchange("GET /f.bin HTTP/1.1\r\n\r\n");
    ifRange.replace("TAG", first.header("ETag")).replace("DATE", first.header("Last-Modified"));
    const bool condition = ifRange.startsWith("If-");
    const QByteArray line = condition ? ifRange : "If-Range: " + ifRange;
    const HttpReply reply = client.exchange("GET /f.bin HTTP/1.1\r\nRange: bytes=10-19\r\n" + line + "\r\n\r\n");
    QCOMPARE(reply.code, code);
    QCOMPARE(reply.body, code == 206 ? data.mid(10, 10) : code == 200 ? data : QByteArray());
    // Not modified: the validators, and no body.
    if (code == 304)
        QCOMPARE(reply.header("ETag"), first.header("ETag"));

    // A resumed download of a file that changed since gets the whole new file.
    if (code == 206 && !condition) {
        ts->put(QStringLiteral("f.bin"), pattern(1000).toUpper());
        setModified(QStringLiteral("f.bin"), QDateTime(QDate(2021, 3, 5), QTime(5, 6, 7), Qt::UTC));
        const HttpReply changed = client.exchange("GET /f.bin HTTP/1.1\r\nRange: bytes=10-19\r\nIf-Range: " + ifRange + "\r\n\r\n");
        QCOMPARE(changed.code, 200);
        QCOMPARE(changed.body, data.toUpper());
    }
}

void TestFileResponse::contentTypeComesFromTheSuffixTable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("type");
    // The type the responsive pages show the file with in the browser; empty: a download there too.
    QTest::addColumn<QByteArray>("shown");

    // Every suffix of the table is pinned with the folder page's icons; here how a name is read,
    // and the types the responsive pages show files with.
    const char *const table[][3] = {
        {"PHOTO.JPG", "image/jpeg", "image/jpeg"},
        {"INDEX.HTML", "text/html; charset=UTF-8", "text/html; charset=utf-8"},
        {"archive.pdf.zip", "application/zip", ""},
        {"file.htm", "", "text/html; charset=utf-8"},
        {"odd.", "", ""},
        {"file.mp4", "video/mp4v-es, audio/mp4", "video/mp4"},
    };
    for (const auto &row : table)
        QTest::addRow("%s", row[0]) << QString::fromLatin1(row[0]) << QByteArray(row[1]) << QByteArray(row[2]);
}

void TestFileResponse::contentTypeComesFromTheSuffixTable()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, shown);
    ts->put(name, "some bytes");
    QVERIFY(ts->start());

    const HttpReply reply = get("/" + encoded(name));
    QCOMPARE(reply.code, 200);
    QCOMPARE(reply.header("Content-Type"), type);
    QCOMPARE(reply.body, QByteArray("some bytes"));
    // Only html is shown inline; everything else, htm included, is an attachment.
    const bool page = name.toLower().endsWith(QLatin1String(".html"));
    QCOMPARE(reply.hasHeader("Content-Disposition"), !page);
    if (!page)
        QCOMPARE(reply.header("Content-Disposition"), "attachment; filename=\"" + name.toLatin1() + '"');

    // The responsive pages show what the browser can show, with the type it is shown as, and
    // every file is a download when asked for as one.
    ts->config.pages = FolderPages::Responsive;
    const HttpReply inlined = get("/" + encoded(name));
    const HttpReply download = get("/" + encoded(name) + "?dl=1");
    QCOMPARE(inlined.header("Content-Type"), shown.isEmpty() ? type : shown);
    QCOMPARE(inlined.header("Content-Disposition"),
             (shown.isEmpty() ? "attachment; filename=\"" : "inline; filename=\"") + name.toLatin1() + '"');
    QCOMPARE(download.header("Content-Type"), shown.isEmpty() ? type : shown);
    QCOMPARE(download.header("Content-Disposition"), "attachment; filename=\"" + name.toLatin1() + '"');
    QCOMPARE(download.body, QByteArray("some bytes"));
}

void TestFileResponse::dispositionNameReplacesUnsafeCharacters_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("shown");
    // A name outside Latin-1 follows whole (RFC 6266 4.3).
    QTest::addColumn<QByteArray>("extended");

    QTest::addRow("blank and semicolon stay") << QStringLiteral("a b;c.txt") << QByteArray("a b;c.txt") << QByteArray();
    QTest::addRow("CR LF cannot start a header") << QStringLiteral("x\r\nSet-Cookie: ID=1.txt") << QByteArray("x??Set-Cookie: ID=1.txt") << QByteArray();
    QTest::addRow("tab and other control bytes") << QStringLiteral("t\tu\x01v.txt") << QByteArray("t?u?v.txt") << QByteArray();
    QTest::addRow("double quote") << QStringLiteral("say \"hi\".txt") << QByteArray("say ?hi?.txt") << QByteArray();
    QTest::addRow("Latin-1 letter is one byte") << QStringLiteral("caf\u00e9.txt") << QByteArray("caf\xe9.txt") << QByteArray();
    QTest::addRow("outside Latin-1 with a blank and quotes") << QStringLiteral("\u65e5 \"x\".txt") << QByteArray("? ?x?.txt")
                                                             << QByteArray("%E6%97%A5%20%22x%22.txt");
}

void TestFileResponse::dispositionNameReplacesUnsafeCharacters()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, shown);
    QFETCH(QByteArray, extended);
    ts->put(name, "x");
    QVERIFY(ts->start());

    const HttpReply reply = get("/" + encoded(name));
    QCOMPARE(reply.code, 200);
    QCOMPARE(reply.header("Content-Disposition"), "attachment; filename=\"" + shown + '"'
                                                       + (extended.isEmpty() ? QByteArray() : "; filename*=UTF-8''" + extended));
    QCOMPARE(reply.headerNames().count("Set-Cookie"), 1);
}

void TestFileResponse::shareFilesCannotActAsAPage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("range");
    QTest::addColumn<bool>("responsive"); // shown in the browser by the responsive pages
    QTest::addColumn<bool>("sandboxed");

    // Pages and pictures that may hold script run without the site's session.
    for (const char *name : {"INDEX.HTML", "page.htm", "page.xhtml", "Drawing.SVG", "drawing.svgz"})
        QTest::addRow("%s is sandboxed", name) << QString::fromLatin1(name) << QByteArray() << false << true;
    QTest::addRow("a range of a page is sandboxed too") << QStringLiteral("index.html") << QByteArray("bytes=1-3")
                                                        << false << true;
    for (const char *name : {"b.jpg", "page.html.txt"})
        QTest::addRow("%s is not", name) << QString::fromLatin1(name) << QByteArray() << false << false;
    for (const char *name : {"page.htm", "drawing.svg", "data.xml"})
        QTest::addRow("%s shown by the responsive pages is sandboxed", name) << QString::fromLatin1(name)
                                                                            << QByteArray() << true << true;
    for (const char *name : {"notes.txt", "leaflet.pdf"})
        QTest::addRow("%s shown by the responsive pages is not", name) << QString::fromLatin1(name) << QByteArray()
                                                                       << true << false;
}

void TestFileResponse::shareFilesCannotActAsAPage()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, range);
    QFETCH(bool, responsive);
    QFETCH(bool, sandboxed);
    ts->put(name, "<svg xmlns=\"http://www.w3.org/2000/svg\"><script>alert(document.cookie)</script></svg>");
    if (responsive)
        ts->config.pages = FolderPages::Responsive;
    QVERIFY(ts->start());

    const HttpReply reply = get("/" + QUrl::toPercentEncoding(name), range.isEmpty() ? QByteArray() : "Range: " + range + "\r\n");
    QCOMPARE(reply.code, range.isEmpty() ? 200 : 206);
    // Every file is what its name says, whatever its bytes look like.
    QCOMPARE(reply.header("X-Content-Type-Options"), QByteArray("nosniff"));
    QCOMPARE(reply.header("Content-Security-Policy"), sandboxed ? QByteArray("sandbox") : QByteArray());
    QCOMPARE(reply.headerNames().count("Content-Security-Policy"), sandboxed ? 1 : 0);
    if (responsive)
        QVERIFY(reply.header("Content-Disposition").startsWith("inline;"));
}

void TestFileResponse::missingFileGetsTheEscapedNotFoundPage_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("shownPath");
    QTest::addColumn<bool>("shareGone"); // the shared folder is deleted while it is served

    QTest::addRow("plain path") << QByteArray("/docs/x.pdf") << QByteArray("/docs/x.pdf") << false;
    QTest::addRow("markup in the path is escaped") << QByteArray("/%3Cscript%3Ealert(1)%3C/script%3E.pdf")
                                                   << QByteArray("/&lt;script&gt;alert(1)&lt;/script&gt;.pdf") << false;
    QTest::addRow("ampersand and quotes") << QByteArray("/a%26b%22c%27d") << QByteArray("/a&amp;b&quot;c&#39;d") << false;
    QTest::addRow("query is not part of the path") << QByteArray("/gone.txt?x=%3Cb%3E") << QByteArray("/gone.txt") << false;
    QTest::addRow("the share itself, gone") << QByteArray("/") << QByteArray("/") << true;
    QTest::addRow("a file of a share that is gone") << QByteArray("/a.txt") << QByteArray("/a.txt") << true;
}

void TestFileResponse::missingFileGetsTheEscapedNotFoundPage()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, shownPath);
    QFETCH(bool, shareGone);
    ts->put(QStringLiteral("a.txt"), "served");
    ts->put(QStringLiteral("sub/b.txt"), "served");
    QVERIFY(ts->start());
    if (shareGone) {
        QCOMPARE(get(target).code, 200);
        QVERIFY(QDir(ts->path()).removeRecursively());
    }

    const HttpReply reply = get(target);
    QCOMPARE(reply.status, QByteArray("404 Not Found"));
    QCOMPARE(reply.header("Content-Type"), QByteArray("text/html"));
    QVERIFY(!reply.hasHeader("Connection"));
    // The page names the file as the share does: where the server keeps the share is its own.
    QCOMPARE(reply.body, "<html><title>Wrong URL</title><body><h1>Wrong URL</h1>Path=" + shownPath
                             + "<br>or File=" + shownPath + "<br>Not found.</body></html>");
    QVERIFY(!reply.body.contains(ts->dir.path().toUtf8()));
    if (shareGone) {
        // A folder made again at the shared path is the share.
        ts->put(QStringLiteral("a.txt"), "served again");
        ts->put(QStringLiteral("sub/b.txt"), "served again");
        QCOMPARE(get(target).code, 200);
    }
}

void TestFileResponse::iconPrefixServesOnlyPlainNames_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("code");

    QTest::addRow("one plain name in the icon folder") << QByteArray("/_i/n900.ico") << 200;
    QTest::addRow("dot") << QByteArray("/_i/.") << 404;
    QTest::addRow("name with an encoded slash") << QByteArray("/_i/sub%2Fdeep.ico") << 404;
    QTest::addRow("two segments") << QByteArray("/_i/sub/deep.ico") << 404;
}

void TestFileResponse::iconPrefixServesOnlyPlainNames()
{
    QFETCH(QByteArray, target);
    QFETCH(int, code);
    ts->writeFile(ts->dir.path() + QStringLiteral("/img/sub/deep.ico"), "deep icon");
    QVERIFY(ts->start());

    const HttpReply reply = get(target);
    QCOMPARE(reply.code, code);
    if (code == 200)
        QCOMPARE(reply.body, TestServer::FavIcon);
    else
        QVERIFY(reply.body.startsWith("<html><title>Wrong URL</title>"));
    QVERIFY(!reply.body.contains("deep icon"));
}

void TestFileResponse::pathSpelledOtherwiseReachesTheSameItem_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("body"); // empty: the folder page of sub

    QTest::addRow("doubled slashes") << QByteArray("//sub//b.bin") << QByteArray("bee");
    QTest::addRow("dot name") << QByteArray("/sub/./b.bin") << QByteArray("bee");
    QTest::addRow("percent-encoded") << QByteArray("/s%75b/b%2Ebin") << QByteArray("bee");
    QTest::addRow("folder, dot at the end") << QByteArray("/sub/.") << QByteArray();
}

void TestFileResponse::pathSpelledOtherwiseReachesTheSameItem()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, body);
    ts->put(QStringLiteral("sub/b.bin"), "bee");
    QVERIFY(ts->start());

    const HttpReply reply = get(target);
    QCOMPARE(reply.code, 200);
    if (!body.isEmpty()) {
        QCOMPARE(reply.body, body);
        QCOMPARE(reply.header("Content-Disposition"), QByteArray("attachment; filename=\"b.bin\""));
    } else {
        QVERIFY(reply.body.contains("b.bin"));
        QVERIFY(reply.header("Content-Type").startsWith("text/html"));
    }
}

void TestFileResponse::singleFileShareSendsTheFileForEveryPath()
{
    const QByteArray data = pattern(3000);
    ts->put(QStringLiteral("only.pdf"), data);
    QVERIFY(ts->start(ts->path(QStringLiteral("only.pdf")), true));

    HttpReply reply = get("/");
    QCOMPARE(reply.code, 200);
    QCOMPARE(reply.body, data);
    QCOMPARE(reply.header("Content-Type"), QByteArray("application/pdf"));
    QCOMPARE(reply.header("Content-Disposition"), QByteArray("attachment; filename=\"only.pdf\""));

    reply = get("/", "Range: bytes=2990-\r\n");
    QCOMPARE(reply.code, 206);
    QCOMPARE(reply.body, data.mid(2990));

    reply = get("/other");
    QCOMPARE(reply.code, 404);
    QVERIFY(reply.body.contains("or File=/other<br>"));
    QVERIFY(!reply.body.contains(ts->dir.path().toUtf8()));

    // A url-encoded POST that is not an upload gets the file too; an upload is answered, and
    // nothing is stored.
    reply = ts->exchange(formPost("/?x=1", "y=2"));
    QCOMPARE(reply.code, 200);
    QCOMPARE(reply.body, data);
    const QStringList before = ts->names();
    reply = ts->exchange(uploadPost("/?a=up", "up.txt"));
    QCOMPARE(reply.code, 200);
    QVERIFY(reply.body.contains("failed"));
    QCOMPARE(ts->names(), before);
}

QTEST_GUILESS_MAIN(TestFileResponse)
#include "tst_fileresponse.moc"
