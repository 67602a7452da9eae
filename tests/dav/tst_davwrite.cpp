#include "filesizelimit.h"
#include "testserver.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>


// PUT, DELETE and MKCOL against real files.
class tst_DavWrite : public QObject
{
    Q_OBJECT

private slots:
    void put_data();
    void put();
    void putLarge_data();
    void putLarge();
    void putPermissions();
    void clientSequences_data();
    void clientSequences();
    void putThatFailsChangesNothing_data();
    void putThatFailsChangesNothing();
    void deleting_data();
    void deleting();
    void mkcol_data();
    void mkcol();
};

namespace {
const QByteArray Old = "old content";
const QByteArray New = "new body!!";
} // namespace

void tst_DavWrite::put_data()
{
    QTest::addColumn<QString>("existing"); // "file", "folder" or "" at docs/t.txt; "nofolder": no docs
    QTest::addColumn<bool>("upload");
    QTest::addColumn<bool>("deleting");
    QTest::addColumn<QList<QByteArray>>("headers");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("after"); // the file's content afterwards; null: none, "/": a folder

    using H = QList<QByteArray>;
    // rights: u uploads, d deleting enabled
    const auto row = [](const char *name, const char *existing, const QByteArray &rights, const H &headers,
                        const QByteArray &body, const char *status, const QByteArray &after) {
        QTest::newRow(name) << QString::fromLatin1(existing) << rights.contains('u') << rights.contains('d')
                            << headers << body << QByteArray(status) << after;
    };
    const QByteArray none, folder = "/";
    const char *created = "201 Created", *failed = "412 Precondition Failed";
    row("new file", "", "ud", {}, New, created, New);
    row("new empty file", "", "ud", {}, {}, created, "");
    row("replaces when deleting is enabled", "file", "ud", {}, New, created, New);
    row("never replaces when deleting is disabled", "file", "u", {}, New, failed, Old);
    row("If-None-Match: * never replaces", "file", "ud", {"If-None-Match: *"}, New, failed, Old);
    row("stale If-Match", "file", "ud", {"If-Match: \"1-2\""}, New, failed, Old);
    row("If-Match: * of nothing", "", "ud", {"If-Match: *"}, New, failed, none);
    row("If-Unmodified-Since: long ago", "file", "ud", {"If-Unmodified-Since: Sun, 06 Nov 1994 08:49:37 GMT"}, New,
        failed, Old);
    row("If: a stale tag", "file", "ud", {"If: ([\"1-2\"])"}, New, failed, Old);
    row("a folder is never replaced", "folder", "ud", {}, New, failed, folder);
    // No client is granted a right by what it calls itself.
    row("mc never replaces when deleting is disabled", "file", "u", {"User-Agent: mc"}, New, failed, Old);
    row("uploads disabled", "", "d", {}, New, "423 Read only", none);
    row("no such folder", "nofolder", "ud", {}, New, "423 Locked", none);
    row("ezdavplugin probe of one byte", "", "ud", {"User-Agent: ezdavplugin"}, "x", created, none);
    row("ezdavplugin probe on an existing name", "file", "u", {"User-Agent: ezdavplugin"}, "x", failed, Old);
    // A piece of a file is not the file: a PUT that says so is refused and stores nothing.
    row("Content-Range", "file", "ud", {"Content-Range: bytes 0-9/20"}, New, "400 Bad Request", Old);
}

