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
    void described_data();
    void described();
    void refused_data();
    void refused();
    void named_data();
    void named();
    void foldersHidden();
    void httpsHrefs();
    void proppatch_data();
    void proppatch();
    void deadPropertiesTravel_data();
    void deadPropertiesTravel();

private:
    // The hrefs of a multistatus document with the server's base URL taken off.
    QStringList hrefs(const QByteArray &body) const;

    TestServer s;
};

namespace {
// Tue, 5 Jan 2010 14:03:07 GMT
constexpr qint64 January5 = 1262700187;
} // namespace

void tst_PropFind::initTestCase()
{
    QVERIFY(s.start());
    QVERIFY(s.write(QStringLiteral("docs/a.txt"), "hello"));
    QVERIFY(s.write(QStringLiteral("docs/B.txt"), "B"));
    QVERIFY(s.write(QStringLiteral("docs/.hidden"), "h"));
    QVERIFY(s.write(QString::fromUtf8("docs/sub/\xc3\xa9t\xc3\xa9 #1.txt"), "ete"));
    QVERIFY(s.write(QStringLiteral("Tom & Jerry.mp3"), "x"));
    QVERIFY(s.setModified(QStringLiteral("docs/a.txt"), January5));
    QVERIFY(s.setModified(QStringLiteral("docs/sub"), January5));
    // What the server keeps to itself is never listed: the profile folder in the share.
    QVERIFY(s.mkdir(QStringLiteral("docs/.kestrune")));
    Configuration::ConfigDir = s.path(QStringLiteral("docs/.kestrune/"));
}

QStringList tst_PropFind::hrefs(const QByteArray &body) const
{
    QStringList out;
    static const QRegularExpression href(QStringLiteral("<(?:\\w+:)?href>([^<]*)</"));
    auto it = href.globalMatch(QString::fromUtf8(body));
    const QString base = QString::fromLatin1(s.base());
    while (it.hasNext()) {
        QString h = it.next().captured(1);
        out.append(h.startsWith(base) ? h.mid(base.size()) : h);
    }
    return out;
}

void tst_PropFind::described_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("depth"); // empty: no Depth header
    QTest::addColumn<QStringList>("expected");

    const QString tom = QStringLiteral("/Tom%20&amp;%20Jerry.mp3");
    // Hidden entries too: what a client stored, it finds again.
    const QStringList docsEntries = {QStringLiteral("/docs/.hidden"), QStringLiteral("/docs/B.txt"),
                                     QStringLiteral("/docs/a.txt"), QStringLiteral("/docs/sub")};
    QTest::addRow("root, Depth 0") << QByteArray("/") << QByteArray("0") << QStringList{"/"};
    QTest::addRow("root, Depth 1: itself first") << QByteArray("/") << QByteArray("1")
                                                << QStringList{"/", tom, "/docs"};
    QTest::addRow("root, no Depth: its entries") << QByteArray("/") << QByteArray() << QStringList{tom, "/docs"};
    QTest::addRow("folder, Depth 1: itself first")
        << QByteArray("/docs") << QByteArray("1") << (QStringList{"/docs"} + docsEntries);
    QTest::addRow("folder, no Depth: itself") << QByteArray("/docs") << QByteArray() << QStringList{"/docs"};
    QTest::addRow("folder/, no Depth: its entries") << QByteArray("/docs/") << QByteArray() << docsEntries;
    QTest::addRow("folder/, Depth 0: one slash stripped") << QByteArray("/docs/") << QByteArray("0")
                                                          << QStringList{"/docs"};
    QTest::addRow("encoded names") << QByteArray("/docs/sub") << QByteArray("1")
                                   << QStringList{"/docs/sub", "/docs/sub/%C3%A9t%C3%A9%20%231.txt"};
    QTest::addRow("encoded request path") << QByteArray("/Tom%20%26%20Jerry.mp3") << QByteArray("1")
                                          << QStringList{tom};
}

void tst_PropFind::described()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, depth);
    QFETCH(QStringList, expected);

    QList<QByteArray> headers;
    if (!depth.isEmpty())
        headers.append("Depth: " + depth);
    const HttpReply r = s.request("PROPFIND", target, headers);
    QVERIFY(r.complete);
    QCOMPARE(r.status, QByteArray("207 Multi-Status"));
    QCOMPARE(r.header("Content-Type"), QByteArray("text/xml; charset=\"utf-8\""));
    QCOMPARE(hrefs(r.body), expected);
}

