#include "httpclient.h"
#include "testserver.h"

#include "responses/http_response.h"
#include "server/clientdata.h"
#include "server/webserver.h"
#include "web/html_element.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTimeZone>
#include <QUrl>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QByteArray Entries = "<table border=\"1\" frame=\"border\">";

QByteArray dateOf(const QString &path)
{
    return QLocale().toString(QFileInfo(path).lastModified(), QLocale::ShortFormat).toUtf8();
}

// The names shown in the entry cells of a page, in order.
QList<QByteArray> names(const QByteArray &page)
{
    static const QRegularExpression cell(QStringLiteral("<td align=\"center\" width=\"200\">[^<]*(?:<input[^>]*> )?"
                                                        "<a href=\"[^\"]*\">(?:<img[^>]*>)?(?:<br>)?(.*?)<br>"));
    QList<QByteArray> out;
    for (const QRegularExpressionMatch &m : cell.globalMatch(QString::fromUtf8(page)))
        out.append(m.captured(1).toUtf8());
    return out;
}

// Sets the modification time of `path` to `msecs` after the epoch (before it when negative).
bool setModified(const QString &path, qint64 msecs)
{
    qint64 seconds = msecs / 1000;
    if (msecs % 1000 < 0)
        --seconds;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(seconds);
    times[1].tv_nsec = long(msecs - seconds * 1000) * 1000000;
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

qint64 utc(int year, int month, int day, int hour, int minute, int second, int msec = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, msec), QTimeZone::utc())
        .toMSecsSinceEpoch();
}

// The folder page kept in pages/ under the test function's and row's name, each "@<name>@" in it
// replaced by the value `varying` gives (a date that depends on when the test runs). With
// TESSALY_WRITE_PAGES=1 the test writes `page` there instead, the values put back as
// placeholders (look at the difference before committing it).
QByteArray golden(QByteArray page, const QList<std::pair<QByteArray, QByteArray>> &varying = {})
{
    QString name = QString::fromLatin1(QTest::currentTestFunction()) + u'-' + QString::fromUtf8(QTest::currentDataTag());
    for (QChar &c : name) {
        if (!c.isLetterOrNumber())
            c = u'-';
    }
    QFile file(QStringLiteral(TESSALY_PAGES_DIR "/") + name + QStringLiteral(".html"));
    if (qEnvironmentVariableIntValue("TESSALY_WRITE_PAGES") == 1) {
        for (const auto &[placeholder, value] : varying)
            page.replace(value, '@' + placeholder + '@');
        file.open(QIODevice::WriteOnly) && file.write(page);
        return page;
    }
    QByteArray kept = file.open(QIODevice::ReadOnly) ? file.readAll() : "no page " + file.fileName().toUtf8();
    for (const auto &[placeholder, value] : varying)
        kept.replace('@' + placeholder + '@', value);
    return kept;
}

} // namespace

class TestFolderPage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void wholePage_data();
    void wholePage();
    void variants_data();
    void variants();
    void parentLink_data();
    void parentLink();
    void paging_data();
    void paging();
    void manyEntries_data();
    void manyEntries();
    void escaping_data();
    void escaping();
    void responsiveWeight();
    void listed();

private:
    std::unique_ptr<TestServer> web;
};

void TestFolderPage::init()
{
    qunsetenv("TZ");
    ::tzset();
    QLocale::setDefault(QLocale::c());
    web = std::make_unique<TestServer>();
    web->config.maxConnections = 30;
    web->config.showImages = CheckState::Off;
    QVERIFY(web->start());
}

void TestFolderPage::cleanup()
{
    web.reset();
    QLocale::setDefault(QLocale::c());
    qunsetenv("TZ");
    ::tzset();
}

void TestFolderPage::wholePage_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addRow("folder") << QByteArray("/Photos");
}

