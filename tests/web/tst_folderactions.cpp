#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "web/namesearch.h"
#include "web/ziparchive.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// An archive as two readers that have nothing to do with the server see it: Python's zipfile
// lists it (path, size, extended-timestamp time, DOS time, flags, method) and checks every CRC,
// and so does `unzip -t`. With "-" for the address it only lists the file already there.
const char ReadArchive[] = R"(
import struct, subprocess, sys, urllib.error, urllib.request, zipfile
url, path = sys.argv[1], sys.argv[2]
if url != "-":
    try:
        r = urllib.request.urlopen(url)
    except urllib.error.HTTPError as e:
        print("status", e.code)
        sys.exit(0)
    print("status", r.status)
    print("disposition", r.headers.get("Content-Disposition"))
    data = r.read()
    open(path, "wb").write(data)
    print("length", len(data) == int(r.headers["Content-Length"]))
with zipfile.ZipFile(path) as z:
    for i in z.infolist():
        ut, x = None, i.extra
        while len(x) >= 4:
            tag, size = struct.unpack("<HH", x[:4])
            if tag == 0x5455:
                ut = struct.unpack("<i", x[5:9])[0]
            x = x[4 + size:]
        print("entry", i.filename, i.file_size, i.header_offset if url == "-" else ut,
              "%04d-%02d-%02d %02d:%02d:%02d" % i.date_time, hex(i.flag_bits), i.compress_type, sep="\t")
    if url != "-":
        print("zipfile", z.testzip())
print("unzip", subprocess.run(["unzip", "-lqq" if url == "-" else "-tqq", path], stdout=subprocess.DEVNULL).returncode)
)";

// The time every entry of the archived folders has: an even second, as DOS times keep it.
constexpr qint64 ArchiveTime = 1700000002;

// The form token of a responsive page.
QByteArray tokenOf(const QByteArray &page)
{
    static const QRegularExpression field(QStringLiteral("name=\"t\" value=\"([0-9a-f]+)\""));
    return field.match(QString::fromLatin1(page)).captured(1).toLatin1();
}

// The one-shot message of a responsive page.
QByteArray noteOf(const QByteArray &page)
{
    static const QRegularExpression note(QStringLiteral("<p class=\"msg\" role=\"status\">(.*?)</p>"));
    return note.match(QString::fromUtf8(page)).captured(1).toUtf8();
}
} // namespace

class TestFolderActions : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void deleteItems_data();
    void deleteItems();
    void createFolder_data();
    void createFolder();
    void responsiveChanges_data();
    void responsiveChanges();
    void forms_data();
    void forms();
    void launchFile_data();
    void launchFile();
    void launchFileSecure();
    void archive_data();
    void archive();
    void archivePast4GiB();
    void findByName_data();
    void findByName();

private:
    QStringList readArchive(const QByteArray &url, const QString &zip);
    std::unique_ptr<TestServer> web;
    std::unique_ptr<HttpClient> client;
};

void TestFolderActions::init()
{
    web = std::make_unique<TestServer>();
    web->config.maxConnections = 30;
    web->config.showImages = CheckState::Off;
    QVERIFY(web->start());
    client = std::make_unique<HttpClient>(web->port(), HttpClient::Browser);
}

void TestFolderActions::cleanup()
{
    client.reset();
    web.reset();
}

