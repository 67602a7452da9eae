#include "requests.h"
#include "testserver.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <unistd.h>

// PUT, DELETE, MKCOL, COPY and MOVE against real files: what they answer and what the share
// holds afterwards. None may destroy what it was not asked to, nor reach outside the share.
class tst_DavWrite : public QObject
{
    Q_OBJECT

private slots:
    void write_data();
    void write();
    void clientSequences_data();
    void clientSequences();
    void droppedPutChangesNothing();
};

namespace {
// Tue, 5 Jan 2010 14:03:07 GMT
constexpr qint64 January5 = 1262700187;
const QByteArray New = "new body!!";

// The share every row starts from.
void prepare(TestServer &s)
{
    QVERIFY(s.start());
    for (const char *file : {"a.txt=A", "b.txt=B", "docs/x.txt=X", "docs/y y.txt=Y", "docs/sub/z.txt=Z",
                             "docs2/x.txt=old", "gone/f.txt=f", "keep/k.txt=k"}) {
        const QList<QByteArray> parts = QByteArray(file).split('=');
        QVERIFY(s.write(QString::fromLatin1(parts.at(0)), parts.at(1)));
    }
    QVERIFY(s.mkdir(QStringLiteral("sub")));
    QVERIFY(s.mkdir(QStringLiteral("docs3/x.txt")));
    // A link loop inside the folder that gets copied; a link to a folder outside the one deleted.
    QVERIFY(QFile::link(s.path(QStringLiteral("docs")), s.path(QStringLiteral("docs/loop"))));
    QVERIFY(QFile::link(s.path(QStringLiteral("keep")), s.path(QStringLiteral("gone/link"))));
    QVERIFY(::link(QFile::encodeName(s.path(QStringLiteral("a.txt"))).constData(),
                   QFile::encodeName(s.path(QStringLiteral("hard.txt"))).constData()) == 0);
    QVERIFY(QFile::link(s.path(QStringLiteral("a.txt")), s.path(QStringLiteral("alink.txt"))));
    // A link that leads out of the share.
    QVERIFY(QFile::link(s.outsidePath(), s.path(QStringLiteral("out"))));
    for (const char *dated : {"a.txt", "docs/x.txt", "docs/sub/z.txt", "docs/sub", "docs"})
        QVERIFY(s.setModified(QLatin1String(dated), January5));
    const QFile::Permissions own = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(s.path(QStringLiteral("b.txt")), own));
    QVERIFY(QFile::setPermissions(s.path(QStringLiteral("keep/k.txt")), own));
}

// rights: u uploads, d deleting.
// facts about the share afterwards: "path=content", "!path" (absent), "path/" (folder), "path@"
// (January5 its modification time), "path%other" (the permissions of other), "~text" (in the
// answer; BASE is this listener's URL, PORT its port, as in the headers).
void row(const QByteArray &name, const QByteArray &request, const char *rights, const QByteArrayList &headers,
         const QByteArray &body, const char *status, const QStringList &facts)
{
    QTest::addRow("%s", name.constData()) << request << QByteArray(rights) << headers << body << QByteArray(status)
                                          << facts;
}

void refusals(const QByteArray &method)
{
    const QStringList intact = {"a.txt=A", "b.txt=B", "docs/x.txt=X", "docs/sub/z.txt=Z", "hard.txt=A"};
    const QByteArray file = method + " /a.txt", docs = method + " /docs";
    const QStringList noC = intact + QStringList{"!c.txt"};
    const auto to = [](const QByteArray &destination) { return QByteArrayList{"Destination: " + destination}; };
    const auto refused = [&method](const char *name, const QByteArray &request, const QByteArrayList &headers,
                                   const char *status, const QStringList &facts) {
        row(method + ' ' + name, request, "ud", headers, {}, status, facts);
    };
    refused("no Destination", file, {}, "400 Bad Request", intact);
    refused("unparsable Destination", file, to("http://[::1/c.txt"), "400 Bad Request", noC);
    refused("relative Destination", file, to("c.txt"), "400 Bad Request", noC);
    refused("itself", file, to("BASE/a.txt"), "403 Forbidden", intact);
    refused("itself, through a link", method + " /alink.txt", to("BASE/a.txt"), "403 Forbidden", intact);
    refused("onto its hard link", file, to("BASE/hard.txt"), "403 Forbidden", intact);
    refused("folder onto itself", docs, to("BASE/docs"), "403 Forbidden", intact);
    refused("folder into its own subtree", docs, to("BASE/docs/sub/copy"), "403 Forbidden",
        intact + QStringList{"!docs/sub/copy"});
    refused("folder into itself through its link", method + " /docs/loop", to("BASE/docs/new"), "403 Forbidden",
            intact + QStringList{"!docs/new"});
    refused("the shared folder", method + " /", to("BASE/docs2/all"), "403 Forbidden",
        intact + QStringList{"!docs2/all"});
    // Of another server (RFC 4918 9.8.4, 9.9.4).
    refused("another port", file, to("http://127.0.0.1:1/c.txt"), "502 Bad Gateway", noC);
    refused("another scheme", file, to("https://127.0.0.1:PORT/c.txt"), "502 Bad Gateway", noC);
}
} // namespace

