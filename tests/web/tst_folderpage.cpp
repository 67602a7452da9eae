#include "httpclient.h"
#include "testserver.h"

#include "web/namesearch.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>
#include <QTimeZone>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// The form token of a responsive page.
QByteArray tokenOf(const QByteArray &page)
{
    static const QRegularExpression field(QStringLiteral("name=\"t\" value=\"([0-9a-f]+)\""));
    return field.match(QString::fromLatin1(page)).captured(1).toLatin1();
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
    // Settings: "pictures", "responsive", "no upload", "no delete", "no folders", and the bounds
    // of a search, "2 matches" and "3 entries".
    QTest::addColumn<QByteArray>("setting");
    // Made in one session: "GET <target>", "POST <target> <form>" or "UPLOAD <target> <file name>";
    // TOKEN stands for the session's form token, OTHER for another session's.
    QTest::addColumn<QByteArrayList>("requests");
    QTest::addColumn<QByteArrayList>("present"); // in the answers, heads and bodies
    QTest::addColumn<QByteArrayList>("absent");
    QTest::addColumn<QStringList>("changed"); // gone or made, with all below; the rest of the share stays
    const auto row = [](const char *name, const QByteArray &setting, const QByteArrayList &requests,
                        const QByteArrayList &present, const QByteArrayList &absent = {},
                        const QStringList &changed = {}) {
        QTest::newRow(name) << setting << requests << present << absent << changed;
    };
    const QByteArrayList root{"GET /"};

    row("upload off", "no upload", root, {"name=\"fl\"", "</tr></table></form>"}, {"name=\"af\"", "Add File"});
    row("delete off", "no delete", root, {"name=\"af\"", "<body>"}, {"<script", "name=\"fl\"", "type=\"checkbox\""});
    row("pictures on, delete off", "pictures, no delete", root,
        {"<body background=\"/_i/sand-light.jpg\">", "<a href=\"/a.txt\"><img src=\"/_i/txt.png\""},
        {"type=\"checkbox\"", "<script"});

    // The link to the parent and to the entries.
    const auto parent = [](const QByteArray &cell) {
        return "</head><body><table><tr>" + cell + "<form method=\"POST\" name=\"s\">";
    };
    row("/a/b", "", {"GET /a/b"}, {parent("<td><b><a href=\"/a\">../a/b</a></b></td>"), "<a href=\"/a/b/x.txt\">"});
    row("/a/ keeps its slash", "", {"GET /a/"}, {parent(""), "<a href=\"/a/x.txt\">"});
    row("blank and percent", "", {"GET /a%20b/c%25d"},
        {parent("<td><b><a href=\"/a%20b\">../a b/c%d</a></b></td>"), "<a href=\"/a%20b/c%25d/x.txt\">"});
    row("markup in the path", "", {"GET /%3Ci%3E%22"},
        {parent("<td><b><a href=\"/\">../&lt;i&gt;&quot;</a></b></td>"), "<a href=\"/%3Ci%3E%22/x.txt\">"});

    // Paging through the 25 files of /paged/.
    row("page size 0 is refused", "", {"POST / a=c&cv=0", "GET /paged/?a=p&p=1"},
        {"/paged/f24\"", "name=\"cv\" value=\"24\"", "<b>2</b> </td>"}, {"/paged/f23\""});
    row("negative page", "", {"GET /paged/?a=p&p=-1"},
        {"/paged/f00\"", "/paged/f23\"", "<td>Pages: <b>1</b> <a href=\"?a=p&p=1\">2</a> </td>"}, {"/paged/f24\""});
    row("huge page size and page", "", {"POST / a=c&cv=2147483647", "GET /paged/?a=p&p=2147483647"},
        {"/paged/f00\"", "/paged/f24\"", "name=\"cv\" value=\"2147483647\""}, {"Pages: "});

    // Names with markup, the file <b>&"'.txt and the folder <i>.
    const QByteArray name = "&lt;b&gt;&amp;&quot;&#39;.txt";
    const QByteArrayList cells{"<input type=\"checkbox\" name=\"f\" value=\"" + name + "\"> <a href=\"/%3Cb%3E%26%22%27.txt\">",
                               name + "<br>", "<input type=\"checkbox\" name=\"d\" value=\"&lt;i&gt;\"> <a href=\"/%3Ci%3E\">"};
    row("text cells", "", root, cells, {"<b>&", "<i>"});
    row("picture cells", "pictures", root, cells, {"<b>&", "<i>"});
    // In the text, the check box's value and every link.
    row("responsive page", "pictures, responsive", root, {name, "href=\"/%3Cb%3E%26%22%27.txt?dl=1\""},
        {"<b>&", "<i>", "'.txt"});
    row("unknown action, told escaped", "", {"POST / a=%3Cscript%3E%22"},
        {"</tr></table>Unknown request &lt;script&gt;&quot;<table border=\"1\" frame=\"border\">"}, {"<script>"});
    row("not found, told escaped", "", {"GET /%3Cb%3E%C3%A4"}, {"404 Not Found", "File=/&lt;b&gt;\xC3\xA4<br>"}, {"<b>"});
    row("dot files listed", "", {"GET /dots/"}, {"/dots/.profile\"", "/dots/.config\""});

    // Deleting and new folders; the message is told once.
    const auto message = [](const QByteArray &text) {
        return "</tr></table>" + text + "<table border=\"1\" frame=\"border\">";
    };
    const QByteArray none = message("0 file removed. ");
    row("nested folders and a file count every item", "", {"POST / a=del&d=Music&f=a.txt", "GET /"},
        {message("4 file removed. "), message("")}, {}, {"Music", "a.txt"});
    row("missing file is not counted", "", {"POST / a=del&f=none.txt&f=b.txt"}, {message("1 file removed. ")}, {},
        {"b.txt"});
    row("a folder ticked as a file", "", {"POST / a=del&f=Music"}, {none});
    row("encoded names", "", {"POST / a=del&f=with+blank.txt&f=%C3%A4.txt"}, {message("2 file removed. ")}, {},
        {"with blank.txt", "ä.txt"});
    // Posted to /inner: names that are not one name nothing outside it, and are told as the
    // share names them.
    row("file up a level", "", {"POST /inner a=del&f=../b.txt"}, {none});
    row("file through a slash", "", {"POST /inner a=del&f=Sub/deep.txt"}, {none});
    row("encoded slash", "", {"POST /inner a=del&f=..%2Fb.txt"}, {none});
    row("NUL in a name", "", {"POST /inner a=del&f=Sub%00"}, {none});
    row("folder up a level", "", {"POST /inner a=del&d=../Music"},
        {message(" delete /inner/../Music failed,0 file removed. ")});
    row("the folder itself", "", {"POST /inner a=del&d=."}, {message(" delete /inner/. failed,0 file removed. ")});
    row("markup in a refused name", "", {"POST /inner a=del&d=%3Cb%3E/x"},
        {message(" delete /inner/&lt;b&gt;/x failed,0 file removed. ")});
    // Links are removed as links: what they lead to stays.
    row("links inside a folder", "", {"POST / a=del&d=Photos"}, {message("4 file removed. ")}, {}, {"Photos"});
    row("ticked link to a folder", "", {"POST / a=del&d=dirlink"}, {none}, {}, {"dirlink"});
    row("ticked link to a file", "", {"POST / a=del&f=filelink"}, {message("1 file removed. ")}, {}, {"filelink"});
    row("ticked broken link", "", {"POST / a=del&f=broken"}, {message("1 file removed. ")}, {}, {"broken"});
    const QByteArray failed = message("Create new folder failed");
    row("new folder, plus is a blank", "", {"POST / a=cfd&f=New+folder"}, {message("New folder created")}, {},
        {"New folder"});
    row("new folder named as a file", "", {"POST / a=cfd&f=a.txt"}, {failed});
    row("existing folder", "", {"POST / a=cfd&f=Old"}, {message("Folder create failed: Folder exists")});
    row("new folder dot dot", "", {"POST / a=cfd&f=.."}, {failed});
    row("new folder climbing out", "", {"POST / a=cfd&f=..%2F..%2Fescaped"}, {failed});
    row("new folder with a slash", "", {"POST / a=cfd&f=x%2Fy"}, {failed});
    // Uploads on one connection, one answer each. After a page link, the upload form posts to
    // "/?a=p&p=1": still an upload. A refused one leaves its body unread: the answer closes.
    row("uploads on one connection", "", {"UPLOAD /Photos one.txt", "UPLOAD /?a=p&p=1 two.txt", "UPLOAD / two.txt"},
        {message("File sent success."), "<td><b><a href=\"/\">../Photos</a></b></td>",
         message("File send failed: File exists"), "Connection: close\r\n"},
        {}, {"Photos/one.txt", "two.txt"});

    // Changes on the responsive page that another page cannot make: the token is the session's.
    const auto note = [](const QByteArray &text) { return "<p class=\"msg\" role=\"status\">" + text + "</p>"; };
    const QByteArray del = "POST / a=del&n=a.txt&n=Old&t=";
    row("delete with the page's token", "responsive", {del + "TOKEN", "GET /"},
        {"303 See Other", "Location: /\r\n", note("2 deleted.")}, {}, {"a.txt", "Old"});
    row("delete without a token", "responsive", {del, "GET /"}, {"403 Forbidden"}, {"deleted."});
    row("delete with another session's token", "responsive", {del + "OTHER", "GET /"}, {"403 Forbidden"},
        {"deleted."});
    row("upload without a token", "responsive", {"UPLOAD / up.txt", "GET /"}, {"403 Forbidden"}, {"File sent"});
    // A folder chosen whole: its files name the folders they lie in, made below this one.
    row("upload into new folders", "responsive", {"UPLOAD /?t=TOKEN Trip/Day 1/up.txt", "GET /"},
        {note("File sent success.")}, {}, {"Trip", "Trip/Day 1/up.txt"});
    row("upload of a path leaving the folder", "responsive", {"UPLOAD /?t=TOKEN Trip/../up.txt", "GET /"},
        {note("File send failed: Unsupported browser or no file selected.")});
    // Names that are not one, deleted or not, name nothing outside the folder.
    row("delete of names that are none", "responsive", {"POST / a=del&n=..&n=Old/b.txt&n=%2E%2E%2Fa.txt&t=TOKEN", "GET /"},
        {note("0 deleted. Not deleted: .., Old/b.txt, ../a.txt.")});

    // Finding by name, below /find/: a link to a folder is listed as an entry, never walked into.
    const auto cell = [](const QByteArrayList &paths) {
        QByteArrayList links;
        for (const QByteArray &path : paths)
            links.append("<td align=\"center\" width=\"200\"><a href=\"/find/" + path + "\">");
        return links;
    };
    const QByteArrayList beach{".beach-hidden", "Notes/beachy.md", "Photos/beach-2.jpg", "Photos/Beach.JPG",
                               "Photos/Old/BEACHES"};
    row("ignoring case, below, folders too", "", {"GET /find/?a=find&q=beach"}, cell(beach),
        cell({"Notes/later/", "a.txt"}) + QByteArrayList{"The search stopped early", "<td>Pages: "});
    row("in a folder", "", {"GET /find/Photos/?a=find&q=BEACH"}, cell(beach.mid(2)), cell(beach.mid(0, 2)));
    row("folders not shown: this folder's files", "no folders", {"GET /find/?a=find&q=a"},
        cell({".beach-hidden", "a.txt"}), cell({"Notes/beachy.md"}));
    row("paged like the folder", "", {"POST / a=c&cv=2", "GET /find/?a=find&q=beach&p=1"},
        cell(beach.mid(2, 2)) + QByteArrayList{"<td>Pages: <a href=\"?a=find&amp;q=beach&amp;p=0\">1</a> <b>2</b> "
                                               "<a href=\"?a=find&amp;q=beach&amp;p=2\">3</a> </td>"},
        cell(beach.mid(0, 2)));
    row("bounded in matches", "2 matches", {"GET /find/?a=find&q=beach"},
        cell(beach.mid(0, 2)) + QByteArrayList{"The search stopped early"}, cell(beach.mid(2, 1)));
    row("bounded in entries", "3 entries", {"GET /find/?a=find&q=beach"},
        cell(beach.mid(0, 2)) + QByteArrayList{"The search stopped early"}, cell(beach.mid(2, 1)));
    // What was asked for shows, escaped, and only so.
    row("markup in the text", "", {"GET /find/?a=find&q=%3Cb%3E%22"}, {"200 OK"}, {"<b>\"", "<td align=\"center\""});
}