void TestFolderActions::deleteItems_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QStringList>("gone"); // the rest of the share stays

    const QByteArray none = "0 file removed. ";
    QTest::addRow("nested folders and a file count every item") << QByteArray("/") << QByteArray("a=del&d=Music&f=a.txt")
        << QByteArray("4 file removed. ") << QStringList{"Music", "a.txt"};
    QTest::addRow("missing file is not counted") << QByteArray("/") << QByteArray("a=del&f=none.txt&f=b.txt")
        << QByteArray("1 file removed. ") << QStringList{"b.txt"};
    QTest::addRow("a folder ticked as a file") << QByteArray("/") << QByteArray("a=del&f=Music") << none << QStringList();
    QTest::addRow("encoded names") << QByteArray("/") << QByteArray("a=del&f=with+blank.txt&f=%C3%A4.txt")
        << QByteArray("2 file removed. ") << QStringList{"with blank.txt", "ä.txt"};
    // Posted to /inner: names that are not one name nothing outside it, and are told as the
    // share names them.
    const QByteArray inner = "/inner";
    QTest::addRow("file up a level") << inner << QByteArray("a=del&f=../b.txt") << none << QStringList();
    QTest::addRow("file through a slash") << inner << QByteArray("a=del&f=Sub/deep.txt") << none << QStringList();
    QTest::addRow("encoded slash") << inner << QByteArray("a=del&f=..%2Fb.txt") << none << QStringList();
    QTest::addRow("NUL in a name") << inner << QByteArray("a=del&f=Sub%00") << none << QStringList();
    QTest::addRow("folder up a level") << inner << QByteArray("a=del&d=../Music")
                                       << " delete /inner/../Music failed," + none << QStringList();
    QTest::addRow("the folder itself") << inner << QByteArray("a=del&d=.") << " delete /inner/. failed," + none
                                       << QStringList();
    QTest::addRow("markup in a refused name") << inner << QByteArray("a=del&d=%3Cb%3E/x")
                                              << " delete /inner/&lt;b&gt;/x failed," + none << QStringList();
    // Links are removed as links: what they lead to stays.
    QTest::addRow("links inside a folder") << QByteArray("/") << QByteArray("a=del&d=Photos")
                                           << QByteArray("4 file removed. ") << QStringList{"Photos"};
    QTest::addRow("ticked link to a folder") << QByteArray("/") << QByteArray("a=del&d=dirlink") << none
                                             << QStringList{"dirlink"};
    QTest::addRow("ticked link to a file") << QByteArray("/") << QByteArray("a=del&f=filelink")
                                           << QByteArray("1 file removed. ") << QStringList{"filelink"};
    QTest::addRow("ticked broken link") << QByteArray("/") << QByteArray("a=del&f=broken")
                                        << QByteArray("1 file removed. ") << QStringList{"broken"};
}

void TestFolderActions::deleteItems()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, form);
    QFETCH(QByteArray, message);
    QFETCH(QStringList, gone);
    for (const char *name : {"Music/Old/x.mp3", "Music/y.mp3", "a.txt", "b.txt", "with blank.txt", "ä.txt",
                             "inner/Sub/deep.txt", "inner/Sub/Deeper/x.txt", "inner/mine.txt", "Photos/own.jpg"})
        QVERIFY(web->write(QString::fromUtf8(name), "x"));
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
        all.sort();
        return all;
    };
    QStringList kept = files();
    kept.removeIf([&](const QString &name) {
        return std::any_of(gone.begin(), gone.end(), [&](const QString &g) { return name == g || name.startsWith(g + '/'); });
    });

    const HttpReply reply = client->post(target, form);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(messageOf(reply.body), message);
    QVERIFY(!reply.body.contains(web->share.toUtf8()));
    QCOMPARE(files(), kept);
    QCOMPARE(messageOf(client->get("/").body), QByteArray());
    QCOMPARE(TestServer::readFile(web->outsidePath("folder/inner/keep.txt")), QByteArray("k"));
    QCOMPARE(TestServer::readFile(web->outsidePath("secret.txt")), TestServer::Secret);
}

void TestFolderActions::createFolder_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("made");

    const QByteArray failed = "Create new folder failed";
    QTest::addRow("plus is a blank") << QByteArray("New+folder") << QByteArray("New folder created")
                                     << QStringLiteral("New folder");
    QTest::addRow("a file of that name") << QByteArray("a.txt") << failed << QString();
    QTest::addRow("existing folder") << QByteArray("Old") << QByteArray("Folder create failed: Folder exists")
                                     << QString();
    QTest::addRow("dot dot") << QByteArray("..") << failed << QString();
    QTest::addRow("climbing out") << QByteArray("..%2F..%2Fescaped") << failed << QString();
    QTest::addRow("a path") << QByteArray("x%2Fy") << failed << QString();
}

