#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "web/namesearch.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

// An archive as two readers that have nothing to do with the server see it. Python fetches it
// into a sparse file (gigabytes of zeros cost little) and lists it with its zipfile module,
// one line per entry: path, size, the time of the extended-timestamp field, the DOS time, the
// flags and the method; then zipfile and `unzip -t` check every entry's CRC.
const char ReadArchive[] = R"(
import struct, subprocess, sys, urllib.error, urllib.request, zipfile
url, path, large = sys.argv[1], sys.argv[2], sys.argv[3] == "large"
try:
    r = urllib.request.urlopen(url)
except urllib.error.HTTPError as e:
    print("status", e.code)
    sys.exit(0)
print("status", r.status)
print("disposition", r.headers.get("Content-Disposition"))
zero = bytes(1 << 20)
with open(path, "wb") as f:
    while True:
        b = r.read(1 << 20)
        if not b:
            break
        if b == zero[:len(b)]:
            f.seek(len(b), 1)
        else:
            f.write(b)
    f.truncate()
    print("length", f.tell() == int(r.headers["Content-Length"]))
with zipfile.ZipFile(path) as z:
    for i in z.infolist():
        ut, x = None, i.extra
        while len(x) >= 4:
            tag, size = struct.unpack("<HH", x[:4])
            if tag == 0x5455:
                ut = struct.unpack("<i", x[5:9])[0]
            x = x[4 + size:]
        print("entry", i.filename, i.file_size, ut, "%04d-%02d-%02d %02d:%02d:%02d" % i.date_time,
              hex(i.flag_bits), i.compress_type, sep="\t")
    print("zipfile", z.testzip())
# A large archive's data is read once (above): unzip reads its directory.
print("unzip", subprocess.run(["unzip", "-lqq" if large else "-tqq", path], stdout=subprocess.DEVNULL).returncode)
)";

// The time every entry of the archived folders has: an even second, as DOS times keep it.
constexpr qint64 ArchiveTime = 1700000002;

const QByteArray FormHead = "<html><head><title>Tessaly</title>";
const QByteArray CheckVal = "<script type=\"text/javascript\">function checkVal(val, msg){if(val == ''){alert(msg);"
                            "return false;}return true;}</script></head>";

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
    void deleteNamesRefused_data();
    void deleteNamesRefused();
    void deleteDoesNotFollowLinks_data();
    void deleteDoesNotFollowLinks();
    void createFolder_data();
    void createFolder();
    void responsiveChanges_data();
    void responsiveChanges();
    void createFolderRepeated();
    void loginAction();
    void pageParameterOnFile();
    void uploadForm_data();
    void uploadForm();
    void createForm_data();
    void createForm();
    void appletPage_data();
    void appletPage();
    void launchFile_data();
    void launchFile();
    void launchFileSecure();
    void pathOutsideShare();
    void archive_data();
    void archive();
    void findByName_data();
    void findByName();

private:
    HttpReply postAction(const QByteArray &target, const QByteArray &form);
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

HttpReply TestFolderActions::postAction(const QByteArray &target, const QByteArray &form)
{
    return client->post(target, form);
}

void TestFolderActions::deleteItems_data()
{
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QStringList>("gone");
    QTest::addColumn<QStringList>("kept");

    QTest::addRow("a folder with two files and a file") << QByteArray("a=del&d=Photos&f=a.txt")
        << QByteArray("3 file removed. ") << QStringList{"Photos", "a.txt"} << QStringList{"b.txt", "Music"};
    QTest::addRow("nested folders count every item") << QByteArray("a=del&d=Music")
        << QByteArray("3 file removed. ") << QStringList{"Music"} << QStringList{"Photos", "a.txt"};
    QTest::addRow("missing file is not counted") << QByteArray("a=del&f=none.txt&f=b.txt")
        << QByteArray("1 file removed. ") << QStringList{"b.txt"} << QStringList{"a.txt"};
    QTest::addRow("a folder ticked as a file") << QByteArray("a=del&f=Photos")
        << QByteArray("0 file removed. ") << QStringList{} << QStringList{"Photos", "Photos/1.jpg"};
    QTest::addRow("encoded names") << QByteArray("a=del&f=with+blank.txt&f=%C3%A4.txt")
        << QByteArray("2 file removed. ") << QStringList{"with blank.txt", "ä.txt"} << QStringList{"a.txt"};
    QTest::addRow("nothing ticked") << QByteArray("a=del") << QByteArray("0 file removed. ") << QStringList{}
                                    << QStringList{"a.txt", "Photos"};
}

