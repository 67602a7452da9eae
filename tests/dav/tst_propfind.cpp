#include "requests.h"
#include "testserver.h"

#include "server/serverthread.h"
#include "web/mfind.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

// PROPFIND and PROPPATCH over a real connection: which items a request describes,
// the properties asked for, and what PROPPATCH stores and sets; and the applet's listing
// service, PROPFIND for the client that calls itself mc: plain CR LF records, byte for byte.
class tst_PropFind : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void requests_data();
    void requests();
    void httpsHrefs();
    void listing_data();
    void listing();
    void listingOfManyFilesGoesOutInSlices();

private:
    TestServer s;
};

namespace {
const QByteArray Multi = "207 Multi-Status";
const QByteArray Date = "<D:getlastmodified>Tue, 05 Jan 2010 14:03:07 GMT</D:getlastmodified>";

// needles: in the answer, in this order ("!text": nowhere in it); hrefs: every href of the answer,
// the listener's URL taken off (not looked at when empty); after: in an allprop PROPFIND of the
// target afterwards ("!text": not in it; "@N": the modification time is N); folders: the
// profile's showFolders.
void row(const char *name, const QByteArray &request, const QByteArrayList &headers, const QByteArray &body,
         const QByteArray &status, const QByteArrayList &needles, const QStringList &hrefs = {},
         const QByteArrayList &after = {}, bool folders = true)
{
    QTest::newRow(name) << request << headers << body << status << needles << hrefs << after << folders;
}

QByteArray propfind(const QByteArray &ask)
{
    return "<D:propfind xmlns:D=\"DAV:\">" + ask + "</D:propfind>";
}

QByteArray update(const QByteArray &instructions)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:propertyupdate xmlns:D=\"DAV:\" xmlns:t=\"urn:t\" "
           "xmlns:Z=\"urn:schemas-microsoft-com:\">"
           + instructions + "</D:propertyupdate>";
}

QByteArray set(const QByteArray &properties)
{
    return "<D:set><D:prop>" + properties + "</D:prop></D:set>";
}

// 2010-01-01 12:00:00 UTC, 14:00 at UTC+2.
constexpr qint64 Noon = 1262347200;
// 13:02:05 UTC, 15:02:05 at UTC+2.
constexpr qint64 Later = Noon + 3725;
const QByteArray N = QByteArray::number(Noon);
const QByteArray L = QByteArray::number(Later);

QByteArray file(const QByteArray &path, const QByteArray &size, const QByteArray &time)
{
    return path + "\r\n" + size + "\r\n" + time + "\r\n\r\n";
}

QByteArray folder(const QByteArray &path)
{
    return path + "/\r\n" + N + "\r\n";
}
} // namespace