void TestFolderActions::createFolder()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, message);
    QFETCH(QString, made);
    QVERIFY(web->write("a.txt", "a"));
    QVERIFY(web->mkdir("Old"));
    const QStringList before = QDir(web->share).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const HttpReply reply = client->post("/", "a=cfd&f=" + name);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(messageOf(reply.body), message);
    QStringList after = QDir(web->share).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QVERIFY(made.isEmpty() || (QFileInfo(web->path(made)).isDir() && after.removeOne(made)));
    QCOMPARE(after, before);
    QVERIFY(!QFileInfo::exists(web->share + "/../escaped"));
}

void TestFolderActions::responsiveChanges_data()
{
    QTest::addColumn<QByteArray>("form");  // a form body, or for an upload the name of its file
    QTest::addColumn<bool>("upload");
    QTest::addColumn<QByteArray>("token"); // "page": the session's, "other": another session's
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QStringList>("present"); // afterwards; the rest of the share as it was
    QTest::addColumn<QStringList>("absent");

    const QStringList none;
    const QStringList untouched{"a.txt", "Old/b.txt"};
    const QByteArray del = "a=del&n=a.txt&n=Old";
    // Changes that another page cannot make: the token is the session's.
    QTest::addRow("delete with the page's token") << del << false << QByteArray("page") << 303
                                                  << QByteArray("2 deleted.") << none << untouched;
    QTest::addRow("delete without a token") << del << false << QByteArray() << 403 << QByteArray() << untouched << none;
    QTest::addRow("delete with another session's token") << del << false << QByteArray("other") << 403
                                                         << QByteArray() << untouched << none;
    QTest::addRow("upload without a token") << QByteArray("up.txt") << true << QByteArray() << 403 << QByteArray()
                                            << none << QStringList{"up.txt"};
    // A folder chosen whole: its files name the folders they lie in, made below this one.
    QTest::addRow("upload into new folders") << QByteArray("Trip/Day 1/up.txt") << true << QByteArray("page") << 303
                                             << QByteArray("File sent success.") << QStringList{"Trip/Day 1/up.txt"}
                                             << none;
    QTest::addRow("upload of a path leaving the folder") << QByteArray("Trip/../up.txt") << true << QByteArray("page")
                                                         << 303
                                                         << QByteArray("File send failed: Unsupported browser or no file selected.")
                                                         << none << QStringList{"Trip", "up.txt"};
    // Names that are not one, deleted or not, name nothing outside the folder.
    QTest::addRow("delete of names that are none") << QByteArray("a=del&n=..&n=Old/b.txt&n=%2E%2E%2Fa.txt")
                                                   << false << QByteArray("page") << 303
                                                   << QByteArray("0 deleted. Not deleted: .., Old/b.txt, ../a.txt.")
                                                   << untouched << none;
}