void tst_DavWrite::write_data()
{
    QTest::addColumn<QByteArray>("request"); // method and target
    QTest::addColumn<QByteArray>("rights");
    QTest::addColumn<QByteArrayList>("headers");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QStringList>("facts");

    const char *created = "201 Created", *failed = "412 Precondition Failed";
    const QString stored = QStringLiteral("c.txt=") + QString::fromLatin1(New);
    const QStringList kept = {"b.txt=B"};
    // PUT: a new file gets the permissions of any new file; a replaced one keeps its own.
    row("PUT new file", "PUT /c.txt", "ud", {}, New, created, {stored, "c.txt%a.txt"});
    row("PUT new empty file", "PUT /c.txt", "ud", {}, {}, created, {"c.txt="});
    row("PUT replaces when deleting is enabled", "PUT /b.txt", "ud", {}, New, created,
        {"b.txt=" + QString::fromLatin1(New), "b.txt%keep/k.txt"});
    row("PUT never replaces when deleting is disabled", "PUT /b.txt", "u", {}, New, failed, kept);
    row("PUT If-None-Match: * never replaces", "PUT /b.txt", "ud", {"If-None-Match: *"}, New, failed, kept);
    row("PUT stale If-Match", "PUT /b.txt", "ud", {"If-Match: \"1-2\""}, New, failed, kept);
    row("PUT If-Match: * of nothing", "PUT /c.txt", "ud", {"If-Match: *"}, New, failed, {"!c.txt"});
    row("PUT If-Unmodified-Since: long ago", "PUT /b.txt", "ud",
        {"If-Unmodified-Since: Sun, 06 Nov 1994 08:49:37 GMT"}, New, failed, kept);
    row("PUT If: a stale tag", "PUT /b.txt", "ud", {"If: ([\"1-2\"])"}, New, failed, kept);
    row("PUT a folder is never replaced", "PUT /docs2", "ud", {}, New, failed, {"docs2/", "docs2/x.txt=old"});
    row("PUT uploads disabled", "PUT /c.txt", "d", {}, New, "423 Read only", {"!c.txt"});
    row("PUT no such folder", "PUT /none/c.txt", "ud", {}, New, "423 Locked", {"!none"});
    row("PUT ezdavplugin probe of one byte", "PUT /c.txt", "ud", {"User-Agent: ezdavplugin"}, "x", created,
        {"!c.txt"});
    // A piece of a file is not the file: a PUT that says so is refused and stores nothing.
    row("PUT Content-Range", "PUT /b.txt", "ud", {"Content-Range: bytes 0-9/20"}, New, "400 Bad Request", kept);

    row("DELETE disabled", "DELETE /b.txt", "u", {}, {}, "423 Read-only", kept);
    row("DELETE missing name", "DELETE /none.txt", "ud", {}, {}, "200 Not exists", kept);
    row("DELETE file", "DELETE /b.txt", "ud", {}, {}, "200 File deleted", {"!b.txt", "a.txt=A"});
    row("DELETE folder tree, its link removed as a link", "DELETE /gone", "ud", {}, {}, "200 Dir deleted",
        {"!gone", "keep/k.txt=k"});
    row("DELETE link to a folder: the link only", "DELETE /gone/link", "ud", {}, {}, "200 File deleted",
        {"!gone/link", "gone/f.txt=f", "keep/k.txt=k"});
    row("DELETE the shared folder", "DELETE /", "ud", {}, {}, "403 Forbidden", kept);
    row("DELETE the shared folder, dot", "DELETE /.", "ud", {}, {}, "403 Forbidden", kept);

    row("MKCOL new folder", "MKCOL /new", "u", {}, {}, created, {"new/"});
    row("MKCOL missing parents", "MKCOL /docs/b/c", "u", {}, {}, created, {"docs/b/c/"});
    row("MKCOL a file in the way", "MKCOL /a.txt", "u", {}, {}, "500 MKPATH Failed", {"a.txt=A"});
    row("MKCOL with a body", "MKCOL /bodied", "u", {}, "<x/>", "415 Unsupported Media Type", {"!bodied"});

    // A copy has its source's modification time.
    const QByteArrayList toB = {"Destination: BASE/b.txt"}, toDocs2 = {"Destination: BASE/docs2"};
    row("COPY file to a new name", "COPY /a.txt", "ud", {"Destination: BASE/c.txt"}, {}, created,
        {"a.txt=A", "c.txt=A", "c.txt@"});
    row("COPY file onto a file: replaced", "COPY /a.txt", "ud", toB, {}, "204 No Content",
        {"a.txt=A", "b.txt=A", "b.txt@"});
    row("COPY Overwrite F", "COPY /a.txt", "ud", toB + QByteArrayList{"Overwrite: F"}, {}, failed,
        {"a.txt=A", "b.txt=B"});
    row("COPY deleting disabled: never replaced", "COPY /a.txt", "u", toB, {}, failed, {"a.txt=A", "b.txt=B"});
    row("COPY into an existing folder", "COPY /a.txt", "ud", {"Destination: BASE/sub"}, {}, created,
        {"a.txt=A", "sub/a.txt=A"});
    row("COPY an absolute path", "COPY /a.txt", "ud", {"Destination: /c%20d.txt"}, {}, created, {"c d.txt=A"});
    row("COPY another name of this server", "COPY /a.txt", "ud", {"Destination: http://localhost:PORT/c.txt"}, {},
        created, {"a.txt=A", "c.txt=A"});
    row("COPY folder onto a file", "COPY /docs", "ud", {"Destination: BASE/a.txt"}, {}, failed,
        {"a.txt=A", "docs/x.txt=X"});
    row("COPY folder to a new place: folders made", "COPY /docs", "ud", {"Destination: BASE/new/copy"}, {},
        "207 Multi-Status",
        {"new/copy/x.txt=X", "new/copy/y y.txt=Y", "new/copy/sub/z.txt=Z", "!new/copy/loop", "docs/x.txt=X",
         "docs/sub/z.txt=Z", "new/copy/x.txt@", "new/copy/sub/z.txt@", "new/copy/sub@", "new/copy@"});
    row("COPY folder onto a folder", "COPY /docs", "ud", toDocs2, {}, "207 Multi-Status",
        {"docs2/x.txt=X", "docs2/sub/z.txt=Z", "!docs2/loop", "docs/x.txt=X"});
    // Each file of a folder copy has its own status, named as the share names it.
    const QString x = QStringLiteral("~<href>BASE/docs/x.txt</href><status>HTTP/1.1 ");
    row("COPY folder, Overwrite F", "COPY /docs", "ud", toDocs2 + QByteArrayList{"Overwrite: F"}, {},
        "207 Multi-Status", {x + "412 Precondition Failed</status>", "docs2/x.txt=old", "docs2/y y.txt=Y"});
    row("COPY folder, deleting disabled", "COPY /docs", "u", toDocs2, {}, "207 Multi-Status",
        {x + "412 Precondition Failed</status>", "docs2/x.txt=old", "docs2/y y.txt=Y"});
    row("COPY folder, a file that cannot be written", "COPY /docs", "ud", {"Destination: BASE/docs3"}, {},
        "207 Multi-Status", {x + "500 File copy error</status>", "docs3/y y.txt=Y"});
    refusals("COPY");

    row("MOVE file to a new name", "MOVE /a.txt", "ud", {"Destination: BASE/c.txt"}, {}, created,
        {"!a.txt", "c.txt=A", "c.txt@"});
    row("MOVE file onto a file: replaced", "MOVE /a.txt", "ud", toB, {}, "204 No Content",
        {"!a.txt", "b.txt=A", "b.txt@"});
    row("MOVE Overwrite F", "MOVE /a.txt", "ud", toB + QByteArrayList{"Overwrite: F"}, {}, "412 Name exists",
        {"a.txt=A", "b.txt=B"});
    row("MOVE deleting disabled: never replaced", "MOVE /a.txt", "u", toB, {}, "412 Name exists",
        {"a.txt=A", "b.txt=B"});
    // Moving removes the source.
    row("MOVE deleting disabled, new name", "MOVE /a.txt", "u", {"Destination: BASE/c.txt"}, {}, "403 Forbidden",
        {"a.txt=A", "!c.txt"});
    row("MOVE onto a folder: replaced", "MOVE /a.txt", "ud", {"Destination: BASE/sub"}, {}, "204 No Content",
        {"!a.txt", "sub=A"});
    row("MOVE folder onto a file: replaced", "MOVE /docs", "ud", {"Destination: BASE/a.txt"}, {}, "204 No Content",
        {"!docs", "a.txt/x.txt=X", "a.txt/sub/z.txt=Z", "hard.txt=A"});
    row("MOVE folder onto a folder: replaced", "MOVE /docs", "ud", {"Destination: BASE/sub"}, {}, "204 No Content",
        {"!docs", "sub/x.txt=X", "sub/sub/z.txt=Z"});
    row("MOVE folder onto the folder holding it", "MOVE /docs/sub", "ud", {"Destination: BASE/docs"}, {},
        "403 Forbidden", {"docs/sub/z.txt=Z", "docs/x.txt=X"});
    row("MOVE file onto the shared folder", "MOVE /a.txt", "ud", {"Destination: BASE/"}, {}, "403 Forbidden",
        {"a.txt=A", "docs/x.txt=X"});
    row("MOVE folder to a new name", "MOVE /docs", "ud", {"Destination: BASE/moved"}, {}, created,
        {"!docs", "moved/x.txt=X", "moved/sub/z.txt=Z", "moved/x.txt@", "moved/sub@"});
    row("MOVE missing source", "MOVE /none.txt", "ud", {"Destination: BASE/c.txt"}, {}, "500 Rename Failed",
        {"!c.txt"});
    refusals("MOVE");
}