void TestFolderActions::deleteItems()
{
    QFETCH(QByteArray, form);
    QFETCH(QByteArray, message);
    QFETCH(QStringList, gone);
    QFETCH(QStringList, kept);
    QVERIFY(web->write("Photos/1.jpg", "1"));
    QVERIFY(web->write("Photos/2.jpg", "2"));
    QVERIFY(web->write("Music/Old/x.mp3", "x"));
    QVERIFY(web->write("Music/y.mp3", "y"));
    QVERIFY(web->write("a.txt", "a"));
    QVERIFY(web->write("b.txt", "b"));
    QVERIFY(web->write("with blank.txt", "c"));
    QVERIFY(web->write("ä.txt", "d"));

    const HttpReply reply = postAction("/", form);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(messageOf(reply.body), message);
    for (const QString &name : gone)
        QVERIFY2(!web->exists(name), qPrintable(name));
    for (const QString &name : kept)
        QVERIFY2(web->exists(name), qPrintable(name));
    QCOMPARE(messageOf(client->get("/").body), QByteArray());
}

void TestFolderActions::deleteNamesRefused_data()
{
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<QByteArray>("message");

    // Posted to /inner; the share holds victim.txt and Keep/ beside inner/.
    QTest::addRow("file up a level") << QByteArray("a=del&f=../victim.txt") << QByteArray("0 file removed. ");
    QTest::addRow("file through a slash") << QByteArray("a=del&f=Sub/deep.txt") << QByteArray("0 file removed. ");
    QTest::addRow("encoded slash") << QByteArray("a=del&f=..%2Fvictim.txt") << QByteArray("0 file removed. ");
    QTest::addRow("file named dot") << QByteArray("a=del&f=.") << QByteArray("0 file removed. ");
    QTest::addRow("empty file name") << QByteArray("a=del&f=") << QByteArray("0 file removed. ");
    QTest::addRow("folder up a level") << QByteArray("a=del&d=../Keep")
                                       << QByteArray(" delete /inner/../Keep failed,0 file removed. ");
    QTest::addRow("the folder itself") << QByteArray("a=del&d=.")
                                       << QByteArray(" delete /inner/. failed,0 file removed. ");
    QTest::addRow("the parent") << QByteArray("a=del&d=..")
                                << QByteArray(" delete /inner/.. failed,0 file removed. ");
    QTest::addRow("folder through a slash") << QByteArray("a=del&d=Sub/Deeper")
                                            << QByteArray(" delete /inner/Sub/Deeper failed,0 file removed. ");
    QTest::addRow("empty folder name") << QByteArray("a=del&d=") << QByteArray(" delete /inner/ failed,0 file removed. ");
    QTest::addRow("NUL in a name") << QByteArray("a=del&f=Sub%00") << QByteArray("0 file removed. ");
    QTest::addRow("markup in a refused name") << QByteArray("a=del&d=%3Cb%3E/x")
                                              << QByteArray(" delete /inner/&lt;b&gt;/x failed,0 file removed. ");
}

void TestFolderActions::deleteNamesRefused()
{
    QFETCH(QByteArray, form);
    QFETCH(QByteArray, message);
    QVERIFY(web->write("victim.txt", "v"));
    QVERIFY(web->write("Keep/k.txt", "k"));
    QVERIFY(web->write("inner/Sub/deep.txt", "d"));
    QVERIFY(web->write("inner/Sub/Deeper/x.txt", "x"));
    QVERIFY(web->write("inner/mine.txt", "m"));
    const HttpReply reply = postAction("/inner", form);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    // The message names the items as the share does, never where the server keeps them.
    QCOMPARE(messageOf(reply.body), message);
    QVERIFY(!reply.body.contains(web->share.toUtf8()));
    for (const char *name : {"victim.txt", "Keep/k.txt", "inner/Sub/deep.txt", "inner/Sub/Deeper/x.txt",
                             "inner/mine.txt"})
        QVERIFY2(web->exists(QString::fromLatin1(name)), name);
}

void TestFolderActions::deleteDoesNotFollowLinks_data()
{
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QStringList>("gone");

    QTest::addRow("links inside a folder") << QByteArray("a=del&d=Photos") << QByteArray("4 file removed. ")
                                           << QStringList{"Photos"};
    QTest::addRow("ticked link to a folder") << QByteArray("a=del&d=dirlink") << QByteArray("0 file removed. ")
                                             << QStringList{"dirlink"};
    QTest::addRow("ticked link to a file") << QByteArray("a=del&f=filelink") << QByteArray("1 file removed. ")
                                           << QStringList{"filelink"};
    QTest::addRow("ticked broken link") << QByteArray("a=del&f=broken") << QByteArray("1 file removed. ")
                                        << QStringList{"broken"};
}