void TestFolderActions::responsiveChanges()
{
    QFETCH(QByteArray, form);
    QFETCH(bool, upload);
    QFETCH(QByteArray, token);
    QFETCH(int, code);
    QFETCH(QByteArray, message);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    web->config.pages = FolderPages::Responsive;
    QVERIFY(web->write("a.txt", "a"));
    QVERIFY(web->write("Old/b.txt", "b"));
    QVERIFY(web->write("Inner/c.txt", "c"));
    const QByteArray own = tokenOf(client->get("/").body);
    QCOMPARE(own.size(), 32);
    HttpClient other(web->port(), HttpClient::Browser);
    const QByteArray others = tokenOf(other.get("/").body);
    QVERIFY(!others.isEmpty() && others != own);
    const QByteArray given = token == "page" ? own : token == "other" ? others : token == "short" ? own.chopped(1)
                                                                                                   : QByteArray();

    const HttpReply reply =
        upload ? client->multipart(given.isEmpty() ? "/" : "/?t=" + given, "multipart/form-data; boundary=XyZ",
                                   multipartBody("XyZ", form, "uploaded"))
               : client->post("/", given.isEmpty() ? form : form + "&t=" + given);
    QCOMPARE(reply.code, code);
    if (code == 303)
        QCOMPARE(reply.header("Location"), QByteArray("/"));
    // A file refused before its body: the server ends the connection after its answer.
    if (reply.header("Connection") == "close")
        client->waitClosed();
    QCOMPARE(noteOf(client->get("/").body), message);
    for (const QString &name : present)
        QVERIFY2(web->exists(name), qPrintable(name));
    for (const QString &name : absent)
        QVERIFY2(!web->exists(name), qPrintable(name));
    QVERIFY(web->exists(QStringLiteral("Inner/c.txt")));
}
void TestFolderActions::forms_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<QByteArray>("heading");

    QTest::addRow("upload, plus") << QByteArray("/a+b") << QByteArray("a=up") << QByteArray("<h2>Send file to /a b</h2>");
    QTest::addRow("upload, markup") << QByteArray("/%3Cx%3E%26") << QByteArray("a=up")
                                    << QByteArray("<h2>Send file to /&lt;x&gt;&amp;</h2>");
    QTest::addRow("new folder, markup") << QByteArray("/%22%3E") << QByteArray("a=cf")
                                        << QByteArray("<h2>Create new folder in /&quot;&gt;</h2>");
}

void TestFolderActions::forms()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, form);
    QFETCH(QByteArray, heading);
    const HttpReply reply = client->post(target, form);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(reply.header("Content-Type"), QByteArray("text/html; charset=UTF-8"));
    QVERIFY2(reply.body.contains(heading), reply.body.constData());
}

void TestFolderActions::launchFile_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("form");           // a=upfm: the launch file, a=upm: the applet page
    QTest::addColumn<QByteArrayList>("pieces"); // LOCAL: this listener's address, COOKIE: the session

    const auto launch = [](const QByteArray &base, const QByteArray &args) {
        return QByteArrayList{"<jnlp spec=\"1.0+\" codebase=\"" + base + "\">", "<argument>URL=" + base
                              + "</argument><argument>Cookie=COOKIE</argument>" + args + "</application-desc></jnlp>"};
    };
    const auto applet = [](const QByteArray &back, const QByteArray &params) {
        return QByteArrayList{"<a href=\"" + back + "\"><-Back</a>",
                              "<param name=Cookie value=\"COOKIE\">" + params + "Java not supported"};
    };
    const QByteArray file = "a=upfm";
    QTest::addRow("root") << QByteArray("/") << QByteArray("example.org:8080") << QByteArray() << file
                          << launch("http://example.org:8080/", {});
    QTest::addRow("/Music/ gets a second slash") << QByteArray("/Music/") << QByteArray("[::1]:80") << QByteArray()
        << file << launch("http://[::1]:80/", "<argument>Path=/Music//</argument>");
    QTest::addRow("markup in the path") << QByteArray("/%3Cx%3E%26") << QByteArray("h") << QByteArray() << file
                                        << launch("http://h/", "<argument>Path=/&lt;x&gt;&amp;/</argument>");
    // An open share refuses such names before; behind a password they come this far.
    QTest::addRow("markup in the host") << QByteArray("/") << QByteArray("h\"><x a=\"") << QByteArray("anna:x") << file
                                        << launch("http://LOCAL/", "<argument>Aut=anna:x</argument>");
    QTest::addRow("no host") << QByteArray("/") << QByteArray() << QByteArray() << file << launch("http://LOCAL/", {});
    QTest::addRow("basic credentials") << QByteArray("/") << QByteArray("h") << QByteArray("anna:a&b") << file
                                       << launch("http://h/", "<argument>Aut=anna:a&amp;b</argument>");
    QTest::addRow("applet page, plus and markup") << QByteArray("/a+%22%3Cb%3E") << QByteArray("h") << QByteArray()
        << QByteArray("a=upm") << applet("/a%20%22%3Cb%3E", "<param name=Path value=\"/a &quot;&lt;b&gt;/\">");
    QTest::addRow("applet page, basic credentials") << QByteArray("/Music") << QByteArray("h") << QByteArray("anna:s\"3<")
        << QByteArray("a=upm")
        << applet("/Music", "<param name=Path value=\"/Music/\"><param name=Aut value=\"anna:s&quot;3&lt;\">");
}