void tst_DavWrite::put()
{
    QFETCH(QString, existing);
    QFETCH(bool, upload);
    QFETCH(bool, deleting);
    QFETCH(QList<QByteArray>, headers);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, after);

    TestServer s;
    QVERIFY(s.start());
    s.config.enableUpload = upload ? CheckState::On : CheckState::Off;
    s.config.enableDelete = deleting ? CheckState::On : CheckState::Off;
    if (existing != QLatin1String("nofolder"))
        QVERIFY(s.mkdir(QStringLiteral("docs")));
    if (existing == QLatin1String("file"))
        QVERIFY(s.write(QStringLiteral("docs/t.txt"), Old));
    else if (existing == QLatin1String("folder"))
        QVERIFY(s.mkdir(QStringLiteral("docs/t.txt")));

    const HttpReply r = s.request("PUT", "/docs/t.txt", headers, body);
    QVERIFY(r.complete);
    QCOMPARE(r.status, status);
    QCOMPARE(r.header("Content-Length"), QByteArray("0"));

    const QFileInfo target(s.path(QStringLiteral("docs/t.txt")));
    QCOMPARE(target.exists(), !after.isNull());
    QCOMPARE(target.isDir(), after == "/");
    if (target.isFile())
        QCOMPARE(s.read(QStringLiteral("docs/t.txt")), after);
    // Nothing else is left in the folder.
    const QStringList names = s.names(QStringLiteral("docs"));
    QVERIFY2(names.size() <= 1, qPrintable(names.join(u',')));
}

void tst_DavWrite::putLarge_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("expectContinue");
    QTest::addColumn<bool>("chunked");

    // Around the pieces the body is taken in (64 KiB) and the stretches a file is handed to the
    // disk in while it arrives (8 MiB); in chunks, as Finder and curl send a body of no known length.
    QTest::addRow("64 KiB + 1") << 65537 << false << false;
    QTest::addRow("8 MiB + 1 after 100 Continue") << (8 << 20) + 1 << true << false;
    QTest::addRow("300000 bytes in chunks") << 300000 << false << true;
    QTest::addRow("17 MiB + 3 in chunks after 100 Continue") << (17 << 20) + 3 << true << true;
}

void tst_DavWrite::putLarge()
{
    QFETCH(int, size);
    QFETCH(bool, expectContinue);
    QFETCH(bool, chunked);

    // A body many times the connection's buffer replacing a file, and a request right behind it
    // on the same connection.
    TestServer s;
    QVERIFY(s.start());
    QVERIFY(s.write(QStringLiteral("big.bin"), "small"));
    QVERIFY(s.write(QStringLiteral("next.txt"), "next"));
    QByteArray body;
    body.reserve(size + 16);
    for (int i = 0; body.size() < size; ++i)
        body += QByteArray::number(i) + ' ';
    body.truncate(size);

    HttpClient client(s.port());
    const QByteArray length = chunked ? "Transfer-Encoding: chunked\r\nX-Expected-Entity-Length: " : "Content-Length: ";
    const QByteArray head = "PUT /big.bin HTTP/1.1\r\n" + QByteArray(expectContinue ? "Expect: 100-continue\r\n" : "")
                            + length + QByteArray::number(body.size()) + "\r\n\r\n";
    QByteArray sent = body;
    if (chunked) {
        // Chunks of an odd size, so that their size lines fall anywhere in what is read at once.
        sent.clear();
        for (qsizetype at = 0; at < body.size(); at += 32785)
            sent += QByteArray::number(qMin<qsizetype>(32785, body.size() - at), 16) + "\r\n" + body.mid(at, 32785) + "\r\n";
        sent += "0\r\n\r\n";
    }
    const QByteArray next = "GET /next.txt HTTP/1.1\r\n\r\n";
    if (expectContinue) {
        client.send(head);
        QCOMPARE(client.reply().status, QByteArray("100 Continue"));
        client.send(sent + next);
    } else {
        client.send(head + sent + next);
    }
    const HttpReply r = client.reply(60000);
    QCOMPARE(r.status, QByteArray("201 Created"));
    QVERIFY(s.read(QStringLiteral("big.bin")) == body);
    const HttpReply after = client.reply();
    QCOMPARE(after.status, QByteArray("200 OK"));
    QCOMPARE(after.body, QByteArray("next"));
    QCOMPARE(s.names(), (QStringList{"big.bin", "next.txt"}));
}