void TestFolderPage::wholePage()
{
    QFETCH(QByteArray, target);
    QVERIFY(web->mkdir("Photos"));
    QVERIFY(web->write("a.txt", "abc"));
    QVERIFY(web->write("Photos/x.bin", QByteArray(2000, 'x')));
    HttpClient client(web->port(), HttpClient::Browser);

    const HttpReply reply = client.get(target);
    QCOMPARE(reply.statusLine, QByteArray("HTTP/1.1 200 OK"));
    QCOMPARE(reply.header("Content-Type"), QByteArray("text/html; charset=UTF-8"));
    QCOMPARE(reply.body, golden(reply.body, {{"DATE:a.txt", dateOf(web->path("a.txt"))},
                                             {"DATE:Photos/x.bin", dateOf(web->path("Photos/x.bin"))}}));
}
void TestFolderPage::variants_data()
{
    QTest::addColumn<bool>("images");
    QTest::addColumn<bool>("upload");
    QTest::addColumn<bool>("remove");
    QTest::addColumn<QByteArrayList>("present");
    QTest::addColumn<QByteArrayList>("absent");

    QTest::addRow("upload off") << false << false << true << QByteArrayList{"name=\"fl\"", "</tr></table></form>"}
                                << QByteArrayList{"name=\"af\"", "Add File"};
    QTest::addRow("delete off") << false << true << false << QByteArrayList{"name=\"af\"", "<body>"}
                                << QByteArrayList{"<script", "name=\"fl\"", "type=\"checkbox\""};
    QTest::addRow("pictures on, delete off") << true << true << false
        << QByteArrayList{"<body background=\"/_i/sand-light.jpg\">", "<a href=\"/a.txt\"><img src=\"/_i/txt.png\""}
        << QByteArrayList{"type=\"checkbox\"", "<script"};
}

void TestFolderPage::variants()
{
    QFETCH(bool, images);
    QFETCH(bool, upload);
    QFETCH(bool, remove);
    QFETCH(QByteArrayList, present);
    QFETCH(QByteArrayList, absent);
    web->config.showImages = images ? CheckState::On : CheckState::Off;
    web->config.enableUpload = upload ? CheckState::On : CheckState::Off;
    web->config.enableDelete = remove ? CheckState::On : CheckState::Off;
    if (images)
        web->startThumbnails();
    QVERIFY(web->write("a.txt", "abc"));
    HttpClient client(web->port(), HttpClient::Browser);
    const HttpReply reply = client.get("/");
    QCOMPARE(reply.status, QByteArray("200 OK"));
    for (const QByteArray &piece : present)
        QVERIFY2(reply.body.contains(piece), piece.constData());
    for (const QByteArray &piece : absent)
        QVERIFY2(!reply.body.contains(piece), piece.constData());
}
void TestFolderPage::parentLink_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("parentCell");
    QTest::addColumn<QByteArray>("entryLink");

    QTest::addRow("/a/b") << QByteArray("/a/b") << QByteArray("<td><b><a href=\"/a\">../a/b</a></b></td>")
                          << QByteArray("<a href=\"/a/b/x.txt\">");
    QTest::addRow("/a/ keeps its slash") << QByteArray("/a/") << QByteArray() << QByteArray("<a href=\"/a/x.txt\">");
    QTest::addRow("blank and percent") << QByteArray("/a%20b/c%25d")
                                       << QByteArray("<td><b><a href=\"/a%20b\">../a b/c%d</a></b></td>")
                                       << QByteArray("<a href=\"/a%20b/c%25d/x.txt\">");
    QTest::addRow("markup in the path") << QByteArray("/%3Ci%3E%22")
                                        << QByteArray("<td><b><a href=\"/\">../&lt;i&gt;&quot;</a></b></td>")
                                        << QByteArray("<a href=\"/%3Ci%3E%22/x.txt\">");
}