void TestFolderActions::deleteDoesNotFollowLinks()
{
    QFETCH(QByteArray, form);
    QFETCH(QByteArray, message);
    QFETCH(QStringList, gone);
    QTemporaryDir outside;
    QVERIFY(QDir().mkpath(outside.filePath("folder/inner")));
    QFile target(outside.filePath("folder/inner/keep.txt"));
    QVERIFY(target.open(QIODevice::WriteOnly));
    target.close();
    QFile single(outside.filePath("single.txt"));
    QVERIFY(single.open(QIODevice::WriteOnly));
    single.close();

    QVERIFY(web->write("Photos/own.jpg", "x"));
    QVERIFY(QFile::link(outside.filePath("folder"), web->path("Photos/to-folder")));
    QVERIFY(QFile::link(outside.filePath("single.txt"), web->path("Photos/to-file")));
    QVERIFY(QFile::link(outside.filePath("nothing"), web->path("Photos/broken")));
    QVERIFY(QFile::link(outside.filePath("folder"), web->path("dirlink")));
    QVERIFY(QFile::link(outside.filePath("single.txt"), web->path("filelink")));
    QVERIFY(QFile::link(outside.filePath("nothing"), web->path("broken")));

    const HttpReply reply = postAction("/", form);
    QCOMPARE(messageOf(reply.body), message);
    for (const QString &name : gone)
        QVERIFY2(!web->exists(name), qPrintable(name));
    QVERIFY(QFileInfo::exists(outside.filePath("folder/inner/keep.txt")));
    QVERIFY(QFileInfo::exists(outside.filePath("single.txt")));
}

void TestFolderActions::createFolder_data()
{
    QTest::addColumn<bool>("upload");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("made");

    QTest::addRow("plus is a blank") << true << QByteArray("New+folder") << QByteArray("New folder created")
                                     << QStringLiteral("New folder");
    QTest::addRow("letters outside ASCII") << true << QByteArray("%C3%84rger") << QByteArray("New folder created")
                                           << QStringLiteral("Ärger");
    QTest::addRow("a file of that name") << true << QByteArray("a.txt") << QByteArray("Create new folder failed")
                                         << QString();
    QTest::addRow("existing folder") << true << QByteArray("Old") << QByteArray("Folder create failed: Folder exists")
                                     << QString();
    QTest::addRow("empty name") << true << QByteArray("") << QByteArray("Create new folder failed") << QString();
    QTest::addRow("dot dot") << true << QByteArray("..") << QByteArray("Create new folder failed") << QString();
    QTest::addRow("climbing out") << true << QByteArray("..%2F..%2Fescaped") << QByteArray("Create new folder failed")
                                  << QString();
    QTest::addRow("a path") << true << QByteArray("x%2Fy") << QByteArray("Create new folder failed") << QString();
}

void TestFolderActions::createFolder()
{
    QFETCH(bool, upload);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, message);
    QFETCH(QString, made);
    web->config.enableUpload = upload ? CheckState::On : CheckState::Off;
    QVERIFY(web->write("a.txt", "a"));
    QVERIFY(web->mkdir("Old"));
    QVERIFY(web->mkdir("inner"));
    const QStringList before = QDir(web->share).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const HttpReply reply = postAction("/", "a=cfd&f=" + name);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(messageOf(reply.body), message);
    QStringList after = QDir(web->share).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    if (!made.isEmpty()) {
        QVERIFY(QFileInfo(web->path(made)).isDir());
        after.removeOne(made);
    }
    QCOMPARE(after, before);
    QVERIFY(!QFileInfo::exists(web->share + "/../escaped"));
    QVERIFY(!QFileInfo::exists(web->path("x")));
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
    QTest::addRow("delete with the token cut short") << del << false << QByteArray("short") << 403 << QByteArray()
                                                     << untouched << none;
    QTest::addRow("new folder without a token") << QByteArray("a=cfd&f=New") << false << QByteArray() << 403
                                                << QByteArray() << none << QStringList{"New"};
    QTest::addRow("new folder with the token") << QByteArray("a=cfd&f=New") << false << QByteArray("page") << 303
                                               << QByteArray("New folder created") << QStringList{"New"} << none;
    QTest::addRow("upload without a token") << QByteArray("up.txt") << true << QByteArray() << 403 << QByteArray()
                                            << none << QStringList{"up.txt"};
    QTest::addRow("upload with the token") << QByteArray("up.txt") << true << QByteArray("page") << 303
                                           << QByteArray("File sent success.") << QStringList{"up.txt"} << none;
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