void tst_PropFind::initTestCase()
{
    QVERIFY(s.start());
    QVERIFY(s.write(QStringLiteral("docs/a.txt"), "hello"));
    QVERIFY(s.write(QStringLiteral("docs/B.txt"), "B"));
    QVERIFY(s.write(QStringLiteral("docs/.hidden"), "h"));
    QVERIFY(s.write(QString::fromUtf8("docs/sub/\xc3\xa9t\xc3\xa9 #1.txt"), "ete"));
    QVERIFY(s.write(QStringLiteral("Tom & Jerry.mp3"), "x"));
    QVERIFY(s.setModified(QStringLiteral("docs/a.txt"), 1262700187));
    QVERIFY(s.setModified(QStringLiteral("docs/sub"), 1262700187));
    // What the server keeps to itself is never listed: the profile folder in the share.
    QVERIFY(s.mkdir(QStringLiteral("docs/.kestrune")));
    Configuration::ConfigDir = s.path(QStringLiteral("docs/.kestrune/"));
    // Picture references are the thumbnail manager's; here every reference line is empty.
    s.config.showImages = CheckState::Off;
    QVERIFY(s.write(QStringLiteral("Photos/a.jpg"), QByteArray(100000, 'a')));
    QVERIFY(s.write(QStringLiteral("Photos/b.JPG"), QByteArray(500, 'b')));
    QVERIFY(s.write(QStringLiteral("Photos/.hid"), "h"));
    QVERIFY(s.write(QStringLiteral("Photos/Old/c.txt"), "0123456789"));
    QVERIFY(s.write(QStringLiteral("Photos/bad\nname.txt"), "lf"));
    QVERIFY(s.write(QStringLiteral("Photos/cr\rname.txt"), "cr"));
    QFile big(s.path(QStringLiteral("Photos/big.bin")));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(qint64(3) << 30)); // sparse: no disk space used
    big.close();
    QVERIFY(QFile::link(s.path(QStringLiteral("Photos")), s.path(QStringLiteral("Photos/loop"))));
    // Patterns are not regular expressions, and are matched without going back and forth.
    for (int length = 100; length <= 250; ++length) {
        QVERIFY(s.write(QStringLiteral("Long/") + QString(length, u'a'), "x"));
        QVERIFY(s.write(QStringLiteral("Long/A") + QString(length, u'a'), "x"));
    }
    for (const char *name : {"Pat/ababa", "Pat/a[x", "Pat/a.(b)+.txt"})
        QVERIFY(s.write(QString::fromLatin1(name), "x") && s.setModified(QString::fromLatin1(name), Noon));
    for (const char *name : {"Photos/b.JPG", "Photos/.hid", "Photos/Old/c.txt", "Photos/Old", "Photos/big.bin",
                             "Photos/bad\nname.txt", "Photos/cr\rname.txt", "Photos"})
        QVERIFY(s.setModified(QString::fromUtf8(name), Noon));
    QVERIFY(s.setModified(QStringLiteral("Photos/a.jpg"), Later));
}

