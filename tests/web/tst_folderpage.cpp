#include "httpclient.h"
#include "testserver.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QTimeZone>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

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

// The folder page kept in pages/ under the test function's and row's name. With
// TESSALY_WRITE_PAGES=1 the test writes `page` there instead (look at the difference before
// committing it).
QByteArray golden(const QByteArray &page)
{
    QString name = QString::fromLatin1(QTest::currentTestFunction()) + u'-' + QString::fromUtf8(QTest::currentDataTag());
    for (QChar &c : name) {
        if (!c.isLetterOrNumber())
            c = u'-';
    }
    QFile file(QStringLiteral(TESSALY_PAGES_DIR "/") + name + QStringLiteral(".html"));
    if (qEnvironmentVariableIntValue("TESSALY_WRITE_PAGES") == 1) {
        file.open(QIODevice::WriteOnly) && file.write(page);
        return page;
    }
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "no page " + file.fileName().toUtf8();
}

} // namespace

class TestFolderPage : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void page_data();
    void page();
    void manyEntries_data();
    void manyEntries();
    void responsiveWeight();

private:
    std::unique_ptr<TestServer> web;
};

void TestFolderPage::init()
{
    web.reset();
    web = std::make_unique<TestServer>();
    web->config.maxConnections = 30;
    web->config.showImages = CheckState::Off;
}

void TestFolderPage::cleanup()
{
    QLocale::setDefault(QLocale::c());
    qunsetenv("TZ");
    ::tzset();
}

void TestFolderPage::page_data()
{
    QTest::addColumn<QByteArray>("setting"); // "pictures", "responsive", "no upload", "no delete"
    QTest::addColumn<QByteArrayList>("requests"); // "GET <target>" or "POST <target> <form>", the last one seen
    QTest::addColumn<QByteArrayList>("present"); // in its head or body
    QTest::addColumn<QByteArrayList>("absent");

    const QByteArrayList root{"GET /"};
    QTest::addRow("upload off") << QByteArray("no upload") << root << QByteArrayList{"name=\"fl\"", "</tr></table></form>"}
                                << QByteArrayList{"name=\"af\"", "Add File"};
    QTest::addRow("delete off") << QByteArray("no delete") << root << QByteArrayList{"name=\"af\"", "<body>"}
                                << QByteArrayList{"<script", "name=\"fl\"", "type=\"checkbox\""};
    QTest::addRow("pictures on, delete off") << QByteArray("pictures, no delete") << root
        << QByteArrayList{"<body background=\"/_i/sand-light.jpg\">", "<a href=\"/a.txt\"><img src=\"/_i/txt.png\""}
        << QByteArrayList{"type=\"checkbox\"", "<script"};

    // The link to the parent and to the entries.
    const auto parent = [](const QByteArray &cell) {
        return "</head><body><table><tr>" + cell + "<form method=\"POST\" name=\"s\">";
    };
    QTest::addRow("/a/b") << QByteArray() << QByteArrayList{"GET /a/b"}
                          << QByteArrayList{parent("<td><b><a href=\"/a\">../a/b</a></b></td>"), "<a href=\"/a/b/x.txt\">"}
                          << QByteArrayList();
    QTest::addRow("/a/ keeps its slash") << QByteArray() << QByteArrayList{"GET /a/"}
                                         << QByteArrayList{parent(""), "<a href=\"/a/x.txt\">"} << QByteArrayList();
    QTest::addRow("blank and percent") << QByteArray() << QByteArrayList{"GET /a%20b/c%25d"}
        << QByteArrayList{parent("<td><b><a href=\"/a%20b\">../a b/c%d</a></b></td>"), "<a href=\"/a%20b/c%25d/x.txt\">"}
        << QByteArrayList();
    QTest::addRow("markup in the path") << QByteArray() << QByteArrayList{"GET /%3Ci%3E%22"}
        << QByteArrayList{parent("<td><b><a href=\"/\">../&lt;i&gt;&quot;</a></b></td>"), "<a href=\"/%3Ci%3E%22/x.txt\">"}
        << QByteArrayList();

    // Paging through the 25 files of /paged/.
    QTest::addRow("page size 0 is refused") << QByteArray() << QByteArrayList{"POST / a=c&cv=0", "GET /paged/?a=p&p=1"}
        << QByteArrayList{"/paged/f24\"", "name=\"cv\" value=\"24\"", "<b>2</b> </td>"}
        << QByteArrayList{"/paged/f23\""};
    QTest::addRow("negative page") << QByteArray() << QByteArrayList{"GET /paged/?a=p&p=-1"}
        << QByteArrayList{"/paged/f00\"", "/paged/f23\"", "<td>Pages: <b>1</b> <a href=\"?a=p&p=1\">2</a> </td>"}
        << QByteArrayList{"/paged/f24\""};
    QTest::addRow("huge page size and page") << QByteArray()
        << QByteArrayList{"POST / a=c&cv=2147483647", "GET /paged/?a=p&p=2147483647"}
        << QByteArrayList{"/paged/f00\"", "/paged/f24\"", "name=\"cv\" value=\"2147483647\""}
        << QByteArrayList{"Pages: "};

    // Names with markup, the file <b>&"'.txt and the folder <i>.
    const QByteArray name = "&lt;b&gt;&amp;&quot;&#39;.txt";
    const QByteArrayList cells{"<input type=\"checkbox\" name=\"f\" value=\"" + name + "\"> <a href=\"/%3Cb%3E%26%22%27.txt\">",
                               name + "<br>", "<input type=\"checkbox\" name=\"d\" value=\"&lt;i&gt;\"> <a href=\"/%3Ci%3E\">"};
    const QByteArrayList markup{"<b>&", "<i>"};
    QTest::addRow("text cells") << QByteArray() << root << cells << markup;
    QTest::addRow("picture cells") << QByteArray("pictures") << root << cells << markup;
    QTest::addRow("responsive page") << QByteArray("pictures, responsive") << root
                                     << QByteArrayList{name, "href=\"/%3Cb%3E%26%22%27.txt?dl=1\""}
                                     << markup + QByteArrayList{"'.txt"};
    QTest::addRow("unknown action, told escaped") << QByteArray() << QByteArrayList{"POST / a=%3Cscript%3E%22"}
        << QByteArrayList{"</tr></table>Unknown request &lt;script&gt;&quot;<table border=\"1\" frame=\"border\">"}
        << QByteArrayList{"<script>"};
    QTest::addRow("not found, told escaped") << QByteArray() << QByteArrayList{"GET /%3Cb%3E%C3%A4"}
                                             << QByteArrayList{"404 Not Found", "File=/&lt;b&gt;\xC3\xA4<br>"}
                                             << QByteArrayList{"<b>"};
    QTest::addRow("dot files listed") << QByteArray() << QByteArrayList{"GET /dots/"}
                                      << QByteArrayList{"/dots/.profile\"", "/dots/.config\""} << QByteArrayList();
}