void TestFolderPage::parentLink()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, parentCell);
    QFETCH(QByteArray, entryLink);
    const QString folder = QString::fromUtf8(QByteArray::fromPercentEncoding(target));
    QVERIFY(web->write(folder + "/x.txt", "x"));
    HttpClient client(web->port(), HttpClient::Browser);
    const HttpReply reply = client.get(target);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    const QByteArray row = "</head><body><table><tr>" + parentCell + "<form method=\"POST\" name=\"s\">";
    QVERIFY2(reply.body.contains(row), reply.body.constData());
    QVERIFY2(reply.body.contains(entryLink), reply.body.constData());
}
void TestFolderPage::paging_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<QByteArray>("pageSize"); // the "cv" value posted first, empty for none
    QTest::addColumn<QByteArray>("page");     // the "p" value asked for, empty for none
    QTest::addColumn<int>("shown");
    QTest::addColumn<QByteArray>("firstShown");
    QTest::addColumn<int>("sizeField");
    QTest::addColumn<QByteArray>("pages");

    QTest::addRow("page size 0 is refused") << 25 << QByteArray("0") << QByteArray("1") << 1
                                            << QByteArray("f24") << 24 << QByteArray("<b>2</b> </td>");
    QTest::addRow("negative page") << 25 << QByteArray() << QByteArray("-1") << 24 << QByteArray("f00") << 24
                                   << QByteArray("<td>Pages: <b>1</b> <a href=\"?a=p&p=1\">2</a> </td>");
    QTest::addRow("huge page size and page") << 5 << QByteArray("2147483647") << QByteArray("2147483647") << 5
                                             << QByteArray("f00") << 2147483647 << QByteArray();
}

void TestFolderPage::paging()
{
    QFETCH(int, entries);
    QFETCH(QByteArray, pageSize);
    QFETCH(QByteArray, page);
    QFETCH(int, shown);
    QFETCH(QByteArray, firstShown);
    QFETCH(int, sizeField);
    QFETCH(QByteArray, pages);
    for (int i = 0; i < entries; ++i)
        QVERIFY(web->write(QString::asprintf("f%02d", i), "x"));
    HttpClient client(web->port(), HttpClient::Browser);
    QCOMPARE(client.get("/").status, QByteArray("200 OK"));
    if (!pageSize.isEmpty())
        QCOMPARE(client.post("/", "a=c&cv=" + pageSize).status, QByteArray("200 OK"));
    const HttpReply reply = page.isEmpty() ? client.get("/") : client.get("/?a=p&p=" + page);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    const QList<QByteArray> shownNames = names(reply.body);
    QCOMPARE(shownNames.size(), shown);
    QCOMPARE(shownNames.first(), firstShown);
    QVERIFY(reply.body.contains("name=\"cv\" value=\"" + QByteArray::number(sizeField) + "\""));
    if (pages.isEmpty())
        QVERIFY(!reply.body.contains("Pages: "));
    else
        QVERIFY2(reply.body.contains(pages), reply.body.right(400).constData());
}
void TestFolderPage::manyEntries_data()
{
    QTest::addColumn<QByteArray>("sort"); // the sort action posted
    QTest::addColumn<bool>("pictures");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("page");

    QTest::addRow("German, summer time begins") << QByteArray("t") << false << "de_DE" << QByteArray("Europe/Berlin")
                                                << 1000 << 0;
    QTest::addRow("seventh page of seven") << QByteArray("t") << false << "en_US" << QByteArray("America/New_York")
                                           << 7 << 6;
    QTest::addRow("US, pictures by size") << QByteArray("s") << true << "en_US" << QByteArray("America/New_York")
                                          << 1000 << 0;
}