void TestFolderActions::createFolderRepeated()
{
    QCOMPARE(messageOf(postAction("/", "a=cfd&f=New+folder").body), QByteArray("New folder created"));
    QCOMPARE(messageOf(postAction("/", "a=cfd&f=New+folder").body), QByteArray("Folder create failed: Folder exists"));
    QCOMPARE(messageOf(postAction("/New%20folder", "a=cfd&f=Inner").body), QByteArray("New folder created"));
    QVERIFY(QFileInfo(web->path("New folder/Inner")).isDir());
}

void TestFolderActions::loginAction()
{
    QVERIFY(web->write("a.txt", "a"));
    const QByteArray page = client->get("/").body;
    const HttpReply reply = postAction("/", "a=log&password=x");
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(reply.body, page);
}

void TestFolderActions::pageParameterOnFile()
{
    for (int i = 0; i < 30; ++i)
        QVERIFY(web->write(QString::asprintf("f%02d", i), "x"));
    HttpReply reply = client->get("/f01?a=p&p=1");
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(reply.body, QByteArray("x"));
    // The page was not changed by it.
    QVERIFY(client->get("/").body.contains("<b>1</b>"));
    QVERIFY(client->get("/?a=p&p=1").body.contains("<b>2</b>"));
}

void TestFolderActions::uploadForm_data()
{
    QTest::addColumn<bool>("pictures");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("heading");

    QTest::addRow("root") << false << QByteArray("/") << QByteArray("Send file");
    QTest::addRow("folder with a plus") << false << QByteArray("/a+b") << QByteArray("Send file to /a b");
    QTest::addRow("markup in the path") << true << QByteArray("/%3Cx%3E%26") << QByteArray("Send file to /&lt;x&gt;&amp;");
}

void TestFolderActions::uploadForm()
{
    QFETCH(bool, pictures);
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, heading);
    web->config.showImages = pictures ? CheckState::On : CheckState::Off;
    const HttpReply reply = postAction(target, "a=up");
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(reply.header("Content-Type"), QByteArray("text/html; charset=UTF-8"));
    const QByteArray body = pictures ? "<body background=\"/_i/sand-light.jpg\">" : "<body>";
    QCOMPARE(reply.body, FormHead + "<title>Upload</title>" + CheckVal + body + "<center><h2>" + heading
             + "</h2><form method=\"POST\" name=\"up\" enctype=\"multipart/form-data\"><table border=\"0\" "
               "cellspacing=\"5\"><tr><th align=\"right\">File:</th><td align=\"left\"><input type=\"file\" "
               "name=\"f\" size=\"40\"></td></tr></table><input type=\"submit\" name=\"submit\" value=\"Send\" "
               "onclick=\"return checkVal(up.f.value, 'No selected file');\">&nbsp;&nbsp;&nbsp;<input "
               "type=\"button\" value=\"Back\" onclick=\"javascript: history.go(-1);\"/></form></center></body></html>");
}

void TestFolderActions::createForm_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("heading");
    QTest::addRow("root") << QByteArray("/") << QByteArray("Create new folder");
    QTest::addRow("folder with a plus") << QByteArray("/a+b") << QByteArray("Create new folder in /a b");
    QTest::addRow("markup in the path") << QByteArray("/%22%3E") << QByteArray("Create new folder in /&quot;&gt;");
}

void TestFolderActions::createForm()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, heading);
    const HttpReply reply = postAction(target, "a=cf");
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(reply.body, FormHead + "<title>Create Folder</title>" + CheckVal + "<body><center><h2>" + heading
             + "</h2><form method=\"POST\" name=\"cf\" onsubmit=\"return checkVal(cf.f.value, 'No folder name')\">"
               "<table border=\"0\" cellspacing=\"5\"><tr><th align=\"right\">New folder name:</th><td align=\"left\">"
               "<input type=\"text\" name=\"f\" size=\"40\"></td></tr></table><input type=\"submit\" name=\"submit\" "
               "value=\"Create\">&nbsp;&nbsp;&nbsp;<input type=\"hidden\" name=\"a\" value=\"cfd\"><input "
               "type=\"button\" value=\"Back\" onclick=\"javascript: history.go(-1);\"/></form></center></body></html>");
}