void tst_DavWrite::putPermissions()
{
    // A new file gets the permissions of any new file; a replaced one keeps its own.
    TestServer s;
    QVERIFY(s.start());
    QVERIFY(s.write(QStringLiteral("plain.txt"), "p"));
    QVERIFY(s.write(QStringLiteral("kept.txt"), Old));
    const QFile::Permissions kept = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(s.path(QStringLiteral("kept.txt")), kept));

    QCOMPARE(s.request("PUT", "/fresh.txt", {}, New).status, QByteArray("201 Created"));
    QCOMPARE(s.request("PUT", "/kept.txt", {}, New).status, QByteArray("201 Created"));
    QCOMPARE(QFileInfo(s.path(QStringLiteral("fresh.txt"))).permissions(),
             QFileInfo(s.path(QStringLiteral("plain.txt"))).permissions());
    QCOMPARE(QFileInfo(s.path(QStringLiteral("kept.txt"))).permissions() & ~QFile::Permissions(0x7000 | 0x0700),
             kept & ~QFile::Permissions(0x7000 | 0x0700));
    QCOMPARE(s.read(QStringLiteral("kept.txt")), New);
}

void tst_DavWrite::clientSequences_data()
{
    // Requests on one connection, TOKEN standing for the token of the LOCK before.
    QTest::addColumn<QByteArrayList>("requests");
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<QByteArray>("content");  // of docs/copy.bin afterwards
    QTest::addColumn<qint64>("modified");     // its modification time afterwards; 0: any
    QTest::addColumn<QByteArray>("answered"); // a header line of the last answer, if any

    const QByteArray data = QByteArray(100000, 'f') + "end";
    QByteArray chunks;
    for (qsizetype at = 0; at < data.size(); at += 4096)
        chunks += QByteArray::number(qMin<qsizetype>(4096, data.size() - at), 16) + "\r\n" + data.mid(at, 4096) + "\r\n";
    chunks += "0\r\n\r\n";
    const QByteArray lockInfo = "<D:lockinfo xmlns:D=\"DAV:\"><D:lockscope><D:exclusive/></D:lockscope>"
                                "<D:locktype><D:write/></D:locktype></D:lockinfo>";
    const QByteArray lock = "LOCK /docs/copy.bin HTTP/1.1\r\nTimeout: Second-3600\r\nContent-Length: "
                            + QByteArray::number(lockInfo.size()) + "\r\n\r\n" + lockInfo;
    const QByteArray unlock = "UNLOCK /docs/copy.bin HTTP/1.1\r\nLock-Token: <TOKEN>\r\n\r\n";
    // macOS Finder copying a file: an empty file, locked, the content in chunks.
    QTest::addRow("Finder") << QByteArrayList{"PUT /docs/copy.bin HTTP/1.1\r\nContent-Length: 0\r\n\r\n", lock,
                                              "PUT /docs/copy.bin HTTP/1.1\r\nIf: (<TOKEN>)\r\nX-Expected-Entity-Length: 100003"
                                              "\r\nTransfer-Encoding: chunked\r\n\r\n" + chunks, unlock}
                            << QList<int>{201, 200, 201, 200} << data << qint64(0) << QByteArray();
    // Windows Explorer: the content, then the file's times and attributes.
    const QByteArray times = "<D:propertyupdate xmlns:D=\"DAV:\" xmlns:Z=\"urn:schemas-microsoft-com:\"><D:set><D:prop>"
                             "<Z:Win32LastModifiedTime>Tue, 05 Jan 2010 14:03:07 GMT</Z:Win32LastModifiedTime>"
                             "<Z:Win32FileAttributes>00000020</Z:Win32FileAttributes></D:prop></D:set></D:propertyupdate>";
    QTest::addRow("Explorer") << QByteArrayList{"PUT /docs/copy.bin HTTP/1.1\r\nContent-Length: 100003\r\n\r\n" + data,
                                                "PROPPATCH /docs/copy.bin HTTP/1.1\r\nContent-Length: "
                                                    + QByteArray::number(times.size()) + "\r\n\r\n" + times}
                              << QList<int>{201, 207} << data << qint64(1262700187) << QByteArray();
    // rclone with the vendor owncloud: the time comes with the file.
    QTest::addRow("rclone") << QByteArrayList{"PUT /docs/copy.bin HTTP/1.1\r\nX-OC-Mtime: 1262700187.5\r\n"
                                              "Transfer-Encoding: chunked\r\n\r\n" + chunks}
                            << QList<int>{201} << data << qint64(1262700187) << QByteArray("X-OC-Mtime: accepted");
    // Whoever does not name the token changes nothing while the lock is held; a lock on a new
    // name makes the file.
    QTest::addRow("a second client while a lock is held")
        << QByteArrayList{lock, "PUT /docs/copy.bin HTTP/1.1\r\nContent-Length: 0\r\n\r\n", lock,
                          "DELETE /docs/copy.bin HTTP/1.1\r\n\r\n",
                          "MOVE /docs/copy.bin HTTP/1.1\r\nDestination: /docs/moved.bin\r\n\r\n",
                          "DELETE /docs HTTP/1.1\r\n\r\n",
                          "PUT /docs/copy.bin HTTP/1.1\r\nIf: (<TOKEN>)\r\nContent-Length: 4\r\n\r\nmine", unlock,
                          "PUT /docs/copy.bin HTTP/1.1\r\nContent-Length: 3\r\n\r\nnew"}
        << QList<int>{201, 423, 423, 423, 423, 423, 201, 200, 201} << QByteArray("new") << qint64(0) << QByteArray();
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
        reply = client.exchange(QByteArray(requests.at(i)).replace("TOKEN", token));
        QVERIFY2(reply.code == codes.at(i), requests.at(i).left(30) + " answered " + reply.status);
        if (reply.hasHeader("Lock-Token"))
            token = reply.header("Lock-Token").replace('<', "").replace('>', "");
    }
    QCOMPARE(s.read(QStringLiteral("docs/copy.bin")), content);
    QCOMPARE(s.names(QStringLiteral("docs")), QStringList{QStringLiteral("copy.bin")});
    if (modified)
        QCOMPARE(QFileInfo(s.path(QStringLiteral("docs/copy.bin"))).lastModified().toSecsSinceEpoch(), modified);
    if (!answered.isEmpty()) {
        const qsizetype colon = answered.indexOf(':');
        QCOMPARE(reply.header(answered.left(colon)), answered.mid(colon + 2));
    }
}