void tst_PropFind::requests_data()
{
    QTest::addColumn<QByteArray>("request"); // method and target
    QTest::addColumn<QByteArrayList>("headers");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArrayList>("needles");
    QTest::addColumn<QStringList>("hrefs");
    QTest::addColumn<QByteArrayList>("after");
    QTest::addColumn<bool>("folders");

    const QByteArrayList d0 = {"Depth: 0"}, d1 = {"Depth: 1"};
    const QString tom = QStringLiteral("/Tom%20&amp;%20Jerry.mp3");
    // Hidden entries too: what a client stored, it finds again.
    const QStringList docsEntries = {QStringLiteral("/docs/.hidden"), QStringLiteral("/docs/B.txt"),
                                     QStringLiteral("/docs/a.txt"), QStringLiteral("/docs/sub")};
    row("root, Depth 0", "PROPFIND /", d0, {}, Multi, {}, {"/"});
    row("root, no Depth: its entries", "PROPFIND /", {}, {}, Multi, {}, {"/Long", "/Pat", "/Photos", tom, "/docs", "/p"});
    row("root without folders", "PROPFIND /", d1, {}, Multi, {}, {"/", tom}, {}, false);
    row("folder, Depth 1: itself first", "PROPFIND /docs", d1, {}, Multi, {}, QStringList{"/docs"} + docsEntries);
    row("folder, no Depth: itself", "PROPFIND /docs", {}, {}, Multi, {}, {"/docs"});
    row("folder/, no Depth: its entries", "PROPFIND /docs/", {}, {}, Multi, {}, docsEntries);
    row("folder/, Depth 0: one slash stripped", "PROPFIND /docs/", d0, {}, Multi, {}, {"/docs"});
    row("encoded names", "PROPFIND /docs/sub", d1, {}, Multi, {},
        {"/docs/sub", "/docs/sub/%C3%A9t%C3%A9%20%231.txt"});
    row("encoded request path", "PROPFIND /Tom%20%26%20Jerry.mp3", d1, {}, Multi, {}, {tom});

    row("missing name", "PROPFIND /nothing", d1, {}, "404 Not Found", {});
    row("file named with a slash", "PROPFIND /docs/a.txt/", {}, {}, "404 Not Found", {});
    // The whole tree is walked by the client, one folder at a time (RFC 4918 9.1).
    const QByteArrayList finite = {"<D:error xmlns:D=\"DAV:\"><D:propfind-finite-depth/></D:error>"};
    row("Depth infinity", "PROPFIND /docs", {"Depth: infinity"}, {}, "403 Forbidden", finite);
    row("Depth Infinity, a file", "PROPFIND /docs/a.txt", {"Depth: Infinity"}, {}, "403 Forbidden", finite);
    // A body that is not a propfind document is refused, never taken as allprop.
    row("another document", "PROPFIND /docs", d0, "<propfind xmlns=\"urn:other\"><allprop/></propfind>",
        "400 Bad Request", {});
    row("propfind asking nothing", "PROPFIND /docs", d0, "<propfind xmlns=\"DAV:\"/>", "400 Bad Request", {});

    // What was found comes before the 200 status, what was not before the 404 one.
    const QByteArray ok = "<D:status>HTTP/1.1 200 OK</D:status>", none = "<D:status>HTTP/1.1 404 Not Found";
    row("a time and a size", "PROPFIND /docs/a.txt", d0,
        propfind("<D:prop><D:getcontentlength/><D:getlastmodified/></D:prop>"), Multi,
        {"<D:getcontentlength>5</D:getcontentlength>", Date, ok, "!404 Not Found"});
    // The room on the file system, for folders (RFC 4331): Finder shows it.
    row("quota of a folder", "PROPFIND /docs", d0,
        propfind("<D:prop><D:quota-available-bytes/><D:quota-used-bytes/></D:prop>"), Multi,
        {"<D:quota-available-bytes>", "</D:quota-available-bytes><D:quota-used-bytes>", ok, "!404 Not Found"});
    row("allprop of a folder", "PROPFIND /docs", d0, propfind("<D:allprop/>"), Multi,
        {"<D:resourcetype><D:collection/></D:resourcetype>", "<D:supportedlock><D:lockentry>", ok});
    row("allprop with include", "PROPFIND /docs/a.txt", d0,
        propfind("<D:allprop/><D:include><D:resourcetype/><D:quota-used-bytes/></D:include>"), Multi,
        {Date, "<D:getcontentlength>5</D:getcontentlength>", "<D:resourcetype/>", ok,
         "<D:prop><D:quota-used-bytes/></D:prop>", none});

    const QByteArray p = "PROPPATCH /p/patched.txt";
    const QByteArray a = set("<t:a>first</t:a>");
    const QByteArray stored = "<t:a xmlns=\"\" xmlns:D=\"DAV:\" xmlns:t=\"urn:t\" xmlns:Z=\"urn:schemas-microsoft-com:\">";
    const QByteArray href = "<D:href>http://127.0.0.1:PORT/p/patched.txt</D:href>";
    const auto st = [](const char *status) { return "HTTP/1.1 " + QByteArray(status) + "</D:status>"; };
    row("a dead property", p, {}, update(a), Multi, {href, st("200 OK")}, {}, {stored + "first</t:a>", "@1000000000"});
    // The times clients keep: HTTP dates, and rclone's seconds.
    row("getlastmodified sets the time", p, {}, update(set(Date)), Multi, {st("200 OK")}, {},
        {"@1262700187", "Tue, 05 Jan 2010 14:03:07 GMT"});
    row("lastmodified in seconds", p, {}, update(set("<D:lastmodified>1262700187</D:lastmodified>")), Multi,
        {st("200 OK")}, {}, {"@1262700187"});
    row("Win32 times and attributes", p, {},
        update(set("<Z:Win32CreationTime>Mon, 04 Jan 2010 10:00:00 GMT</Z:Win32CreationTime>"
                   "<Z:Win32LastAccessTime>Tue, 05 Jan 2010 14:03:07 GMT</Z:Win32LastAccessTime>"
                   "<Z:Win32LastModifiedTime>Tue, 05 Jan 2010 14:03:07 GMT</Z:Win32LastModifiedTime>"
                   "<Z:Win32FileAttributes>00000020</Z:Win32FileAttributes>")),
        Multi, {st("200 OK"), st("200 OK"), st("200 OK"), st("200 OK")}, {},
        {"@1262700187", ">00000020</Z:Win32FileAttributes>", ">Mon, 04 Jan 2010 10:00:00 GMT</Z:"});
    // All or nothing: one refused property leaves everything as it was.
    row("protected getetag", p, {}, update(a + set("<D:getetag>\"x\"</D:getetag>")), Multi,
        {st("424 Failed Dependency"), st("403 Forbidden"), "<D:cannot-modify-protected-property/>", "!200 OK"}, {},
        {"!</t:a>", "@1000000000"});
    row("a time that is none", p, {}, update(set("<D:getlastmodified>soon</D:getlastmodified>") + a), Multi,
        {st("409 Conflict"), st("424 Failed Dependency"), "!200 OK"}, {}, {"!</t:a>", "@1000000000"});
    // The file system refuses a name of more than 255 bytes: what was stored before is undone.
    const QByteArray longName = "<l xmlns=\"urn:" + QByteArray(300, 'l') + "\">x</l>";
    row("refused by the file system", p, {}, update(a + set(Date + longName)), Multi,
        {st("424 Failed Dependency"), st("424 Failed Dependency"), st("507 Insufficient Storage"), "!200 OK"}, {},
        {"!</t:a>", "!</l>", "@1000000000"});
    row("PROPPATCH of a folder", "PROPPATCH /p/d", {}, update(set("<t:f>folder</t:f>")), Multi, {st("200 OK")}, {},
        {">folder</t:f>"});
    row("no instructions", p, {}, update(QByteArray()), "400 Bad Request", {});
    row("PROPPATCH another document", p, {}, propfind("<D:allprop/>"), "400 Bad Request", {});
}

