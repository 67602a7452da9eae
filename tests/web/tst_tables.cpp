// The facts the server keeps in one table each, seen from a client: how names are escaped and
// encoded wherever they appear, what each file suffix is sent as and shown with, and which
// methods are answered.
#include "httpclient.h"
#include "testserver.h"

#include "responses/filetypes.h"

#include <QSet>
#include <QTest>
#include <QUrl>

namespace {

// HTML/XML text and attribute values: the five characters with a reference, nothing else.
QByteArray escaped(const QByteArray &utf8)
{
    QByteArray out;
    for (const char c : utf8) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

// Folder-page links: only the unreserved characters and "/" stay.
QByteArray pageLink(const QString &path)
{
    return QUrl::toPercentEncoding(path, "/");
}

// WebDAV hrefs: a URL path as QUrl writes one, then XML-escaped.
QByteArray hrefPath(const QString &path)
{
    QUrl url(QStringLiteral("http://h"));
    url.setPath(path, QUrl::DecodedMode);
    return escaped(url.toEncoded().mid(8));
}

// Suffixes of the table that only the responsive pages know (their types and pictures are
// tst_fileresponse's to check).
const char *const ResponsiveOnly[] = {"jpeg", "gif", "webp", "avif", "bmp", "svg", "svgz", "webm", "m4v", "ogv",
                                      "opus", "oga", "flac", "htm", "xhtml", "xml", "md", "log", "csv", "json",
                                      "css", "js", "odt", "docx", "xlsx", "pptx", "7z", "tar"};

} // namespace

class TestTables : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void namesAreWrittenAlike_data();
    void namesAreWrittenAlike();
    void suffixTable_data();
    void suffixTable();
    void everySuffixRowIsPinned();
    void allowLineEqualsDispatchedMethods();

private:
    HttpReply exchange(const QByteArray &request);
    std::unique_ptr<TestServer> web;
};

void TestTables::init()
{
    web = std::make_unique<TestServer>();
    web->config.maxConnections = 30;
    web->config.showImages = CheckState::Off;
    QVERIFY(web->start());
}

void TestTables::cleanup()
{
    web.reset();
}

HttpReply TestTables::exchange(const QByteArray &request)
{
    HttpClient client(web->port());
    return client.exchange(request);
}

void TestTables::namesAreWrittenAlike_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << QStringLiteral("plain.txt");
    QTest::newRow("blank") << QStringLiteral("a b.txt");
    QTest::newRow("double quote") << QStringLiteral("say \"hi\".txt");
    QTest::newRow("ampersand") << QStringLiteral("this&that.txt");
    QTest::newRow("angle brackets") << QStringLiteral("<b>bold<.txt");
    QTest::newRow("apostrophe") << QStringLiteral("it's.txt");
    QTest::newRow("percent") << QStringLiteral("100%25.txt");
    QTest::newRow("sub-delimiters") << QStringLiteral("a!$()*+,;=b.txt");
    QTest::newRow("colon, at, brackets") << QStringLiteral("x:y@z[1].txt");
    QTest::newRow("hash and question mark") << QStringLiteral("q#?.txt");
    QTest::newRow("tilde and dash") << QStringLiteral("~a-b_c.txt");
    QTest::newRow("latin-1") << QStringLiteral("caf\u00e9.txt");
    QTest::newRow("beyond latin-1") << QStringLiteral("\u65e5\u672c.txt");
}