void TestFolderActions::launchFile()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, host);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, form);
    QFETCH(QByteArrayList, pieces);
    web->config.allowedHosts = QStringList{QStringLiteral("example.org"), QStringLiteral("::1"), QStringLiteral("h")};
    if (!user.isEmpty()) {
        web->config.authMode = AuthMode::Basic;
        web->config.users = QStringList{QString::fromLatin1(user)};
    }
    const bool applet = form == "a=upm";
    if (applet)
        QVERIFY(web->mkdir(QString::fromUtf8(QByteArray::fromPercentEncoding(target)).replace(u'+', u' ')));
    const QByteArray auth = user.isEmpty() ? QByteArray() : basicAuth(user);
    QVERIFY(client->get("/", auth).status == "200 OK");
    const HttpReply reply = client->exchange("POST " + target + " HTTP/1.1\r\n"
                                             + (host.isEmpty() ? QByteArray() : "Host: " + host + "\r\n") + "Cookie: "
                                             + client->cookie + "\r\n" + auth + "Content-Type: application/"
                                             "x-www-form-urlencoded\r\nContent-Length: "
                                             + QByteArray::number(form.size()) + "\r\n\r\n" + form);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(reply.header("Content-Type"), applet ? QByteArray("text/html; charset=UTF-8")
                                                  : QByteArray("application/x-java-jnlp-file; charset=UTF-8"));
    if (!applet)
        QCOMPARE(reply.header("Content-Disposition"), QByteArray("attachment; filename=\"filemanager.jnlp\""));
    for (QByteArray piece : pieces) {
        piece.replace("LOCAL", "127.0.0.1:" + QByteArray::number(web->port())).replace("COOKIE", client->cookie.mid(3));
        QVERIFY2(reply.body.contains(piece), reply.body.constData());
    }
}

void TestFolderActions::launchFileSecure()
{
    web = std::make_unique<TestServer>();
    web->config.allowedHosts = QStringList{QStringLiteral("secure.example")};
    QVERIFY(web->startTls());
    HttpClient secure(web->port(), HttpClient::Tls);
    const HttpReply reply = secure.exchange("POST / HTTP/1.1\r\nHost: secure.example:8443\r\nContent-Type: "
                                            "application/x-www-form-urlencoded\r\nContent-Length: 6\r\n\r\na=upfm");
    QVERIFY2(reply.body.contains("codebase=\"https://secure.example:8443/\""), reply.body.constData());
    QVERIFY(reply.body.contains("<argument>URL=https://secure.example:8443/</argument>"));
}