void tst_PropFind::requests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArrayList, headers);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, status);
    QFETCH(QByteArrayList, needles);
    QFETCH(QStringList, hrefs);
    QFETCH(QByteArrayList, after);
    QFETCH(bool, folders);

    // A new file each time: its properties go with the old one.
    QFile::remove(s.path(QStringLiteral("p/patched.txt")));
    QVERIFY(s.write(QStringLiteral("p/patched.txt"), "p"));
    QVERIFY(s.setModified(QStringLiteral("p/patched.txt"), 1000000000));
    QVERIFY(s.mkdir(QStringLiteral("p/d")));
    s.config.showFolders = folders ? CheckState::On : CheckState::Off;
    const QByteArray target = request.mid(request.indexOf(' ') + 1);
    const HttpReply r = s.request(request.left(request.indexOf(' ')), target, headers, body);
    s.config.showFolders = CheckState::On;
    QVERIFY(r.complete);
    QCOMPARE(r.status, status);
    if (r.code == 207)
        QCOMPARE(r.header("Content-Type"), QByteArray("text/xml; charset=\"utf-8\""));
    qsizetype at = 0;
    for (QByteArray needle : needles) {
        needle.replace("PORT", QByteArray::number(s.port()));
        const qsizetype found = r.body.indexOf(needle.startsWith('!') ? needle.mid(1) : needle, at);
        QVERIFY2(needle.startsWith('!') ? r.body.indexOf(needle.mid(1)) < 0 : found >= 0, needle + '\n' + r.body);
        at = needle.startsWith('!') ? at : found + needle.size();
    }
    if (!hrefs.isEmpty()) {
        QStringList listed;
        static const QRegularExpression href(QStringLiteral("<(?:\\w+:)?href>([^<]*)</"));
        for (auto it = href.globalMatch(QString::fromUtf8(r.body)); it.hasNext();)
            listed.append(it.next().captured(1).remove(QString::fromLatin1(s.base())));
        QCOMPARE(listed.join(u' '), hrefs.join(u' '));
    }
    const HttpReply listed = s.request("PROPFIND", target, {"Depth: 0"});
    for (const QByteArray &fact : after) {
        if (fact.startsWith('@'))
            QCOMPARE(QFileInfo(s.path(QString::fromUtf8(target))).lastModified().toSecsSinceEpoch(),
                     fact.mid(1).toLongLong());
        else
            QVERIFY2(listed.body.contains(fact.mid(fact.startsWith('!'))) != fact.startsWith('!'), listed.body.constData());
    }
}