void tst_DavWrite::putThatFailsChangesNothing_data()
{
    QTest::addColumn<bool>("existing");
    QTest::addColumn<bool>("dropped"); // the client goes away; else the disk is full
    QTest::addRow("disk full, replacing a file") << true << false;
    QTest::addRow("disk full, a new file") << false << false;
    QTest::addRow("dropped, replacing a file") << true << true;
}

void tst_DavWrite::putThatFailsChangesNothing()
{
    QFETCH(bool, existing);
    QFETCH(bool, dropped);

    TestServer s;
    QVERIFY(s.start());
    if (existing)
        QVERIFY(s.write(QStringLiteral("t.txt"), Old));
    const QStringList before = s.names();
    if (dropped) {
        HttpClient client(s.port());
        const QByteArray head = "PUT /t.txt HTTP/1.1\r\nContent-Length: 100000\r\n\r\n";
        const QByteArray part(30000, 'n');
        client.send(head + part);
        // The server has taken in part of the body, but not all of it.
        QTRY_VERIFY(s.server->traffic.receivedBytes >= head.size() + part.size());
        QCOMPARE(s.read(QStringLiteral("t.txt")), existing ? Old : QByteArray());
        QCOMPARE(s.exists(QStringLiteral("t.txt")), existing);
        client.abort();
        QTRY_VERIFY(s.server->threads.isEmpty());
    } else {
        FileSizeLimit limit(4096);
        QVERIFY(limit.active);
        QCOMPARE(s.request("PUT", "/t.txt", {}, QByteArray(20000, 'x')).status,
                 QByteArray("507 Insufficient Storage"));
    }
    QCOMPARE(s.names(), before);
    QCOMPARE(s.read(QStringLiteral("t.txt")), existing ? Old : QByteArray());
}