void TestFolderActions::appletPage_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("back");
    QTest::addColumn<QByteArray>("params"); // after the Cookie parameter

    QTest::addRow("root") << QByteArray("/") << QByteArray() << QByteArray("/") << QByteArray();
    QTest::addRow("/Music") << QByteArray("/Music") << QByteArray() << QByteArray("/Music")
                            << QByteArray("<param name=Path value=\"/Music/\">");
    QTest::addRow("/Music/") << QByteArray("/Music/") << QByteArray() << QByteArray("/Music/")
                             << QByteArray("<param name=Path value=\"/Music/\">");
    QTest::addRow("plus and markup") << QByteArray("/a+%22%3Cb%3E") << QByteArray() << QByteArray("/a%20%22%3Cb%3E")
                                     << QByteArray("<param name=Path value=\"/a &quot;&lt;b&gt;/\">");
    QTest::addRow("basic credentials") << QByteArray("/Music") << QByteArray("anna:s\"3<") << QByteArray("/Music")
        << QByteArray("<param name=Path value=\"/Music/\"><param name=Aut value=\"anna:s&quot;3&lt;\">");
}

void TestFolderActions::appletPage()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, back);
    QFETCH(QByteArray, params);
    if (!user.isEmpty()) {
        web->config.authMode = AuthMode::Basic;
        web->config.users = QStringList{QString::fromLatin1(user)};
    }
    QVERIFY(web->mkdir(QString::fromUtf8(QByteArray::fromPercentEncoding(target)).replace(u'+', u' ')));
    QVERIFY(client->get("/", user.isEmpty() ? QByteArray() : basicAuth(user)).status == "200 OK");
    const QByteArray id = client->cookie.mid(3);
    QByteArray request = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + client->cookie + "\r\n";
    if (!user.isEmpty())
        request += basicAuth(user);
    request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 5\r\n\r\na=upm";
    const HttpReply reply = client->exchange(request);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(reply.header("Content-Type"), QByteArray("text/html; charset=UTF-8"));
    QCOMPARE(reply.body,
             "<html><head><title>Tessaly</title></head><body onResize=\"resize()\" onLoad=\"resize()\" topmargin=\"0\" "
             "leftmargin=\"0\" marginwidth=\"0\" marginheight=\"0\"><script type=\"text/javascript\">function resize()"
             "{var w,h;var mw=1600,mh=1200;if (navigator.appName.indexOf(\"Microsoft\") != -1){w=document.body."
             "clientWidth;h=document.body.clientHeight;}else{w=window.innerWidth;h=window.innerHeight;}if(w>mw)w=mw;"
             "if(h>mh)h=mh;h=h-40;document.mc.setSize(w,h);window.scroll(0,0);}window.onResize=resize;window.onLoad="
             "resize;document.body.style.overflow='hidden';</script><a href=\"" + back + "\"><-Back</a>&nbsp;&nbsp;"
             "&nbsp;File manager for copy selected files and folders<br><APPLET name=\"mc\" archive=\"/_i/"
             "KestruneClient.jar\" code=\"kestruneclient/KestruneApplet.class\" width=1600 height=1200><param "
             "name=Cookie value=\"" + id + "\">" + params + "Java not supported in this browser.<br>Use Firefox, "
             "Crome, or IE.</APPLET></body></html>");
}

void TestFolderActions::launchFile_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("base"); // LOCAL stands for this listener's address and port
    QTest::addColumn<QByteArray>("args"); // after the Cookie argument

    QTest::addRow("root") << QByteArray("/") << QByteArray("example.org:8080") << QByteArray()
                          << QByteArray("http://example.org:8080/") << QByteArray();
    QTest::addRow("/Music") << QByteArray("/Music") << QByteArray("192.168.1.5:8080") << QByteArray()
                            << QByteArray("http://192.168.1.5:8080/") << QByteArray("<argument>Path=/Music/</argument>");
    QTest::addRow("/Music/ gets a second slash") << QByteArray("/Music/") << QByteArray("[::1]:80") << QByteArray()
        << QByteArray("http://[::1]:80/") << QByteArray("<argument>Path=/Music//</argument>");
    QTest::addRow("plus stays") << QByteArray("/a+b") << QByteArray("h") << QByteArray() << QByteArray("http://h/")
                                << QByteArray("<argument>Path=/a+b/</argument>");
    QTest::addRow("markup in the path") << QByteArray("/%3Cx%3E%26") << QByteArray("h") << QByteArray()
        << QByteArray("http://h/") << QByteArray("<argument>Path=/&lt;x&gt;&amp;/</argument>");
    // An open share refuses such names before; behind a password they come this far.
    QTest::addRow("markup in the host") << QByteArray("/") << QByteArray("h\"><x a=\"") << QByteArray("anna:x")
                                        << QByteArray("http://LOCAL/") << QByteArray("<argument>Aut=anna:x</argument>");
    QTest::addRow("path in the host") << QByteArray("/") << QByteArray("evil.example/x") << QByteArray("anna:x")
                                      << QByteArray("http://LOCAL/") << QByteArray("<argument>Aut=anna:x</argument>");
    QTest::addRow("no host") << QByteArray("/") << QByteArray() << QByteArray() << QByteArray("http://LOCAL/")
                             << QByteArray();
    QTest::addRow("basic credentials") << QByteArray("/") << QByteArray("h") << QByteArray("anna:a&b")
                                       << QByteArray("http://h/") << QByteArray("<argument>Aut=anna:a&amp;b</argument>");
}