void tst_PropFind::httpsHrefs()
{
    TestServer secure;
    QVERIFY(secure.startTls());
    QVERIFY(secure.write(QStringLiteral("a.txt"), "a"));
    const HttpReply r = secure.request("PROPFIND", "/a.txt", {"Depth: 1"});
    QCOMPARE(r.status, Multi);
    QVERIFY2(r.body.contains("<href>https://127.0.0.1:" + QByteArray::number(secure.port()) + "/a.txt</href>"),
             r.body.constData());
}

void tst_PropFind::listing_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray hid = file("/Photos/.hid", "1", N);
    const QByteArray a = file("/Photos/a.jpg", "100000", L);
    const QByteArray b = file("/Photos/b.JPG", "500", N);
    const QByteArray big = file("/Photos/big.bin", "3221225472", N);
    const QByteArray c = file("/Photos/Old/c.txt", "10", N);
    const QByteArray folders = folder("/Photos/loop") + folder("/Photos/Old");
    const QByteArray end = "\r\n";

    // Names with a line break are left out; folders and files mixed, names without case.
    QTest::addRow("folder") << QByteArray("/Photos/") << hid + a + b + big + folders + end;
    QTest::addRow("recursive: files of sub-folders, links not followed") << QByteArray("/Photos/?r=1")
                                                                         << hid + a + b + big + c + end;
    QTest::addRow("one file: no name, no end line") << QByteArray("/Photos/a.jpg") << ("100000\r\n" + L + "\r\n\r\n");
    QTest::addRow("missing target") << QByteArray("/Nothing/") << end;
    QTest::addRow("pattern without case") << QByteArray("/Photos/?p=*.jpg") << a + b + folders + end;
    QTest::addRow("pattern anywhere in the name") << QByteArray("/Photos/?p=b") << b + big + folders + end;
    QTest::addRow("pattern, recursive") << QByteArray("/Photos/?p=*.txt&r=1") << c + end;
    QTest::addRow("smaller than 1000") << QByteArray("/Photos/?s1=1000&s1o=%3C") << hid + b + folders + end;
    QTest::addRow("larger than 3000000000: 64-bit")
        << QByteArray("/Photos/?s1=3000000000&s1o=%3E") << big + folders + end;
    QTest::addRow("after a date") << QByteArray("/Photos/?t=201001011400&to=%3E") << a + folders + end;
    QTest::addRow("before a date, one-digit minutes") << QByteArray("/Photos/?t=20100101142&to=%3C")
                                                      << hid + b + big + folders + end;
    QTest::addRow("same hour") << QByteArray("/Photos/?t=201001011500&to==&tu=2") << a + folders + end;
    QTest::addRow("unparsable date is -1: everything is later")
        << QByteArray("/Photos/?t=soon&to=%3E") << hid + a + b + big + folders + end;
    QTest::addRow("pattern pieces do not overlap") << QByteArray("/Pat/?p=aba*aba") << end;
    QTest::addRow("pattern: a lone bracket is a character") << QByteArray("/Pat/?p=%5Bx") << file("/Pat/a[x", "1", N) + end;
    QTest::addRow("pattern: negated set") << QByteArray("/Pat/?p=a%5B!.%5D")
                                          << file("/Pat/a[x", "1", N) + file("/Pat/ababa", "1", N) + end;
    QTest::addRow("pattern of many stars")
        << "/Long/?p=" + QByteArray("*a").repeated(30).append("[!a]").toPercentEncoding() << end;
    QTest::addRow("pattern: expression characters are plain")
        << QByteArray("/Pat/?p=a.(b)%2B") << file("/Pat/a.(b)+.txt", "1", N) + end;
}