void TestTables::namesAreWrittenAlike()
{
    QFETCH(QString, name);
    const QByteArray utf8 = name.toUtf8();
    QVERIFY(web->write(name, "bytes"));
    const QByteArray target = '/' + pageLink(name);

    // The folder page: the link encoded, the check box value and the visible name escaped.
    const HttpReply page = exchange("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QCOMPARE(page.status, QByteArray("200 OK"));
    const QByteArray cell = "<input type=\"checkbox\" name=\"f\" value=\"" + escaped(utf8) + "\"> <a href=\""
                            + target + "\">" + escaped(utf8) + "<br></a>";
    QVERIFY2(page.body.contains(cell), page.body.constData());

    // The file itself is reached by that link.
    QCOMPARE(exchange("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").body, QByteArray("bytes"));

    // The not-found page names the path as Latin-1 and as UTF-8, both escaped.
    const HttpReply missing = exchange("GET " + target + "x HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QCOMPARE(missing.status, QByteArray("404 Not Found"));
    const QString path = '/' + name + 'x';
    QVERIFY(missing.body.contains("Path=" + escaped(path.toLatin1()) + "<br>or File=" + escaped(path.toUtf8())
                                  + "<br>"));

    // WebDAV: the PROPFIND href of the entry and the LOCK root of the file are the same href.
    const QByteArray base = web->base();
    const QByteArray href = "<href>" + base + hrefPath('/' + name) + "</href>";
    const HttpReply listing = exchange("PROPFIND / HTTP/1.1\r\nHost: 127.0.0.1\r\nDepth: 1\r\n\r\n");
    QCOMPARE(listing.status, QByteArray("207 Multi-Status"));
    QVERIFY2(listing.body.contains(href), listing.body.constData());
    const QByteArray lockInfo = "<lockinfo xmlns=\"DAV:\"><lockscope><shared/></lockscope></lockinfo>";
    const HttpReply lock = exchange("LOCK " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: "
                                    + QByteArray::number(lockInfo.size()) + "\r\n\r\n" + lockInfo);
    QCOMPARE(lock.status, QByteArray("200 Locked"));
    QVERIFY2(lock.body.contains("<D:lockroot><D:href>" + base + hrefPath('/' + name) + "</D:href>"),
             lock.body.constData());

    // A folder of that name: the upload form names it escaped, with "+" read as a blank.
    QVERIFY(web->mkdir(name + QStringLiteral(".d")));
    const QByteArray form = "a=up";
    const HttpReply upload = exchange("POST " + target + ".d HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                                     "application/x-www-form-urlencoded\r\nContent-Length: "
                                     + QByteArray::number(form.size()) + "\r\n\r\n" + form);
    QCOMPARE(upload.status, QByteArray("200 OK"));
    QByteArray shown = ('/' + name + QStringLiteral(".d")).toUtf8();
    shown.replace('+', ' ');
    QVERIFY2(upload.body.contains("<h2>Send file to " + escaped(shown) + "</h2>"), upload.body.constData());
}

void TestTables::suffixTable_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<QByteArray>("icon");

    // Suffix, Content-Type of a download (empty: no such line), icon on the folder page (empty:
    // no picture). jpg and png show themselves.
    const char *const table[][3] = {
        {"html", "text/html; charset=UTF-8", "html.png"},
        {"jpg", "image/jpeg", ""},
        {"png", "image/png", ""},
        {"avi", "video/x-msvideo", "media.png"},
        {"torrent", "application/x-bittorrent", ""},
        {"pdf", "application/pdf", "doc.png"},
        {"mp4", "video/mp4v-es, audio/mp4", "media.png"},
        {"aac", "video/mp4v-es, audio/mp4", "music.png"},
        {"flv", "video/x-flv", "media.png"},
        {"3gp", "audio/3gpp, video/3gpp", "media.png"},
        {"mp3", "audio/mpeg3", "music.png"},
        {"mov", "video/quicktime", "media.png"},
        {"doc", "application/msword", "doc.png"},
        {"pps", "application/vnd.ms-powerpoint", "doc.png"},
        {"rtf", "application/rtf", "doc.png"},
        {"xls", "application/excel", "sheet.png"},
        {"wav", "audio/wav", "music.png"},
        {"wmv", "video/x-ms-wmv", "media.png"},
        {"zip", "application/zip", "folder_tar.png"},
        {"exe", "application/octet-stream", "application.png"},
        {"ogg", "", "music.png"},
        {"vob", "", "media.png"},
        {"m4a", "", "media.png"},
        {"rar", "", "folder_tar.png"},
        {"gz", "", "folder_tar.png"},
        {"txt", "", "txt.png"},
        {"bat", "", "application.png"},
        {"cmd", "", "application.png"},
        {"sh", "", "application.png"},
        {"mpeg3", "", ""},
    };
    for (const auto &row : table)
        QTest::addRow("%s", row[0]) << QString::fromLatin1(row[0]) << QByteArray(row[1]) << QByteArray(row[2]);
    // What only the responsive pages show: classic pages and downloads see no row.
    for (const char *suffix : ResponsiveOnly)
        QTest::addRow("%s", suffix) << QString::fromLatin1(suffix) << QByteArray() << QByteArray();
}

void TestTables::suffixTable()
{
    QFETCH(QString, suffix);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, icon);
    const QString name = QStringLiteral("file.") + suffix;
    QVERIFY(web->write(name, "small"));

    const HttpReply download = exchange("GET /" + name.toLatin1() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QCOMPARE(download.status, QByteArray("200 OK"));
    QCOMPARE(download.header("Content-Type"), type);

    web->config.showImages = CheckState::On;
    web->startThumbnails();
    const HttpReply page = exchange("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QCOMPARE(page.status, QByteArray("200 OK"));
    const QByteArray link = "<a href=\"/" + name.toLatin1() + "\">";
    const qsizetype at = page.body.indexOf(link);
    QVERIFY(at >= 0);
    const QByteArray picture = page.body.mid(at + link.size(), page.body.indexOf("<br>", at) - at - link.size());
    if (icon.isEmpty() && (suffix == QLatin1String("jpg") || suffix == QLatin1String("png")))
        QCOMPARE(picture, "<img src=\"/" + name.toLatin1() + "\" vspace=\"8\" align=\"center\" border=\"0\">");
    else if (icon.isEmpty())
        QCOMPARE(picture, QByteArray());
    else
        QCOMPARE(picture, "<img src=\"/_i/" + icon + "\" vspace=\"8\" align=\"center\" border=\"0\">");
}

void TestTables::everySuffixRowIsPinned()
{
    // A row added to the table is a new answer to clients: it belongs in suffixTable_data().
    QSet<QString> pinned;
    for (const FileTypes::Row *row = FileTypes::begin(); row != FileTypes::end(); ++row)
        pinned.insert(QString::fromLatin1(row->suffix));
    QCOMPARE(pinned.size(), int(FileTypes::end() - FileTypes::begin())); // no suffix twice
    QStringList listed = {
        "html", "jpg", "png", "avi", "torrent", "pdf", "mp4", "aac", "flv", "3gp", "mp3", "mov", "doc", "pps", "rtf",
        "xls", "wav", "wmv", "zip", "exe", "ogg", "vob", "m4a", "rar", "gz", "txt", "bat", "cmd", "sh"};
    for (const char *suffix : ResponsiveOnly)
        listed.append(QString::fromLatin1(suffix));
    QCOMPARE(pinned, QSet<QString>(listed.begin(), listed.end()));
}

void TestTables::allowLineEqualsDispatchedMethods()
{
    const HttpReply options = exchange("OPTIONS / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QCOMPARE(options.status, QByteArray("200 OK"));
    QSet<QByteArray> allowed;
    for (const QByteArray &name : options.header("Allow").split(','))
        allowed.insert(name.trimmed());
    QCOMPARE(allowed.size(), 13);

    // Every method a client might try: those answered are exactly those the Allow line names.
    const QByteArrayList candidates = {"GET", "POST", "PUT", "DELETE", "OPTIONS", "PROPFIND", "PROPPATCH",
                                       "COPY", "MOVE", "MKCOL", "HEAD", "LOCK", "UNLOCK", "PATCH", "TRACE",
                                       "CONNECT", "SEARCH", "get", "GETX"};
    QSet<QByteArray> answered;
    for (const QByteArray &method : candidates) {
        QVERIFY(web->write(QStringLiteral("t.txt"), "bytes"));
        HttpClient client(web->port());
        client.send(method + " /t.txt HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n");
        // The status line is enough (and all a HEAD answer has besides its head).
        QTRY_VERIFY2(client.received.contains("\r\n"), method.constData());
        const QByteArray statusLine = client.received.left(client.received.indexOf("\r\n"));
        if (statusLine != "HTTP/1.1 405 Method Not Allowed")
            answered.insert(method);
    }
    QCOMPARE(answered, allowed);
}

QTEST_GUILESS_MAIN(TestTables)
#include "tst_tables.moc"