void tst_DavWrite::deleting_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<bool>("deleting");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QStringList>("left"); // what remains of the tree, sorted

    const QStringList all = {"docs", "docs/a.txt", "docs/link", "docs/sub", "docs/sub/b.txt", "keep",
                             "keep/k.txt", "top.txt"};
    auto without = [&all](const QStringList &gone) {
        QStringList left = all;
        for (const QString &g : gone)
            left.removeAll(g);
        return left;
    };
    QTest::addRow("deleting disabled") << QByteArray("/top.txt") << false << QByteArray("423 Read-only") << all;
    QTest::addRow("missing name") << QByteArray("/none.txt") << true << QByteArray("200 Not exists") << all;
    QTest::addRow("file") << QByteArray("/top.txt") << true << QByteArray("200 File deleted")
                          << without({"top.txt"});
    QTest::addRow("folder tree, its link removed as a link")
        << QByteArray("/docs") << true << QByteArray("200 Dir deleted")
        << without({"docs", "docs/a.txt", "docs/link", "docs/sub", "docs/sub/b.txt"});
    QTest::addRow("link to a folder: the link only") << QByteArray("/docs/link") << true
                                                     << QByteArray("200 File deleted") << without({"docs/link"});
    QTest::addRow("the shared folder") << QByteArray("/") << true << QByteArray("403 Forbidden") << all;
    QTest::addRow("the shared folder, dot") << QByteArray("/.") << true << QByteArray("403 Forbidden") << all;
}

void tst_DavWrite::deleting()
{
    QFETCH(QByteArray, target);
    QFETCH(bool, deleting);
    QFETCH(QByteArray, status);
    QFETCH(QStringList, left);

    TestServer s;
    QVERIFY(s.start());
    s.config.enableDelete = deleting ? CheckState::On : CheckState::Off;
    QVERIFY(s.write(QStringLiteral("docs/a.txt"), "a"));
    QVERIFY(s.write(QStringLiteral("docs/sub/b.txt"), "b"));
    QVERIFY(s.write(QStringLiteral("keep/k.txt"), "k"));
    QVERIFY(s.write(QStringLiteral("top.txt"), "t"));
    QVERIFY(QFile::link(s.path(QStringLiteral("keep")), s.path(QStringLiteral("docs/link"))));

    const HttpReply r = s.request("DELETE", target);
    QVERIFY(r.complete);
    QCOMPARE(r.status, status);
    QCOMPARE(r.header("Content-Length"), QByteArray("0"));

    QStringList tree;
    for (QDirIterator it(s.share, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories); it.hasNext();)
        tree.append(QDir(s.share).relativeFilePath(it.next()));
    tree.sort();
    QCOMPARE(tree, left);
}

void tst_DavWrite::mkcol_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<bool>("upload");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QString>("folder"); // must exist afterwards, when not empty
    QTest::addColumn<QByteArray>("body");

    const QByteArray none;
    QTest::addRow("new folder") << QByteArray("/new") << true << QByteArray("201 Created") << "new" << none;
    QTest::addRow("missing parents") << QByteArray("/docs/b/c") << true << QByteArray("201 Created")
                                     << "docs/b/c" << none;
    QTest::addRow("a file in the way") << QByteArray("/file.txt") << true << QByteArray("500 MKPATH Failed")
                                       << "" << none;
    QTest::addRow("with a body") << QByteArray("/bodied") << true << QByteArray("415 Unsupported Media Type")
                                 << "" << QByteArray("<x/>");
}

void tst_DavWrite::mkcol()
{
    QFETCH(QByteArray, target);
    QFETCH(bool, upload);
    QFETCH(QByteArray, status);
    QFETCH(QString, folder);
    QFETCH(QByteArray, body);

    TestServer s;
    QVERIFY(s.start());
    s.config.enableUpload = upload ? CheckState::On : CheckState::Off;
    QVERIFY(s.mkdir(QStringLiteral("docs")));
    QVERIFY(s.write(QStringLiteral("file.txt"), "f"));
    const HttpReply r = s.request("MKCOL", target, {}, body);
    QCOMPARE(r.status, status);
    if (!body.isEmpty())
        QVERIFY(!s.exists(QStringLiteral("bodied")));
    if (!folder.isEmpty())
        QVERIFY(QFileInfo(s.path(folder)).isDir());
    QCOMPARE(s.read(QStringLiteral("file.txt")), QByteArray("f"));
}

QTEST_GUILESS_MAIN(tst_DavWrite)
#include "tst_davwrite.moc"