void tst_PropFind::refused_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("depth");
    QTest::addColumn<QByteArray>("requestBody");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("answer"); // in the body, with Content-Type text/xml; empty: no body

    const QByteArray none;
    QTest::addRow("missing name") << QByteArray("/nothing") << QByteArray("1") << none
                                  << QByteArray("404 Not Found") << none;
    QTest::addRow("file named with a slash") << QByteArray("/docs/a.txt/") << none << none
                                             << QByteArray("404 Not Found") << none;
    // The whole tree is walked by the client, one folder at a time (RFC 4918 9.1).
    const QByteArray finite = "<D:error xmlns:D=\"DAV:\"><D:propfind-finite-depth/></D:error>";
    QTest::addRow("Depth infinity") << QByteArray("/docs") << QByteArray("infinity") << none
                                    << QByteArray("403 Forbidden") << finite;
    QTest::addRow("Depth Infinity, a file") << QByteArray("/docs/a.txt") << QByteArray("Infinity") << none
                                            << QByteArray("403 Forbidden") << finite;
    // A body that is not a propfind document is refused, never taken as allprop.
    QTest::addRow("another document") << QByteArray("/docs") << QByteArray("0")
                                      << QByteArray("<propfind xmlns=\"urn:other\"><allprop/></propfind>")
                                      << QByteArray("400 Bad Request") << none;
    QTest::addRow("propfind asking nothing") << QByteArray("/docs") << QByteArray("0")
                                             << QByteArray("<propfind xmlns=\"DAV:\"/>")
                                             << QByteArray("400 Bad Request") << none;
}

void tst_PropFind::refused()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, depth);
    QFETCH(QByteArray, requestBody);
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, answer);

    const HttpReply r = s.request("PROPFIND", target, depth.isEmpty() ? QList<QByteArray>() : QList{"Depth: " + depth},
                                  requestBody);
    QVERIFY(r.complete);
    QCOMPARE(r.status, status);
    QVERIFY2(answer.isEmpty() ? r.body.isEmpty() : r.body.contains(answer), r.body.constData());
    QCOMPARE(r.header("Content-Type").isNull(), answer.isEmpty());
}

void tst_PropFind::named_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("ask"); // inside D:propfind
    QTest::addColumn<QByteArrayList>("found"); // in the 200 propstat, in this order
    QTest::addColumn<QByteArrayList>("missing"); // in the 404 propstat; empty: there is none

    const QByteArray date = "<D:getlastmodified>Tue, 05 Jan 2010 14:03:07 GMT</D:getlastmodified>";
    QTest::addRow("a time and a size") << QByteArray("/docs/a.txt")
                                       << QByteArray("<D:prop><D:getcontentlength/><D:getlastmodified/></D:prop>")
                                       << QByteArrayList{"<D:getcontentlength>5</D:getcontentlength>", date}
                                       << QByteArrayList{};
    // The room on the file system, for folders (RFC 4331): Finder shows it.
    QTest::addRow("quota of a folder")
        << QByteArray("/docs") << QByteArray("<D:prop><D:quota-available-bytes/><D:quota-used-bytes/></D:prop>")
        << QByteArrayList{"<D:quota-available-bytes>", "</D:quota-available-bytes><D:quota-used-bytes>"}
        << QByteArrayList{};
    QTest::addRow("allprop of a folder") << QByteArray("/docs") << QByteArray("<D:allprop/>")
                                         << QByteArrayList{"<D:resourcetype><D:collection/></D:resourcetype>",
                                                           "<D:supportedlock><D:lockentry>"}
                                         << QByteArrayList{};
    QTest::addRow("allprop with include") << QByteArray("/docs/a.txt")
                                          << QByteArray("<D:allprop/><D:include><D:resourcetype/>"
                                                        "<D:quota-used-bytes/></D:include>")
                                          << QByteArrayList{date, "<D:getcontentlength>5</D:getcontentlength>",
                                                            "<D:resourcetype/>"}
                                          << QByteArrayList{"<D:quota-used-bytes/>"};
}

void tst_PropFind::named()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, ask);
    QFETCH(QByteArrayList, found);
    QFETCH(QByteArrayList, missing);

    const HttpReply r = s.request("PROPFIND", target, {"Depth: 0"}, "<D:propfind xmlns:D=\"DAV:\">" + ask + "</D:propfind>");
    QCOMPARE(r.status, QByteArray("207 Multi-Status"));
    const qsizetype notFound = r.body.indexOf("<D:status>HTTP/1.1 404 Not Found</D:status>");
    const qsizetype ok = r.body.indexOf("<D:status>HTTP/1.1 200 OK</D:status>");
    QCOMPARE(ok >= 0, !found.isEmpty());
    qsizetype at = 0;
    for (const QByteArray &piece : found) {
        at = r.body.indexOf(piece, at);
        QVERIFY2(at >= 0 && at < ok, piece.constData());
    }
    QCOMPARE(notFound >= 0, !missing.isEmpty());
    for (const QByteArray &piece : missing) {
        const qsizetype where = r.body.indexOf("<D:prop>" + piece + "</D:prop>", qMax<qsizetype>(ok, 0));
        QVERIFY2(where >= 0 && where < notFound, piece.constData());
    }
}