void TestFolderPage::manyEntries()
{
    QFETCH(QByteArray, sort);
    QFETCH(bool, pictures);
    QFETCH(QString, locale);
    QFETCH(QByteArray, zone);
    QFETCH(int, pageSize);
    QFETCH(int, page);
    QLocale::setDefault(QLocale(locale));
    qputenv("TZ", zone);
    ::tzset();
    web->config.showImages = pictures ? CheckState::On : CheckState::Off;
    if (pictures)
        web->startThumbnails();

    // Many files within a few minutes (across the change to summer time in Berlin), many in one
    // second, and names and times that each need care of their own.
    const qint64 base = utc(2021, 3, 28, 0, 52, 10);
    for (int i = 0; i < 300; ++i) {
        const QString name = QString::asprintf("f%03d.txt", (i * 37) % 300);
        QVERIFY(web->write(name, QByteArray((i * 7919) % 4000, 'x')));
        QVERIFY(setModified(web->path(name), base + qint64(i) * 4321));
    }
    for (int i = 0; i < 40; ++i) {
        const QString name = QString::asprintf("same%02d", i);
        QVERIFY(web->write(name, QByteArray(i, 'y')));
        QVERIFY(setModified(web->path(name), base + 777 + i));
    }
    QFile large(web->path("large.bin"));
    QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(qint64(3) * 1073741824 + 5));
    large.close();
    QVERIFY(setModified(web->path("large.bin"), utc(2040, 2, 29, 23, 59, 59, 999)));
    const struct { const char *name; qint64 modified; } special[] = {
        {"a b.txt", utc(2020, 1, 1, 0, 0, 0)},
        {"x&y<z>.doc", utc(2019, 7, 4, 12, 30, 59, 999)},
        {"quote\"d.mp3", utc(1999, 12, 31, 23, 59, 59)},
        {"it's.zip", utc(2000, 2, 29, 12, 0, 0)},
        {"100%.txt", utc(1930, 5, 1, 10, 0, 13, 500)},
        {"hash#q?.html", utc(1930, 5, 1, 10, 0, 41)},
        {"plus+sign", utc(1969, 12, 31, 23, 59, 59, 500)},
        {"\xC3\x9Cmlaut.TXT", utc(2021, 10, 31, 0, 59, 59)},
        {"\xE6\x97\xA5\xE6\x9C\xAC.pdf", utc(2021, 10, 31, 1, 0, 1)},
        {".hidden", utc(2010, 6, 15, 8, 8, 8)},
        {"README", utc(2011, 6, 15, 8, 8, 8)},
        {"tiny.jpg", utc(2012, 6, 15, 8, 8, 8)},
        {"pic.PNG", utc(2013, 6, 15, 8, 8, 8)},
        {"archive.tar.gz", utc(2014, 6, 15, 8, 8, 8)},
        {"~tilde_-.x", utc(2015, 6, 15, 8, 8, 8)},
    };
    for (const auto &f : special) {
        const QString name = QString::fromUtf8(f.name);
        QVERIFY(web->write(name, "data"));
        QVERIFY(setModified(web->path(name), f.modified));
    }
    for (const char *folder : {"dir a", "Zdir", "\xC3\xA4" "dir", "x&y.mp3"}) {
        QVERIFY(web->mkdir(QString::fromUtf8(folder)));
        QVERIFY(setModified(web->path(QString::fromUtf8(folder)), utc(2018, 1, 2, 3, 4, 5)));
    }

    QCOMPARE(QDir(web->share).entryList(QDir::AllDirs | QDir::Files | QDir::Readable | QDir::Hidden
                                         | QDir::NoDotAndDotDot).size(), 300 + 40 + 1 + 15 + 4);

    HttpClient client(web->port(), HttpClient::Browser);
    QCOMPARE(client.get("/").status, QByteArray("200 OK"));
    QCOMPARE(client.post("/", "a=" + sort).status, QByteArray("200 OK"));
    QCOMPARE(client.post("/", "a=c&cv=" + QByteArray::number(pageSize)).status, QByteArray("200 OK"));
    const HttpReply reply = page ? client.get("/?a=p&p=" + QByteArray::number(page)) : client.get("/");
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(reply.body, golden(reply.body));
}
void TestFolderPage::escaping_data()
{
    QTest::addColumn<bool>("pictures");
    QTest::addColumn<bool>("responsive");
    QTest::addRow("text cells") << false << false;
    QTest::addRow("picture cells") << true << false;
    QTest::addRow("responsive page") << true << true;
}
void TestFolderPage::escaping()
{
    QFETCH(bool, pictures);
    QFETCH(bool, responsive);
    web->config.showImages = pictures ? CheckState::On : CheckState::Off;
    if (responsive)
        web->config.pages = FolderPages::Responsive;
    if (pictures)
        web->startThumbnails();
    QVERIFY(web->write("<b>&\"'.txt", "x"));
    QVERIFY(web->mkdir("<i>"));
    HttpClient client(web->port(), HttpClient::Browser);
    HttpReply reply = client.get("/");
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QVERIFY(!reply.body.contains("<b>&") && !reply.body.contains("<i>"));
    if (responsive) {
        // In the text, the check box's value and every link.
        QCOMPARE(reply.body.count("&lt;b&gt;&amp;&quot;&#39;.txt"), 2);
        QVERIFY(reply.body.contains("href=\"/%3Cb%3E%26%22%27.txt?dl=1\""));
        QVERIFY(!reply.body.contains("'.txt"));
        return;
    }
    QVERIFY(reply.body.contains("<input type=\"checkbox\" name=\"f\" value=\"&lt;b&gt;&amp;&quot;&#39;.txt\"> "
                                "<a href=\"/%3Cb%3E%26%22%27.txt\">"));
    QVERIFY(reply.body.contains("&lt;b&gt;&amp;&quot;&#39;.txt<br>"));
    QVERIFY(reply.body.contains("<input type=\"checkbox\" name=\"d\" value=\"&lt;i&gt;\"> <a href=\"/%3Ci%3E\">"));
    // An unknown action is told once, escaped.
    reply = client.post("/", "a=%3Cscript%3E%22");
    QVERIFY(reply.body.contains("</tr></table>Unknown request &lt;script&gt;&quot;" + Entries));
    QVERIFY(!client.get("/").body.contains("Unknown request"));
    // The page that is not found names the path escaped.
    reply = client.get("/%3Cb%3E%C3%A4");
    QCOMPARE(reply.status, QByteArray("404 Not Found"));
    QVERIFY(reply.body.contains("File=/&lt;b&gt;\xC3\xA4<br>") && !reply.body.contains("<b>"));
}