void tst_PropFind::listing()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, expected);
    if (QDateTime::currentDateTime().offsetFromUtc() != 7200)
        QSKIP("needs TZ=UTC-2 in the environment (set by CTest)");
    QCOMPARE(s.rawExchange("PROPFIND " + target + " HTTP/1.1\r\nUser-Agent: mc\r\nConnection: close\r\n\r\n"), expected);
}

void tst_PropFind::listingOfManyFilesGoesOutInSlices()
{
    // 60,000 files: 30,000 in one folder, 1,000 in each of 30 others. Links to one file, quick
    // to make.
    constexpr int Folders = 31;
    constexpr int Files = 60000;
    QVERIFY(s.write(QStringLiteral("Many/one.txt"), "x"));
    const QByteArray one = QFile::encodeName(s.path(QStringLiteral("Many/one.txt")));
    for (int d = 0; d < Folders; ++d) {
        const QString folder = QStringLiteral("Many/d%1").arg(d, 2, 10, QLatin1Char('0'));
        QVERIFY(s.mkdir(folder));
        for (int f = 0; f < (d == 0 ? 30000 : 1000); ++f) {
            const QString name = folder + QStringLiteral("/f%1.txt").arg(f, 5, 10, QLatin1Char('0'));
            QCOMPARE(::link(one.constData(), QFile::encodeName(s.path(name)).constData()), 0);
        }
    }
    QVERIFY(QFile::remove(s.path(QStringLiteral("Many/one.txt"))));
    const auto cleanup = qScopeGuard([this] { QDir(s.path(QStringLiteral("Many"))).removeRecursively(); });

    // The client of the listing reads nothing at first.
    const qsizetype before = s.server->threads.size();
    const int fd = rawConnect(s.port(), 16 * 1024);
    QVERIFY(fd >= 0);
    const auto closeClient = qScopeGuard([fd] { ::close(fd); });
    QVERIFY(HttpClient::waitUntil([&] { return s.server->threads.size() > before; }));
    // So that the system holds little of the listing either.
    Socket &listing = s.server->threads.last()->request.socket;
    listing.setSendBufferSize(16 * 1024);
    const QByteArray request = "PROPFIND /Many/?r=1 HTTP/1.1\r\nUser-Agent: mc\r\n\r\n";
    QCOMPARE(::send(fd, request.constData(), size_t(request.size()), 0), ssize_t(request.size()));
    QVERIFY(HttpClient::waitUntil([&] { return listing.bytesQueued() > 0; }));
    // Made no faster than it is taken: what waits for the client stays small.
    qint64 most = 0;
    (void)HttpClient::waitUntil([&] {
        most = qMax(most, listing.bytesQueued());
        return false;
    }, 500);
    QVERIFY2(most <= Socket::ProducedQueueLimit + Mfind::SliceBytes + 4096, qPrintable(QString::number(most)));

    // Now it reads as fast as it can: every file, each record whole, the end line once.
    QByteArray received;
    QVERIFY(HttpClient::waitUntil([&] {
        char piece[65536];
        for (ssize_t n; (n = ::recv(fd, piece, sizeof piece, MSG_DONTWAIT)) > 0;)
            received.append(piece, n);
        return received.endsWith("\r\n\r\n\r\n");
    }, 60000));
    QCOMPARE(received.count("\r\n"), Files * 4 + 1);
    QVERIFY(received.startsWith("/Many/d00/f00000.txt\r\n1\r\n"));
    QVERIFY(received.contains("\r\n\r\n/Many/d30/f00999.txt\r\n1\r\n"));
}

QTEST_GUILESS_MAIN(tst_PropFind)
#include "tst_propfind.moc"