void TestFolderActions::archive_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("disposition");
    QTest::addColumn<QStringList>("entries"); // path and size
    QTest::addColumn<int>("emptyFiles");       // made in many/ for the row

    // The share: a.txt, .hidden.txt (the listing shows hidden files), big.bin (100,000 bytes: the
    // socket sends it), Photos/ with 1.jpg, 2.jpg, Old/3.jpg and the empty folder Empty/, and
    // 日本/ with "ä ö.txt".
    const QStringList photos{"1.jpg 1", "2.jpg 2", "Empty/ 0", "Old/ 0", "Old/3.jpg 3"};
    QStringList all{".hidden.txt 1", "Photos/ 0"};
    for (const QString &photo : photos)
        all.append("Photos/" + photo);
    all += QStringList{"a.txt 1", "big.bin 100000", "日本/ 0", "日本/ä ö.txt 6"};
    const auto named = [](const QByteArray &name) { return "attachment; filename=\"" + name + ".zip\""; };

    QTest::addRow("a folder") << QByteArray("/Photos/?a=zip") << QByteArray("200") << named("Photos") << photos << 0;
    QTest::addRow("the shared folder, named after the share") << QByteArray("/?a=zip") << QByteArray("200")
                                                              << named("share") << all << 0;
    QTest::addRow("names outside Latin-1") << QByteArray("/%E6%97%A5%E6%9C%AC/?a=zip") << QByteArray("200")
        << QByteArray("attachment; filename=\"??.zip\"; filename*=UTF-8''%E6%97%A5%E6%9C%AC.zip")
        << QStringList{"ä ö.txt 6"} << 0;
    QTest::addRow("a selection") << QByteArray("/?a=zip&n=a.txt&n=Photos&n=a.txt") << QByteArray("200")
                                 << named("share") << (QStringList{"Photos/ 0"} + all.mid(2, 5) + QStringList{"a.txt 1"})
                                 << 0;
    QTest::addRow("more than 65,535 entries") << QByteArray("/many/?a=zip") << QByteArray("200") << named("many")
                                              << QStringList() << 65536;
    QTest::addRow("a name with a slash") << QByteArray("/?a=zip&n=Photos%2F1.jpg") << QByteArray("400") << QByteArray()
                                         << QStringList() << 0;
    QTest::addRow("the parent") << QByteArray("/Photos/?a=zip&n=..") << QByteArray("400") << QByteArray()
                                << QStringList() << 0;
    QTest::addRow("a name that is not there") << QByteArray("/?a=zip&n=a.txt&n=none") << QByteArray("404")
                                              << QByteArray() << QStringList() << 0;
}
QStringList TestFolderActions::readArchive(const QByteArray &url, const QString &zip)
{
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(ReadArchive),
                                             QString::fromLatin1(url), zip});
    // While the event loop turns, the server answers.
    if (!QTest::qWaitFor([&python] { return python.state() == QProcess::NotRunning; }, 120000))
        return {QStringLiteral("timeout")};
    const QByteArray errors = python.readAllStandardError();
    return QString::fromUtf8(errors + python.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

void TestFolderActions::archive()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, disposition);
    QFETCH(QStringList, entries);
    QFETCH(int, emptyFiles);
    QVERIFY(web->write("a.txt", "a"));
    QVERIFY(web->write(".hidden.txt", "h"));
    QVERIFY(web->write("big.bin", bigData(100000)));
    QVERIFY(web->write("Photos/1.jpg", "1"));
    QVERIFY(web->write("Photos/2.jpg", "22"));
    QVERIFY(web->write("Photos/Old/3.jpg", "333"));
    QVERIFY(web->mkdir("Photos/Empty"));
    QVERIFY(web->write("日本/ä ö.txt", "umlaut"));
    for (int i = 0; i < emptyFiles; ++i) {
        const QString name = QString::asprintf("many/%05d", i);
        QVERIFY(web->write(name, ""));
        entries.append(name.mid(5) + " 0");
    }
    QDirIterator it(web->share, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        QVERIFY(web->setModified(QDir(web->share).relativeFilePath(it.next()), ArchiveTime));

    const QString zip = web->dir.filePath("download.zip");
    const QStringList lines = readArchive(web->base() + target, zip);
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.first(), "status " + status);
    if (status != "200")
        return;
    QStringList expected{"disposition " + disposition, "length True"};
    const QString dos = QDateTime::fromSecsSinceEpoch(ArchiveTime).toString(u"yyyy-MM-dd HH:mm:ss");
    for (const QString &entry : entries) {
        const qsizetype blank = entry.lastIndexOf(u' ');
        const bool folder = entry.at(blank - 1) == u'/';
        expected.append(QStringList{"entry", entry.left(blank), entry.mid(blank + 1), QString::number(ArchiveTime), dos,
                                    folder ? "0x800" : "0x808", "0"}.join(u'\t'));
    }
    expected += QStringList{"zipfile None", "unzip 0"};
    QCOMPARE(lines.mid(1), expected);
}