void TestFolderPage::responsiveWeight()
{
    // A first page of a full folder and all it loads: within 50 KB; the assets cached.
    web->config.pages = FolderPages::Responsive;
    for (int i = 0; i < 40; ++i)
        QVERIFY(web->write(QStringLiteral("holiday picture number %1.txt").arg(i), "x"));
    HttpClient client(web->port(), HttpClient::Browser);
    const HttpReply page = client.get("/");
    qsizetype total = page.body.size();
    static const QRegularExpression asset(QStringLiteral("(?:href|src)=\"(/_i/[^\"#]+)"));
    QSet<QString> assets;
    for (const QRegularExpressionMatch &m : asset.globalMatch(QString::fromUtf8(page.body)))
        assets.insert(m.captured(1));
    QCOMPARE(assets.size(), 3);
    for (const QString &url : assets) {
        const HttpReply reply = client.get(url.toUtf8());
        QCOMPARE(reply.code, 200);
        QCOMPARE(reply.header("Cache-Control"), QByteArray("max-age=31536000, immutable"));
        total += reply.body.size();
        QCOMPARE(client.get(url.toUtf8(), "If-None-Match: " + reply.header("ETag") + "\r\n").code, 304);
    }
    QVERIFY2(total <= 50 * 1024, QByteArray::number(total).constData());
}
void TestFolderPage::listed()
{
    QVERIFY(web->write(".profile", "x"));
    QVERIFY(web->mkdir(".config"));
    HttpClient client(web->port(), HttpClient::Browser);
    QCOMPARE(names(client.get("/").body), (QByteArrayList{".config", ".profile"}));
}

QTEST_GUILESS_MAIN(TestFolderPage)
#include "tst_folderpage.moc"
