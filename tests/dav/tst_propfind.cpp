#include "testserver.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

// PROPFIND and PROPPATCH over a real connection: which items a request describes,
// the properties asked for, and what PROPPATCH stores and sets.
class tst_PropFind : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void requests_data();
    void requests();
    void httpsHrefs();

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
    row("root, Depth 1: itself first", "PROPFIND /", d1, {}, Multi, {}, {"/", tom, "/docs", "/p"});
    row("root, no Depth: its entries", "PROPFIND /", {}, {}, Multi, {}, {tom, "/docs", "/p"});
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
        QCOMPARE(listed, hrefs);
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

QTEST_GUILESS_MAIN(tst_PropFind)
#include "tst_propfind.moc"
