#include "httpclient.h"
#include "requests.h"
#include "testserver.h"

#include "web/ziparchive.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
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

} // namespace

class TestFolderActions : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void forms_data();
    void forms();
    void launchFileSecure();
    void archive_data();
    void archive();
    void archivePast4GiB();

private:
    QStringList readArchive(const QByteArray &url, const QString &zip);
    std::unique_ptr<TestServer> web;
    std::unique_ptr<HttpClient> client;
};

void TestFolderActions::init()
{
    client.reset();
    web.reset();
    web = std::make_unique<TestServer>();
    web->config.maxConnections = 30;
    web->config.showImages = CheckState::Off;
    QVERIFY(web->start());
    client = std::make_unique<HttpClient>(web->port(), HttpClient::Browser);
}

void TestFolderActions::forms_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("form"); // a=upfm: the launch file, a=upm: the applet page
    QTest::addColumn<QByteArrayList>("pieces"); // in the head or body; LOCAL: this listener, COOKIE: the session

    const auto row = [](const char *name, const QByteArray &target, const QByteArray &host, const QByteArray &user,
                        const QByteArray &form, const QByteArrayList &pieces) {
        QTest::newRow(name) << target << host << user << form << pieces;
    };
    const QByteArray html = "Content-Type: text/html; charset=UTF-8\r\n";
    row("upload, plus", "/a+b", "h", "", "a=up", {html, "<h2>Send file to /a b</h2>"});
    row("upload, markup", "/%3Cx%3E%26", "h", "", "a=up", {"<h2>Send file to /&lt;x&gt;&amp;</h2>"});
    row("new folder, markup", "/%22%3E", "h", "", "a=cf", {"<h2>Create new folder in /&quot;&gt;</h2>"});
    const auto launch = [](const QByteArray &base, const QByteArray &args) {
        return QByteArrayList{"Content-Type: application/x-java-jnlp-file; charset=UTF-8\r\n",
                              "Content-Disposition: attachment; filename=\"filemanager.jnlp\"\r\n",
                              "<jnlp spec=\"1.0+\" codebase=\"" + base + "\">", "<argument>URL=" + base
                              + "</argument><argument>Cookie=COOKIE</argument>" + args + "</application-desc></jnlp>"};
    };
    const auto applet = [&html](const QByteArray &back, const QByteArray &params) {
        return QByteArrayList{html, "<a href=\"" + back + "\"><-Back</a>",
                              "<param name=Cookie value=\"COOKIE\">" + params + "Java not supported"};
    };
    row("root", "/", "example.org:8080", "", "a=upfm", launch("http://example.org:8080/", {}));
    row("/Music/ gets a second slash", "/Music/", "[::1]:80", "", "a=upfm",
        launch("http://[::1]:80/", "<argument>Path=/Music//</argument>"));
    row("markup in the path", "/%3Cx%3E%26", "h", "", "a=upfm",
        launch("http://h/", "<argument>Path=/&lt;x&gt;&amp;/</argument>"));
    // An open share refuses such names before; behind a password they come this far.
    row("markup in the host", "/", "h\"><x a=\"", "anna:x", "a=upfm",
        launch("http://LOCAL/", "<argument>Aut=anna:x</argument>"));
    row("no host", "/", "", "", "a=upfm", launch("http://LOCAL/", {}));
    row("basic credentials", "/", "h", "anna:a&b", "a=upfm", launch("http://h/", "<argument>Aut=anna:a&amp;b</argument>"));
    row("applet page, plus and markup", "/a+%22%3Cb%3E", "h", "", "a=upm",
        applet("/a%20%22%3Cb%3E", "<param name=Path value=\"/a &quot;&lt;b&gt;/\">"));
    row("applet page, basic credentials", "/Music", "h", "anna:s\"3<", "a=upm",
        applet("/Music", "<param name=Path value=\"/Music/\"><param name=Aut value=\"anna:s&quot;3&lt;\">"));
}

void TestFolderActions::forms()
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
    QVERIFY(web->mkdir(QString::fromUtf8(QByteArray::fromPercentEncoding(target)).replace(u'+', u' ')));
    const QByteArray auth = user.isEmpty() ? QByteArray() : basicAuth(user);
    QVERIFY(client->get("/", auth).status == "200 OK");
    const HttpReply reply = client->exchange("POST " + target + " HTTP/1.1\r\n"
                                             + (host.isEmpty() ? QByteArray() : "Host: " + host + "\r\n") + "Cookie: "
                                             + client->cookie + "\r\n" + auth + "Content-Type: application/"
                                             "x-www-form-urlencoded\r\nContent-Length: "
                                             + QByteArray::number(form.size()) + "\r\n\r\n" + form);
    QCOMPARE(reply.status, QByteArray("200 OK"));
    for (QByteArray piece : pieces) {
        piece.replace("LOCAL", "127.0.0.1:" + QByteArray::number(web->port())).replace("COOKIE", client->cookie.mid(3));
        QVERIFY2((reply.head + reply.body).contains(piece), piece.constData());
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

    const auto row = [](const char *name, const QByteArray &target, const QByteArray &status,
                        const QByteArray &disposition = {}, const QStringList &entries = {}, int emptyFiles = 0) {
        QTest::newRow(name) << target << status << disposition << entries << emptyFiles;
    };
    row("a folder", "/Photos/?a=zip", "200", named("Photos"), photos);
    row("the shared folder, named after the share", "/?a=zip", "200", named("share"), all);
    row("names outside Latin-1", "/%E6%97%A5%E6%9C%AC/?a=zip", "200",
        "attachment; filename=\"??.zip\"; filename*=UTF-8''%E6%97%A5%E6%9C%AC.zip", {"ä ö.txt 6"});
    row("a selection", "/?a=zip&n=a.txt&n=Photos&n=a.txt", "200", named("share"),
        QStringList{"Photos/ 0"} + all.mid(2, 5) + QStringList{"a.txt 1"});
    row("more than 65,535 entries", "/many/?a=zip", "200", named("many"), {}, 65536);
    row("a name with a slash", "/?a=zip&n=Photos%2F1.jpg", "400");
    row("the parent", "/Photos/?a=zip&n=..", "400");
    row("a name that is not there", "/?a=zip&n=a.txt&n=none", "404");
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

QTEST_GUILESS_MAIN(TestFolderActions)
#include "tst_folderactions.moc"