void tst_DavWrite::write()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, rights);
    QFETCH(QByteArrayList, headers);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, status);
    QFETCH(QStringList, facts);

    TestServer s;
    prepare(s);
    s.config.enableUpload = rights.contains('u') ? CheckState::On : CheckState::Off;
    s.config.enableDelete = rights.contains('d') ? CheckState::On : CheckState::Off;
    const auto filled = [&s](QByteArray text) {
        return text.replace("BASE", s.base()).replace("PORT", QByteArray::number(s.port()));
    };
    for (QByteArray &header : headers)
        header = filled(header);
    const qsizetype space = request.indexOf(' ');
    const HttpReply r = s.request(request.left(space), request.mid(space + 1), headers, body);
    QVERIFY(r.complete);
    QCOMPARE(r.status, status);
    // Files are named as the share names them, never by where the server keeps them.
    QVERIFY(!r.body.contains(s.share.toUtf8()));

    for (const QString &fact : facts) {
        const qsizetype equals = fact.indexOf(u'='), percent = fact.indexOf(u'%');
        if (fact.startsWith(u'~')) {
            QVERIFY2(r.body.contains(filled(fact.mid(1).toUtf8())), r.body.constData());
        } else if (fact.startsWith(u'!')) {
            QVERIFY2(!s.exists(fact.mid(1)), qPrintable(fact));
        } else if (fact.endsWith(u'@')) {
            QCOMPARE(QFileInfo(s.path(fact.chopped(1))).lastModified().toSecsSinceEpoch(), January5);
        } else if (fact.endsWith(u'/')) {
            QVERIFY2(QFileInfo(s.path(fact.chopped(1))).isDir(), qPrintable(fact));
        } else if (percent > 0) {
            QCOMPARE(QFileInfo(s.path(fact.left(percent))).permissions(),
                     QFileInfo(s.path(fact.mid(percent + 1))).permissions());
        } else {
            QVERIFY2(QFileInfo(s.path(fact.left(equals))).isFile(), qPrintable(fact));
            QCOMPARE(s.read(fact.left(equals)), fact.mid(equals + 1).toUtf8());
        }
    }
    // Nothing ever lands outside the share (secret.txt was there before), and no piece of a
    // file is left in it.
    QCOMPARE(QDir(s.outsidePath()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{QStringLiteral("secret.txt")});
    for (QDirIterator it(s.share, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
         it.hasNext();)
        QVERIFY2(!QFileInfo(it.next()).fileName().startsWith(u'.'), qPrintable(it.filePath()));
}

namespace {
// A request head (its lines up to the empty one) with a body and its length.
QByteArray withBody(const QByteArray &head, const QByteArray &body)
{
    return head + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray chunked(const QByteArray &data, int size)
{
    QByteArray chunks;
    for (qsizetype at = 0; at < data.size(); at += size)
        chunks += QByteArray::number(qMin<qsizetype>(size, data.size() - at), 16) + "\r\n" + data.mid(at, size) + "\r\n";
    return chunks + "0\r\n\r\n";
}
} // namespace

void tst_DavWrite::clientSequences_data()
{
    // Requests on one connection, TOKEN standing for the token of the LOCK before; an empty
    // request reads the next answer only.
    QTest::addColumn<QByteArrayList>("requests");
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<QByteArray>("content");  // of docs/copy.bin afterwards
    QTest::addColumn<qint64>("modified");     // its modification time afterwards; 0: any
    QTest::addColumn<QByteArray>("answered"); // in the head or body of the last answer

    const QByteArray put = "PUT /docs/copy.bin HTTP/1.1\r\n", small = withBody(put, "small");
    const QByteArray lock = withBody("LOCK /docs/copy.bin HTTP/1.1\r\nTimeout: Second-3600\r\n",
                                     "<D:lockinfo xmlns:D=\"DAV:\"><D:lockscope><D:exclusive/></D:lockscope>"
                                     "<D:locktype><D:write/></D:locktype></D:lockinfo>");
    const QByteArray unlock = "UNLOCK /docs/copy.bin HTTP/1.1\r\nLock-Token: <TOKEN>\r\n\r\n";
    // A body many times the connection's buffer replacing a file, and a request right behind it:
    // around the pieces the body is taken in (64 KiB) and the stretches a file is handed to the
    // disk in while it arrives (8 MiB); in chunks of an odd size, so that their size lines fall
    // anywhere in what is read at once, as Finder and curl send a body of no known length.
    const auto large = [&](const char *name, int size, bool expectContinue, bool inChunks) {
        const QByteArray body = bigData(size);
        const QByteArray head = put + (expectContinue ? "Expect: 100-continue\r\n" : "")
                                + (inChunks ? "Transfer-Encoding: chunked\r\nX-Expected-Entity-Length: "
                                            : "Content-Length: ")
                                + QByteArray::number(size) + "\r\n\r\n";
        const QByteArray rest = (inChunks ? chunked(body, 32785) : body) + "OPTIONS /docs HTTP/1.1\r\n\r\n";
        QTest::addRow("%s", name)
            << (expectContinue ? QByteArrayList{small, head, rest, ""} : QByteArrayList{small, head + rest, ""})
            << (expectContinue ? QList<int>{201, 100, 201, 200} : QList<int>{201, 201, 200}) << body << qint64(0)
            << QByteArray("Allow: ");
    };
    large("64 KiB + 1", 65537, false, false);
    large("8 MiB + 1 after 100 Continue", (8 << 20) + 1, true, false);
    large("300000 bytes in chunks", 300000, false, true);
    large("17 MiB + 3 in chunks after 100 Continue", (17 << 20) + 3, true, true);
    // macOS Finder copying a file: an empty file, locked, the content in chunks.
    const QByteArray data = QByteArray(100000, 'f') + "end";
    QTest::addRow("Finder") << QByteArrayList{withBody(put, {}), lock,
                                              put + "If: (<TOKEN>)\r\nX-Expected-Entity-Length: 100003\r\n"
                                                    "Transfer-Encoding: chunked\r\n\r\n" + chunked(data, 4096), unlock}
                            << QList<int>{201, 200, 201, 200} << data << qint64(0) << QByteArray();
    // rclone with the vendor owncloud: the time comes with the file.
    QTest::addRow("rclone") << QByteArrayList{put + "X-OC-Mtime: 1262700187.5\r\nTransfer-Encoding: chunked\r\n\r\n"
                                              + chunked(data, 4096)}
                            << QList<int>{201} << data << January5 << QByteArray("X-OC-Mtime: accepted");
    // Whoever does not name the token changes nothing while the lock is held; a lock on a new
    // name makes the file.
    QTest::addRow("a second client while a lock is held")
        << QByteArrayList{lock, withBody(put, {}), lock, "DELETE /docs/copy.bin HTTP/1.1\r\n\r\n",
                          "MOVE /docs/copy.bin HTTP/1.1\r\nDestination: /docs/moved.bin\r\n\r\n",
                          "DELETE /docs HTTP/1.1\r\n\r\n", withBody(put + "If: (<TOKEN>)\r\n", "mine"), unlock,
                          withBody(put, "new")}
        << QList<int>{201, 423, 423, 423, 423, 423, 201, 200, 201} << QByteArray("new") << qint64(0) << QByteArray();
    // A file's own properties go with a copy of its folder.
    QTest::addRow("dead properties copied")
        << QByteArrayList{withBody(put, "new"),
                          withBody("PROPPATCH /docs/copy.bin HTTP/1.1\r\n",
                                   "<propertyupdate xmlns=\"DAV:\"><set><prop><p xmlns=\"urn:t\">kept</p></prop></set>"
                                   "</propertyupdate>"),
                          "COPY /docs HTTP/1.1\r\nDestination: /d2\r\n\r\n",
                          withBody("PROPFIND /d2/copy.bin HTTP/1.1\r\nDepth: 0\r\n",
                                   "<propfind xmlns=\"DAV:\"><prop><p xmlns=\"urn:t\"/></prop></propfind>")}
        << QList<int>{201, 207, 207, 207} << QByteArray("new") << qint64(0) << QByteArray(">kept</");
}

void tst_DavWrite::clientSequences()
{
    QFETCH(QByteArrayList, requests);
    QFETCH(QList<int>, codes);
    QFETCH(QByteArray, content);
    QFETCH(qint64, modified);
    QFETCH(QByteArray, answered);
    TestServer s;
    s.config.enableDelete = CheckState::On;
    QVERIFY(s.start());
    QVERIFY(s.mkdir(QStringLiteral("docs")));
    HttpClient client(s.port());
    QByteArray token;
    HttpReply reply;
    for (qsizetype i = 0; i < requests.size(); ++i) {
        reply = client.exchange(QByteArray(requests.at(i)).replace("TOKEN", token), 60000);
        QVERIFY2(reply.code == codes.at(i), requests.at(i).left(30) + " answered " + reply.status);
        if (reply.hasHeader("Lock-Token"))
            token = reply.header("Lock-Token").replace('<', "").replace('>', "");
    }
    QCOMPARE(s.read(QStringLiteral("docs/copy.bin")), content);
    QCOMPARE(s.names(QStringLiteral("docs")), QStringList{QStringLiteral("copy.bin")});
    if (modified)
        QCOMPARE(QFileInfo(s.path(QStringLiteral("docs/copy.bin"))).lastModified().toSecsSinceEpoch(), modified);
    QVERIFY2((reply.head + reply.body).contains(answered), reply.head.constData());
}

void tst_DavWrite::droppedPutChangesNothing()
{
    // The client goes away while the server has taken in part of the body.
    TestServer s;
    QVERIFY(s.start());
    QVERIFY(s.write(QStringLiteral("t.txt"), "old"));
    HttpClient client(s.port());
    const QByteArray head = "PUT /t.txt HTTP/1.1\r\nContent-Length: 100000\r\n\r\n";
    client.send(head + QByteArray(30000, 'n'));
    QTRY_VERIFY(s.server->traffic.receivedBytes >= head.size() + 30000);
    QCOMPARE(s.read(QStringLiteral("t.txt")), QByteArray("old"));
    client.abort();
    QTRY_VERIFY(s.server->threads.isEmpty());
    QCOMPARE(s.names(), QStringList{QStringLiteral("t.txt")});
    QCOMPARE(s.read(QStringLiteral("t.txt")), QByteArray("old"));
}

QTEST_GUILESS_MAIN(tst_DavWrite)
#include "tst_davwrite.moc"