void tst_PropFind::foldersHidden()
{
    s.config.showFolders = CheckState::Off;
    const HttpReply r = s.request("PROPFIND", "/", {"Depth: 1"});
    s.config.showFolders = CheckState::On;
    QCOMPARE(r.status, QByteArray("207 Multi-Status"));
    QStringList files = hrefs(r.body);
    files.removeAll(QStringLiteral("/patched.txt"));
    files.removeAll(QStringLiteral("/pd"));
    QCOMPARE(files, (QStringList{"/", "/Tom%20&amp;%20Jerry.mp3"}));
}

void tst_PropFind::httpsHrefs()
{
    TestServer secure;
    QVERIFY(secure.startTls());
    QVERIFY(secure.write(QStringLiteral("a.txt"), "a"));
    const HttpReply r = secure.request("PROPFIND", "/a.txt", {"Depth: 1"});
    QVERIFY(r.complete);
    QCOMPARE(r.status, QByteArray("207 Multi-Status"));
    const QByteArray expected = "<href>https://127.0.0.1:" + QByteArray::number(secure.port()) + "/a.txt</href>";
    QVERIFY2(r.body.contains(expected), r.body.constData());
}

namespace {
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

void tst_PropFind::proppatch_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("requestBody");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArrayList>("results"); // each property's status, in the order asked
    // What an allprop PROPFIND of the target holds afterwards ("!": does not hold), and "@N": the
    // modification time is N.
    QTest::addColumn<QByteArrayList>("after");

    const QByteArray p = "/patched.txt";
    const QByteArray a = set("<t:a>first</t:a>");
    const QByteArray stored = "<t:a xmlns=\"\" xmlns:D=\"DAV:\" xmlns:t=\"urn:t\" xmlns:Z=\"urn:schemas-microsoft-com:\">";
    const QByteArray multi = "207 Multi-Status";
    QTest::addRow("a dead property") << p << update(a) << multi << QByteArrayList{"200 OK"}
                                     << QByteArrayList{stored + "first</t:a>", "@1000000000"};
    // The times clients keep: HTTP dates, and rclone's seconds.
    QTest::addRow("getlastmodified sets the time")
        << p << update(set("<D:getlastmodified>Tue, 05 Jan 2010 14:03:07 GMT</D:getlastmodified>")) << multi
        << QByteArrayList{"200 OK"} << QByteArrayList{"@1262700187", "Tue, 05 Jan 2010 14:03:07 GMT"};
    QTest::addRow("lastmodified in seconds") << p << update(set("<D:lastmodified>1262700187</D:lastmodified>"))
                                             << multi << QByteArrayList{"200 OK"} << QByteArrayList{"@1262700187"};
    QTest::addRow("Win32 times and attributes")
        << p
        << update(set("<Z:Win32CreationTime>Mon, 04 Jan 2010 10:00:00 GMT</Z:Win32CreationTime>"
                      "<Z:Win32LastAccessTime>Tue, 05 Jan 2010 14:03:07 GMT</Z:Win32LastAccessTime>"
                      "<Z:Win32LastModifiedTime>Tue, 05 Jan 2010 14:03:07 GMT</Z:Win32LastModifiedTime>"
                      "<Z:Win32FileAttributes>00000020</Z:Win32FileAttributes>"))
        << multi << QByteArrayList{"200 OK", "200 OK", "200 OK", "200 OK"}
        << QByteArrayList{"@1262700187", ">00000020</Z:Win32FileAttributes>", ">Mon, 04 Jan 2010 10:00:00 GMT</Z:"};
    // All or nothing: one refused property leaves everything as it was.
    QTest::addRow("protected getetag") << p << update(a + set("<D:getetag>\"x\"</D:getetag>")) << multi
                                       << QByteArrayList{"424 Failed Dependency", "403 Forbidden"}
                                       << QByteArrayList{"!</t:a>", "@1000000000"};
    QTest::addRow("a time that is none") << p
                                         << update(set("<D:getlastmodified>soon</D:getlastmodified>") + a)
                                         << multi << QByteArrayList{"409 Conflict", "424 Failed Dependency"}
                                         << QByteArrayList{"!</t:a>", "@1000000000"};
    // The file system refuses a name of more than 255 bytes: what was stored before is undone.
    const QByteArray longName = "<l xmlns=\"urn:" + QByteArray(300, 'l') + "\">x</l>";
    QTest::addRow("refused by the file system")
        << p << update(a + set("<D:getlastmodified>Tue, 05 Jan 2010 14:03:07 GMT</D:getlastmodified>" + longName))
        << multi << QByteArrayList{"424 Failed Dependency", "424 Failed Dependency", "507 Insufficient Storage"}
        << QByteArrayList{"!</t:a>", "!</l>", "@1000000000"};
    QTest::addRow("a folder") << QByteArray("/pd") << update(set("<t:f>folder</t:f>")) << multi
                              << QByteArrayList{"200 OK"} << QByteArrayList{">folder</t:f>"};
    QTest::addRow("no instructions") << p << update(QByteArray()) << QByteArray("400 Bad Request")
                                     << QByteArrayList{} << QByteArrayList{};
    QTest::addRow("another document") << p << QByteArray("<D:propfind xmlns:D=\"DAV:\"><D:allprop/></D:propfind>")
                                      << QByteArray("400 Bad Request") << QByteArrayList{} << QByteArrayList{};
}