void TestFolderPage::page()
{
    QFETCH(QByteArray, setting);
    QFETCH(QByteArrayList, requests);
    QFETCH(QByteArrayList, present);
    QFETCH(QByteArrayList, absent);
    web->config.showImages = setting.contains("pictures") ? CheckState::On : CheckState::Off;
    web->config.enableUpload = setting.contains("no upload") ? CheckState::Off : CheckState::On;
    web->config.enableDelete = setting.contains("no delete") ? CheckState::Off : CheckState::On;
    if (setting.contains("responsive"))
        web->config.pages = FolderPages::Responsive;
    if (setting.contains("pictures"))
        web->startThumbnails();
    QVERIFY(web->start());
    for (const char *file : {"a.txt", "a/x.txt", "a/b/x.txt", "a b/c%d/x.txt", "<i>\"/x.txt", "<b>&\"'.txt", "<i>/x",
                             "dots/.profile", "dots/.config/x"})
        QVERIFY(web->write(QString::fromUtf8(file), "x"));
    for (int i = 0; i < 25; ++i)
        QVERIFY(web->write(QString::asprintf("paged/f%02d", i), "x"));
    HttpClient client(web->port(), HttpClient::Browser);
    HttpReply reply;
    for (const QByteArray &request : requests) {
        const QByteArrayList words = request.split(' ');
        reply = words[0] == "POST" ? client.post(words[1], words[2]) : client.get(words[1]);
    }
    const QByteArray answer = reply.head + reply.body;
    for (const QByteArray &piece : present)
        QVERIFY2(answer.contains(piece), piece.constData());
    for (const QByteArray &piece : absent)
        QVERIFY2(!answer.contains(piece), piece.constData());
}

void TestFolderPage::manyEntries_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("sort"); // the sort action posted, none when empty
    QTest::addColumn<bool>("pictures");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<int>("pageSize"); // 0: as it is
    QTest::addColumn<int>("page");

    QTest::addRow("folder") << QByteArray("/Photos") << QByteArray() << false << "C" << QByteArray("UTC") << 0 << 0;
    QTest::addRow("German, summer time begins") << QByteArray("/") << QByteArray("t") << false << "de_DE"
                                                << QByteArray("Europe/Berlin") << 1000 << 0;
    QTest::addRow("seventh page of seven") << QByteArray("/") << QByteArray("t") << false << "en_US"
                                           << QByteArray("America/New_York") << 7 << 6;
    QTest::addRow("US, pictures by size") << QByteArray("/") << QByteArray("s") << true << "en_US"
                                          << QByteArray("America/New_York") << 1000 << 0;
}

void TestFolderPage::manyEntries()
{
    QFETCH(QByteArray, target);
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
    QVERIFY(web->start());

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
    if (target != "/") {
        QVERIFY(web->write(QString::fromUtf8(target.mid(1)) + "/x.bin", QByteArray(2000, 'x')));
        QVERIFY(setModified(web->path(QString::fromUtf8(target.mid(1)) + "/x.bin"), utc(2022, 5, 6, 7, 8, 9)));
    }


    HttpClient client(web->port(), HttpClient::Browser);
    QCOMPARE(client.get("/").status, QByteArray("200 OK"));
    if (!sort.isEmpty())
        QCOMPARE(client.post("/", "a=" + sort).status, QByteArray("200 OK"));
    if (pageSize > 0)
        QCOMPARE(client.post("/", "a=c&cv=" + QByteArray::number(pageSize)).status, QByteArray("200 OK"));
    const HttpReply reply = page ? client.get(target + "?a=p&p=" + QByteArray::number(page)) : client.get(target);
    QCOMPARE(reply.statusLine, QByteArray("HTTP/1.1 200 OK"));
    QCOMPARE(reply.header("Content-Type"), QByteArray("text/html; charset=UTF-8"));
    QCOMPARE(reply.body, golden(reply.body));
}
void TestFolderPage::responsiveWeight()
{
    // A first page of a full folder and all it loads: within 50 KB; the assets cached.
    web->config.pages = FolderPages::Responsive;
    QVERIFY(web->start());
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
QTEST_GUILESS_MAIN(TestFolderPage)
#include "tst_folderpage.moc"