// An archive past 4 GiB (a file of 4 GiB and 5 bytes, and one whose local header lies beyond
// 4 GiB) as the server lays it out, its records written into a sparse file at their offsets:
// the readers find every size and offset without the gigabytes being sent.
void TestFolderActions::archivePast4GiB()
{
    constexpr qint64 Huge = 4294967301;
    ZipArchive layout;
    QVERIFY(layout.add("big", ZipArchive::NoParent, 0, ArchiveTime, 0755, true));
    QVERIFY(layout.add("huge.bin", 0, Huge, ArchiveTime, 0644, false));
    QVERIFY(layout.add("z.txt", 0, 1, ArchiveTime, 0644, false));
    const qint64 length = layout.layout();
    QFile file(web->dir.filePath("layout.zip"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QByteArray central;
    for (qsizetype i = 0; i < layout.count(); ++i) {
        QByteArray head;
        QByteArray tail;
        layout.appendLocalHeader(&head, i);
        if (ZipArchive::hasDescriptor(layout.at(i)))
            layout.appendDescriptor(&tail, i);
        QVERIFY(file.seek(layout.at(i).offset) && file.write(head) == head.size());
        QVERIFY(file.seek(file.pos() + layout.at(i).size) && file.write(tail) == tail.size());
        layout.appendCentralRecord(&central, i);
    }
    layout.appendEnd(&central);
    QVERIFY(file.write(central) == central.size());
    QCOMPARE(file.size(), length);
    file.close();
    const QString dos = QDateTime::fromSecsSinceEpoch(ArchiveTime).toString(u"yyyy-MM-dd HH:mm:ss");
    const auto entry = [&](const char *name, qint64 size, qint64 offset, const char *flags) {
        return QStringList{"entry", name, QString::number(size), QString::number(offset), dos, flags, "0"}.join(u'\t');
    };
    QCOMPARE(readArchive("-", file.fileName()),
             (QStringList{entry("big/", 0, 0, "0x800"), entry("big/huge.bin", Huge, layout.at(1).offset, "0x808"),
                          entry("big/z.txt", 1, layout.at(2).offset, "0x808"), "unzip 0"}));
    QVERIFY(layout.at(2).offset > Huge);
}

void TestFolderActions::findByName_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<bool>("folders");   // the profile shows folders
    QTest::addColumn<int>("pageSize");   // set in the session first (0: the default)
    QTest::addColumn<int>("maxVisited"); // the bounds (0: as they are)
    QTest::addColumn<int>("maxMatches");
    QTest::addColumn<QByteArrayList>("found"); // the links, in order
    QTest::addColumn<bool>("cut");
    QTest::addColumn<QByteArray>("pages");

    const QByteArrayList beach{"/.beach-hidden", "/Notes/beachy.md", "/Photos/beach-2.jpg", "/Photos/Beach.JPG",
                               "/Photos/Old/BEACHES"};
    QTest::addRow("ignoring case, below, folders too") << QByteArray("/?a=find&q=beach") << true << 0 << 0 << 0
                                                       << beach << false << QByteArray();
    QTest::addRow("in a folder") << QByteArray("/Photos/?a=find&q=BEACH") << true << 0 << 0 << 0 << beach.mid(2)
                                 << false << QByteArray();
    QTest::addRow("folders not shown: this folder's files") << QByteArray("/?a=find&q=a") << false << 0 << 0 << 0
                                                            << QByteArrayList{"/.beach-hidden", "/a.txt"} << false
                                                            << QByteArray();
    QTest::addRow("paged like the folder") << QByteArray("/?a=find&q=beach&p=1") << true << 2 << 0 << 0
        << beach.mid(2, 2) << false
        << QByteArray("<td>Pages: <a href=\"?a=find&amp;q=beach&amp;p=0\">1</a> <b>2</b> "
                      "<a href=\"?a=find&amp;q=beach&amp;p=2\">3</a> </td>");
    QTest::addRow("bounded in matches") << QByteArray("/?a=find&q=beach") << true << 0 << 0 << 2 << beach.mid(0, 2)
                                        << true << QByteArray();
    QTest::addRow("bounded in entries") << QByteArray("/?a=find&q=beach") << true << 0 << 3 << 0 << beach.mid(0, 2)
                                        << true << QByteArray();
    QTest::addRow("markup in the text") << QByteArray("/?a=find&q=%3Cb%3E%22") << true << 0 << 0 << 0
                                        << QByteArrayList() << false << QByteArray();
}

void TestFolderActions::findByName()
{
    QFETCH(QByteArray, target);
    QFETCH(bool, folders);
    QFETCH(int, pageSize);
    QFETCH(int, maxVisited);
    QFETCH(int, maxMatches);
    QFETCH(QByteArrayList, found);
    QFETCH(bool, cut);
    QFETCH(QByteArray, pages);
    web->config.showFolders = folders ? CheckState::On : CheckState::Off;
    QVERIFY(web->restart());
    client = std::make_unique<HttpClient>(web->port(), HttpClient::Browser);
    const qint64 visited = NameSearch::maxVisited;
    const qsizetype matches = NameSearch::maxMatches;
    const auto restore = qScopeGuard([=] {
        NameSearch::maxVisited = visited;
        NameSearch::maxMatches = matches;
    });
    if (maxVisited > 0)
        NameSearch::maxVisited = maxVisited;
    if (maxMatches > 0)
        NameSearch::maxMatches = maxMatches;
    QVERIFY(web->write("a.txt", "a"));
    QVERIFY(web->write(".beach-hidden", "h"));
    QVERIFY(web->write("Notes/beachy.md", "n"));
    QVERIFY(web->write("Photos/Beach.JPG", "1"));
    QVERIFY(web->write("Photos/beach-2.jpg", "2"));
    QVERIFY(web->write("Photos/Old/x.txt", "x"));
    QVERIFY(web->mkdir("Photos/Old/BEACHES"));
    // A link to a folder is listed as an entry, never walked into.
    QVERIFY(QFile::link(web->path("Photos"), web->path("Notes/later")));
    if (pageSize > 0)
        QCOMPARE(client->post("/", "a=c&cv=" + QByteArray::number(pageSize)).status, QByteArray("200 OK"));

    const HttpReply reply = client->get(target);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(reply.header("Content-Type"), QByteArray("text/html; charset=UTF-8"));
    QByteArrayList links;
    static const QRegularExpression cell(QStringLiteral("<td align=\"center\" width=\"200\"><a href=\"([^\"]*)\">"));
    for (auto m = cell.globalMatch(QString::fromUtf8(reply.body)); m.hasNext();)
        links.append(m.next().captured(1).toUtf8());
    QCOMPARE(links, found);
    QCOMPARE(reply.body.contains("The search stopped early"), cut);
    QCOMPARE(reply.body.contains("<td>Pages: "), !pages.isEmpty());
    if (!pages.isEmpty())
        QVERIFY2(reply.body.contains(pages), reply.body.constData());
    // What was asked for shows, escaped, and only so.
    QVERIFY(!reply.body.contains("<b>\""));
}

QTEST_GUILESS_MAIN(TestFolderActions)
#include "tst_folderactions.moc"