void TestFolderActions::launchFile()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, host);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, base);
    QFETCH(QByteArray, args);
    web->config.allowedHosts = QStringList{QStringLiteral("example.org"), QStringLiteral("192.168.1.5"),
                                           QStringLiteral("::1"), QStringLiteral("h")};
    if (!user.isEmpty()) {
        web->config.authMode = AuthMode::Basic;
        web->config.users = QStringList{QString::fromLatin1(user)};
    }
    QVERIFY(client->get("/", user.isEmpty() ? QByteArray() : basicAuth(user)).status == "200 OK");
    const QByteArray id = client->cookie.mid(3);
    QByteArray request = "POST " + target + " HTTP/1.1\r\n";
    if (!host.isEmpty())
        request += "Host: " + host + "\r\n";
    request += "Cookie: " + client->cookie + "\r\n";
    if (!user.isEmpty())
        request += basicAuth(user);
    request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 6\r\n\r\na=upfm";
    const HttpReply reply = client->exchange(request);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    QCOMPARE(reply.header("Content-Type"), QByteArray("application/x-java-jnlp-file; charset=UTF-8"));
    QCOMPARE(reply.header("Content-Disposition"), QByteArray("attachment; filename=\"filemanager.jnlp\""));
    base.replace("LOCAL", "127.0.0.1:" + QByteArray::number(web->port()));
    QCOMPARE(reply.body,
             "<?xml version=\"1.0\" encoding=\"utf-8\"?><jnlp spec=\"1.0+\" codebase=\"" + base + "\"><information>"
             "<title>Tessaly</title><vendor>Orvane</vendor><homepage href=\"http://tessaly.net/\" /><description>"
             "Tessaly client filemanager</description></information><security><all-permissions/></security>"
             "<resources><j2se version=\"1.5+\" href=\"http://java.sun.com/products/autodl/j2se\" java-vm-args=\""
             "-client\"><property name=\"http.keepAlive\" value=\"true\"/></j2se><jar href=\"/_i/KestruneClient.jar\" "
             "main=\"true\" download=\"eager\" /></resources><application-desc name=\"Tessaly\" main-class=\""
             "kestruneclient.KestruneApplet\"><argument>URL=" + base + "</argument><argument>Cookie=" + id
             + "</argument>" + args + "</application-desc></jnlp>");
}

void TestFolderActions::launchFileSecure()
{
    web->config.sslMode = CheckState::On;
    web->config.keyFile = qEnvironmentVariable("TESSALY_BUILD_DIR") + "/tests/ssl.pem";
    web->config.keyPassword = QStringLiteral("k4m5n6");
    web->config.allowedHosts = QStringList{QStringLiteral("secure.example")};
    QVERIFY(web->restart());
    QSslSocket socket;
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), web->port());
    QVERIFY(QTest::qWaitFor([&] { return socket.isEncrypted(); }, 10000));
    socket.write("POST / HTTP/1.1\r\nHost: secure.example:8443\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                 "Content-Length: 6\r\n\r\na=upfm");
    QByteArray received;
    QVERIFY(QTest::qWaitFor([&] {
        received += socket.readAll();
        return received.contains("</jnlp>");
    }, 10000));
    QVERIFY(received.contains("codebase=\"https://secure.example:8443/\""));
    QVERIFY(received.contains("<argument>URL=https://secure.example:8443/</argument>"));
}

void TestFolderActions::pathOutsideShare()
{
    QTemporaryDir outside;
    QVERIFY(QFile::link(outside.path(), web->path("out")));
    QVERIFY(web->write("a.txt", "a"));
    // A folder reached through a link that leaves the share: no action, no upload.
    HttpReply reply = postAction("/out", "a=cfd&f=made");
    QCOMPARE(reply.status, QByteArray("403 Forbidden"));
    QVERIFY(!QFileInfo::exists(outside.filePath("made")));
    const QByteArray body = multipartBody("XyZ", "up.txt", "data");
    HttpClient second(web->port(), HttpClient::Browser);
    reply = second.multipart("/out", "multipart/form-data; boundary=XyZ", body);
    QCOMPARE(reply.status, QByteArray("403 Forbidden"));
    QVERIFY(!QFileInfo::exists(outside.filePath("up.txt")));
}