void TestFolderPage::page()
{
    QFETCH(QByteArray, setting);
    QFETCH(QByteArrayList, requests);
    QFETCH(QByteArrayList, present);
    QFETCH(QByteArrayList, absent);
    QFETCH(QStringList, changed);
    web->config.showImages = setting.contains("pictures") ? CheckState::On : CheckState::Off;
    web->config.enableUpload = setting.contains("no upload") ? CheckState::Off : CheckState::On;
    web->config.enableDelete = setting.contains("no delete") ? CheckState::Off : CheckState::On;
    web->config.showFolders = setting.contains("no folders") ? CheckState::Off : CheckState::On;
    if (setting.contains("responsive"))
        web->config.pages = FolderPages::Responsive;
    if (setting.contains("pictures"))
        web->startThumbnails();
    const qint64 visited = NameSearch::maxVisited;
    const qsizetype matches = NameSearch::maxMatches;
    const auto restore = qScopeGuard([=] {
        NameSearch::maxVisited = visited;
        NameSearch::maxMatches = matches;
    });
    NameSearch::maxVisited = setting.contains("3 entries") ? 3 : visited;
    NameSearch::maxMatches = setting.contains("2 matches") ? 2 : matches;
    QVERIFY(web->start());
    for (const char *file : {"a.txt", "a/x.txt", "a/b/x.txt", "a b/c%d/x.txt", "<i>\"/x.txt", "<b>&\"'.txt", "<i>/x",
                             "dots/.profile", "dots/.config/x", "Music/Old/x.mp3", "Music/y.mp3", "b.txt",
                             "with blank.txt", "ä.txt", "inner/Sub/deep.txt", "inner/Sub/Deeper/x.txt", "inner/mine.txt",
                             "Photos/own.jpg", "Old/b.txt", "find/a.txt", "find/.beach-hidden", "find/Notes/beachy.md",
                             "find/Photos/Beach.JPG", "find/Photos/beach-2.jpg", "find/Photos/Old/x.txt"})
        QVERIFY(web->write(QString::fromUtf8(file), "x"));
    for (int i = 0; i < 25; ++i)
        QVERIFY(web->write(QString::asprintf("paged/f%02d", i), "x"));
    QVERIFY(web->mkdir("find/Photos/Old/BEACHES"));
    QVERIFY(QFile::link(web->path("find/Photos"), web->path("find/Notes/later")));
    TestServer::writeFile(web->outsidePath("folder/inner/keep.txt"), "k");
    for (const QString &link : {QStringLiteral("Photos/"), QString()}) {
        QVERIFY(QFile::link(web->outsidePath("folder"), web->path(link + (link.isEmpty() ? "dirlink" : "to-folder"))));
        QVERIFY(QFile::link(web->outsidePath("secret.txt"), web->path(link + (link.isEmpty() ? "filelink" : "to-file"))));
        QVERIFY(QFile::link(web->outsidePath("nothing"), web->path(link + "broken")));
    }
    const auto files = [this] {
        QStringList all;
        for (QDirIterator it(web->share, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
             it.hasNext();)
            all.append(QDir(web->share).relativeFilePath(it.next()));
        return all;
    };
    const QStringList before = files();

    HttpClient client(web->port(), HttpClient::Browser);
    HttpClient other(web->port(), HttpClient::Browser);
    const QByteArray token = tokenOf(client.get("/").body);
    QByteArray answers;
    for (QByteArray request : requests) {
        request.replace("TOKEN", token).replace("OTHER", tokenOf(other.get("/").body));
        const QByteArrayList words = request.split(' ');
        const QByteArray rest = words.mid(2).join(' ');
        const HttpReply reply = words[0] == "GET"    ? client.get(words[1])
                                : words[0] == "POST" ? client.post(words[1], rest)
                                                     : client.multipart(words[1], "multipart/form-data; boundary=XyZ",
                                                                        multipartBody("XyZ", rest, "uploaded"));
        // A file refused before its body: the server ends the connection after its answer.
        if (reply.header("Connection") == "close")
            client.waitClosed();
        QCOMPARE(client.received, QByteArray());
        answers += reply.head + reply.body;
    }
    for (const QByteArray &piece : present)
        QVERIFY2(answers.contains(piece), piece.constData());
    for (const QByteArray &piece : absent)
        QVERIFY2(!answers.contains(piece), piece.constData());
    QVERIFY(!answers.contains(web->share.toUtf8()));
    const QStringList after = files();
    for (const QString &file : before + after) {
        const bool named = std::any_of(changed.begin(), changed.end(),
                                       [&](const QString &c) { return file == c || file.startsWith(c + '/'); });
        QVERIFY2((before.contains(file) != after.contains(file)) == named, qPrintable(file));
    }
    for (const QString &file : changed)
        QVERIFY2(before.contains(file) != after.contains(file), qPrintable(file));
    QCOMPARE(TestServer::readFile(web->outsidePath("folder/inner/keep.txt")), QByteArray("k"));
    QCOMPARE(TestServer::readFile(web->outsidePath("secret.txt")), TestServer::Secret);
    QVERIFY(!QFileInfo::exists(web->share + "/../escaped"));
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
QTEST_GUILESS_MAIN(TestFolderPage)
#include "tst_folderpage.moc"