void tst_PropFind::proppatch()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, requestBody);
    QFETCH(QByteArray, status);
    QFETCH(QByteArrayList, results);
    QFETCH(QByteArrayList, after);

    // A new file each time: its properties go with the old one.
    QFile::remove(s.path(QStringLiteral("patched.txt")));
    QVERIFY(s.write(QStringLiteral("patched.txt"), "p"));
    QVERIFY(s.setModified(QStringLiteral("patched.txt"), 1000000000));
    QVERIFY(s.mkdir(QStringLiteral("pd")));
    const HttpReply r = s.request("PROPPATCH", target, {}, requestBody);
    QVERIFY(r.complete);
    QCOMPARE(r.status, status);
    QByteArrayList statuses;
    static const QRegularExpression each(QStringLiteral("<D:status>HTTP/1.1 ([^<]*)</D:status>"));
    for (auto it = each.globalMatch(QString::fromUtf8(r.body)); it.hasNext();)
        statuses.append(it.next().captured(1).toUtf8());
    QCOMPARE(statuses, results);
    if (!results.isEmpty())
        QVERIFY(r.body.contains("<D:href>" + s.base() + target + "</D:href>"));
    QCOMPARE(r.body.contains("<D:cannot-modify-protected-property/>"), results.contains("403 Forbidden"));

    const HttpReply listed = s.request("PROPFIND", target, {"Depth: 0"});
    for (const QByteArray &fact : after) {
        if (fact.startsWith('@'))
            QCOMPARE(QFileInfo(s.path(QString::fromUtf8(target))).lastModified().toSecsSinceEpoch(), fact.mid(1).toLongLong());
        else if (fact.startsWith('!'))
            QVERIFY2(!listed.body.contains(fact.mid(1)), listed.body.constData());
        else
            QVERIFY2(listed.body.contains(fact), listed.body.constData());
    }
}

void tst_PropFind::deadPropertiesTravel_data()
{
    QTest::addColumn<QByteArray>("method"); // or "restart": a new listener on the same share
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("destination");
    QTest::addColumn<QByteArray>("listed"); // the folder listed with Depth 1 afterwards

    QTest::addRow("COPY of a folder") << QByteArray("COPY") << QByteArray("/t") << QByteArray("/t2/t")
                                      << QByteArray("/t2/t/");
    QTest::addRow("a restart") << QByteArray("restart") << QByteArray("/t/f.txt") << QByteArray("/t/f.txt")
                               << QByteArray("/t/");
}

void tst_PropFind::deadPropertiesTravel()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, destination);
    QFETCH(QByteArray, listed);

    TestServer own;
    QVERIFY(own.start());
    QVERIFY(own.write(QStringLiteral("t/f.txt"), "f"));
    QVERIFY(own.mkdir(QStringLiteral("t2")));
    QCOMPARE(own.request("PROPPATCH", source, {}, update(set("<t:p>kept</t:p>"))).status, QByteArray("207 Multi-Status"));
    if (method == "restart") {
        std::unique_ptr<WebServer> next = own.copyListener();
        own.server = std::move(next);
        QVERIFY(own.server->start());
    } else {
        QVERIFY(own.request(method, source, {"Destination: " + own.base() + destination}, "new").code / 100 == 2);
    }
    // By name, and among all properties of the folder's entries.
    const HttpReply named = own.request("PROPFIND", destination, {"Depth: 0"},
                                        "<propfind xmlns=\"DAV:\"><prop><p xmlns=\"urn:t\"/></prop></propfind>");
    QVERIFY2(named.body.contains(">kept</t:p>") && !named.body.contains(" 404 "), named.body.constData());
    const HttpReply all = own.request("PROPFIND", listed, {"Depth: 1"});
    QCOMPARE(all.body.count(">kept</t:p>"), 1);
}

QTEST_GUILESS_MAIN(tst_PropFind)
#include "tst_propfind.moc"