void TestFolderActions::archive_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("disposition");
    QTest::addColumn<QStringList>("entries"); // path and size
    QTest::addColumn<int>("emptyFiles");       // made in many/ for the row
    QTest::addColumn<qint64>("sparse");        // the size of big/huge.bin, made for the row

    // The share: a.txt, .hidden.txt (the listing shows hidden files), big.bin (100,000 bytes: the
    // socket sends it), Photos/ with 1.jpg, 2.jpg, Old/3.jpg and the empty folder Empty/, and
    // 日本/ with "ä ö.txt".
    const QStringList photos{"1.jpg 1", "2.jpg 2", "Empty/ 0", "Old/ 0", "Old/3.jpg 3"};
    QStringList all{".hidden.txt 1", "Photos/ 0"};
    for (const QString &photo : photos)
        all.append("Photos/" + photo);
    all += QStringList{"a.txt 1", "big.bin 100000", "日本/ 0", "日本/ä ö.txt 6"};

    QTest::addRow("a folder") << QByteArray("/Photos/?a=zip") << QByteArray("200")
                              << QByteArray("attachment; filename=\"Photos.zip\"") << photos << 0 << qint64(0);
    QTest::addRow("a folder without its slash") << QByteArray("/Photos?a=zip") << QByteArray("200")
                                                << QByteArray("attachment; filename=\"Photos.zip\"") << photos << 0 << qint64(0);
    QTest::addRow("the shared folder, named after the share") << QByteArray("/?a=zip") << QByteArray("200")
                                                              << QByteArray("attachment; filename=\"share.zip\"") << all << 0 << qint64(0);
    QTest::addRow("names outside Latin-1") << QByteArray("/%E6%97%A5%E6%9C%AC/?a=zip") << QByteArray("200")
        << QByteArray("attachment; filename=\"??.zip\"; filename*=UTF-8''%E6%97%A5%E6%9C%AC.zip")
        << QStringList{"ä ö.txt 6"} << 0 << qint64(0);
    QTest::addRow("a selection") << QByteArray("/?a=zip&n=a.txt&n=Photos&n=a.txt") << QByteArray("200")
                                 << QByteArray("attachment; filename=\"share.zip\"")
                                 << (QStringList{"Photos/ 0"} + all.mid(2, 5) + QStringList{"a.txt 1"}) << 0 << qint64(0);
    QTest::addRow("a selection in a folder") << QByteArray("/Photos/?a=zip&n=Old&n=2.jpg") << QByteArray("200")
                                             << QByteArray("attachment; filename=\"Photos.zip\"")
                                             << QStringList{"2.jpg 2", "Old/ 0", "Old/3.jpg 3"} << 0 << qint64(0);
    QTest::addRow("more than 65,535 entries") << QByteArray("/many/?a=zip") << QByteArray("200")
                                              << QByteArray("attachment; filename=\"many.zip\"") << QStringList() << 65536 << qint64(0);
    // 4 GiB and 5 bytes, and a file whose local header lies beyond 4 GiB.
    QTest::addRow("past 4 GiB") << QByteArray("/big/?a=zip") << QByteArray("200")
                                << QByteArray("attachment; filename=\"big.zip\"")
                                << QStringList{"huge.bin 4294967301", "z.txt 1"} << 0 << qint64(4294967301);
    QTest::addRow("a name with a slash") << QByteArray("/?a=zip&n=Photos%2F1.jpg") << QByteArray("400") << QByteArray()
                                         << QStringList() << 0 << qint64(0);
    QTest::addRow("the parent") << QByteArray("/Photos/?a=zip&n=..") << QByteArray("400") << QByteArray()
                                << QStringList() << 0 << qint64(0);
    QTest::addRow("an empty name") << QByteArray("/?a=zip&n=") << QByteArray("400") << QByteArray() << QStringList() << 0 << qint64(0);
    QTest::addRow("a name that is not there") << QByteArray("/?a=zip&n=a.txt&n=none") << QByteArray("404")
                                              << QByteArray() << QStringList() << 0 << qint64(0);
    QTest::addRow("a folder that is not there") << QByteArray("/none/?a=zip") << QByteArray("404") << QByteArray()
                                                << QStringList() << 0 << qint64(0);
}

void TestFolderActions::archive()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, disposition);
    QFETCH(QStringList, entries);
    QFETCH(int, emptyFiles);
    QFETCH(qint64, sparse);
    if (sparse > 0) {
        QFile huge(web->path("big/huge.bin"));
        QVERIFY(web->mkdir("big") && huge.open(QIODevice::WriteOnly) && huge.resize(sparse - 5));
        QVERIFY(huge.seek(sparse - 5) && huge.write("tail!") == 5);
        huge.close();
        struct stat status;
        QVERIFY(::stat(QFile::encodeName(huge.fileName()).constData(), &status) == 0);
        if (qint64(status.st_blocks) * 512 > sparse / 2)
            QSKIP("this file system has no sparse files");
        QVERIFY(web->write("big/z.txt", "z"));
    }
    QVERIFY(web->write("a.txt", "a"));
    QVERIFY(web->write(".hidden.txt", "h"));
    QVERIFY(web->write("big.bin", bigData(100000)));
    QVERIFY(web->write("Photos/1.jpg", "1"));
    QVERIFY(web->write("Photos/2.jpg", "22"));
    QVERIFY(web->write("Photos/Old/3.jpg", "333"));
    QVERIFY(web->mkdir("Photos/Empty"));
    QVERIFY(web->write("日本/ä ö.txt", "umlaut"));
    if (emptyFiles > 0) {
        QVERIFY(web->mkdir("many"));
        for (int i = 0; i < emptyFiles; ++i) {
            const QString name = QString::asprintf("many/%05d", i);
            QFile file(web->path(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            entries.append(name.mid(5) + " 0");
        }
    }
    QDirIterator it(web->share, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        QVERIFY(web->setModified(QDir(web->share).relativeFilePath(it.next()), ArchiveTime));

    QProcess python;
    const QString zip = web->dir.filePath("download.zip");
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(ReadArchive),
                                             QString::fromLatin1(web->base() + target), zip,
                                             sparse > 0 ? QStringLiteral("large") : QStringLiteral("small")});
    // While the event loop turns, the server answers.
    QVERIFY(QTest::qWaitFor([&python] { return python.state() == QProcess::NotRunning; }, 240000));
    QCOMPARE(python.readAllStandardError(), QByteArray());
    const QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
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

    // HEAD tells what GET sends, without it.
    const HttpReply head = client->exchangeHead("HEAD " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    QCOMPARE(head.status, QByteArray("200 OK"));
    QCOMPARE(head.header("Content-Disposition"), disposition);
    QCOMPARE(head.contentLength(), QFileInfo(zip).size());
    QCOMPARE(head.header("Content-Type"), QByteArray("application/zip"));
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
    QTest::addRow("in a folder without its slash") << QByteArray("/Photos?a=find&q=Beach") << true << 0 << 0 << 0
                                                   << beach.mid(2) << false << QByteArray();
    QTest::addRow("folders not shown: this folder's files") << QByteArray("/?a=find&q=a") << false << 0 << 0 << 0
                                                            << QByteArrayList{"/.beach-hidden", "/a.txt"} << false
                                                            << QByteArray();
    QTest::addRow("paged like the folder") << QByteArray("/?a=find&q=beach&p=1") << true << 2 << 0 << 0
        << beach.mid(2, 2) << false
        << QByteArray("<td>Pages: <a href=\"?a=find&amp;q=beach&amp;p=0\">1</a> <b>2</b> "
                      "<a href=\"?a=find&amp;q=beach&amp;p=2\">3</a> </td>");
    QTest::addRow("a page beyond the last") << QByteArray("/?a=find&q=beach&p=7") << true << 2 << 0 << 0
        << beach.mid(0, 2) << false
        << QByteArray("<td>Pages: <b>1</b> <a href=\"?a=find&amp;q=beach&amp;p=1\">2</a> "
                      "<a href=\"?a=find&amp;q=beach&amp;p=2\">3</a> </td>");
    QTest::addRow("bounded in matches") << QByteArray("/?a=find&q=beach") << true << 0 << 0 << 2 << beach.mid(0, 2)
                                        << true << QByteArray();
    QTest::addRow("bounded in entries") << QByteArray("/?a=find&q=beach") << true << 0 << 3 << 0 << beach.mid(0, 2)
                                        << true << QByteArray();
    QTest::addRow("nothing found") << QByteArray("/?a=find&q=zebra") << true << 0 << 0 << 0 << QByteArrayList()
                                   << false << QByteArray();
    QTest::addRow("no text") << QByteArray("/?a=find&q=") << true << 0 << 0 << 0 << QByteArrayList() << false
                             << QByteArray();
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
    if (pageSize > 0)
        QCOMPARE(postAction("/", "a=c&cv=" + QByteArray::number(pageSize)).status, QByteArray("200 OK"));

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
