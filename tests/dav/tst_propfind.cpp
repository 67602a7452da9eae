#include "testserver.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

// PROPFIND over a real connection: which items a request describes, and the document byte for
// byte.
class tst_PropFind : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void described_data();
    void described();
    void missing_data();
    void missing();
    void document_data();
    void document();
    void dates_data();
    void dates();
    void foldersHidden();
    void httpsHrefs();
    void keepAlive();

private:
    // The hrefs of a multistatus document with the server's base URL taken off.
    QStringList hrefs(const QByteArray &body) const;
    QByteArray head(const QByteArray &prefix) const;

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

QByteArray tst_PropFind::head(const QByteArray &prefix) const
{
    QByteArray out = "<?xml version=\"1.0\" encoding=\"utf-8\"?><" + prefix + "multistatus xmlns";
    if (!prefix.isEmpty())
        out += ':' + prefix.left(1);
    return out + "=\"DAV:\">";
}

void tst_PropFind::described_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("depth"); // empty: no Depth header
    QTest::addColumn<QStringList>("expected");

    const QString tom = QStringLiteral("/Tom%20&amp;%20Jerry.mp3");
    const QStringList docsEntries = {QStringLiteral("/docs/B.txt"), QStringLiteral("/docs/a.txt"),
                                     QStringLiteral("/docs/sub")};
    QTest::addRow("root, Depth 0") << QByteArray("/") << QByteArray("0") << QStringList{"/"};
    QTest::addRow("root, Depth 1: itself first") << QByteArray("/") << QByteArray("1")
                                                << QStringList{"/", tom, "/docs"};
    QTest::addRow("root, no Depth: its entries") << QByteArray("/") << QByteArray() << QStringList{tom, "/docs"};
    QTest::addRow("folder, Depth 1: itself first")
        << QByteArray("/docs") << QByteArray("1") << (QStringList{"/docs"} + docsEntries);
    QTest::addRow("folder/, Depth 1: itself first")
        << QByteArray("/docs/") << QByteArray("1") << (QStringList{"/docs"} + docsEntries);
    QTest::addRow("folder, Depth infinity as 1")
        << QByteArray("/docs") << QByteArray("infinity") << (QStringList{"/docs"} + docsEntries);
    QTest::addRow("folder, no Depth: itself") << QByteArray("/docs") << QByteArray() << QStringList{"/docs"};
    QTest::addRow("folder/, no Depth: its entries") << QByteArray("/docs/") << QByteArray() << docsEntries;
    QTest::addRow("folder/, Depth 0: one slash stripped") << QByteArray("/docs/") << QByteArray("0")
                                                          << QStringList{"/docs"};
    QTest::addRow("file, Depth 1") << QByteArray("/docs/a.txt") << QByteArray("1") << QStringList{"/docs/a.txt"};
    QTest::addRow("file, Depth infinity") << QByteArray("/docs/a.txt") << QByteArray("infinity")
                                          << QStringList{"/docs/a.txt"};
    QTest::addRow("file, Depth 0") << QByteArray("/docs/a.txt") << QByteArray("0") << QStringList{"/docs/a.txt"};
    QTest::addRow("file, no Depth") << QByteArray("/docs/a.txt") << QByteArray() << QStringList{"/docs/a.txt"};
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

void tst_PropFind::missing_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("depth");

    QTest::addRow("missing name") << QByteArray("/nothing") << QByteArray("1");
    QTest::addRow("missing name, Depth 0") << QByteArray("/nothing") << QByteArray("0");
    QTest::addRow("missing folder/") << QByteArray("/nothing/") << QByteArray();
    QTest::addRow("file named with a slash") << QByteArray("/docs/a.txt/") << QByteArray();
}

void tst_PropFind::missing()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, depth);

    const HttpReply r = s.request("PROPFIND", target, depth.isEmpty() ? QList<QByteArray>() : QList{"Depth: " + depth});
    QVERIFY(r.complete);
    QCOMPARE(r.status, QByteArray("404 Not Found"));
    QCOMPARE(r.header("Content-Length"), QByteArray("0"));
    QVERIFY(r.header("Content-Type").isNull());
}

void tst_PropFind::document_data()
{
    QTest::addColumn<QByteArray>("requestBody");
    QTest::addColumn<QByteArray>("prefix");

    QTest::addRow("prefix D:") << QByteArray("<?xml version=\"1.0\"?><D:propfind xmlns:D=\"DAV:\"><D:allprop/></D:propfind>")
                               << QByteArray("D:");
    QTest::addRow("no prefix") << QByteArray("<?xml version=\"1.0\"?><propfind xmlns=\"DAV:\"><allprop/></propfind>")
                               << QByteArray();
    QTest::addRow("no body") << QByteArray() << QByteArray();
    QTest::addRow("two letters: the last one") << QByteArray("<ns:propfind xmlns:ns=\"DAV:\"><ns:prop/></ns:propfind>")
                                               << QByteArray("s:");
    QTest::addRow("no blank after propfind") << QByteArray("<D:propfind>\n<D:prop/></D:propfind>") << QByteArray();
    QTest::addRow("colon at the very start") << QByteArray(":propfind xmlns=\"DAV:\"/>") << QByteArray();
    QTest::addRow("no letter before the colon") << QByteArray("<1:propfind xmlns:1=\"DAV:\"/>") << QByteArray();
}

void tst_PropFind::document()
{
    QFETCH(QByteArray, requestBody);
    QFETCH(QByteArray, prefix);
    const QByteArray &p = prefix;
    const QByteArray subSize = QByteArray::number(QFileInfo(s.path(QStringLiteral("docs/sub"))).size());
    // No lock held; write locks of both kinds may be taken.
    const auto locks = [](const QByteArray &p) {
        QByteArray entries;
        for (const char *scope : {"exclusive", "shared"})
            entries += '<' + p + "lockentry><" + p + "lockscope><" + p + scope + "/></" + p + "lockscope><" + p
                       + "locktype><" + p + "write/></" + p + "locktype></" + p + "lockentry>";
        return '<' + p + "lockdiscovery/><" + p + "supportedlock>" + entries + "</" + p + "supportedlock>";
    };

    // A file: no resourcetype.
    HttpReply r = s.request("PROPFIND", "/docs/a.txt", {"Depth: 0"}, requestBody);
    QCOMPARE(r.status, QByteArray("207 Multi-Status"));
    QByteArray expected = head(p) + '<' + p + "response><" + p + "href>" + s.base() + "/docs/a.txt</" + p
                          + "href><" + p + "propstat><" + p + "prop><" + p
                          + "getlastmodified>Tue, 5 Jan 2010 14:03:07 GMT</" + p + "getlastmodified><" + p
                          + "getcontentlength>5</" + p + "getcontentlength><" + p + "getetag>"
                          + s.request("GET", "/docs/a.txt").header("ETag") + "</" + p + "getetag>" + locks(p)
                          + "</" + p + "prop><" + p + "status>HTTP/1.1 200 OK</" + p + "status></" + p
                          + "propstat></" + p + "response></" + p + "multistatus>";
    QCOMPARE(r.body, expected);
    QCOMPARE(r.header("Content-Length"), QByteArray::number(expected.size()));

    // A folder: a collection with the size the file system reports, no trailing slash.
    r = s.request("PROPFIND", "/docs/sub/", {"Depth: 0"}, requestBody);
    QCOMPARE(r.status, QByteArray("207 Multi-Status"));
    expected = head(p) + '<' + p + "response><" + p + "href>" + s.base() + "/docs/sub</" + p + "href><" + p
               + "propstat><" + p + "prop><" + p + "getlastmodified>Tue, 5 Jan 2010 14:03:07 GMT</" + p
               + "getlastmodified><" + p + "resourcetype><" + p + "collection/></" + p + "resourcetype><" + p
               + "getcontentlength>" + subSize + "</" + p + "getcontentlength>" + locks(p) + "</" + p + "prop><" + p
               + "status>HTTP/1.1 200 OK</" + p + "status></" + p + "propstat></" + p + "response></" + p
               + "multistatus>";
    QCOMPARE(r.body, expected);
}

void tst_PropFind::dates_data()
{
    QTest::addColumn<qint64>("modified");
    QTest::addColumn<QByteArray>("expected");

    QTest::addRow("day without leading zero") << January5 << QByteArray("Tue, 5 Jan 2010 14:03:07 GMT");
    QTest::addRow("two-digit day") << qint64(883612799) << QByteArray("Wed, 31 Dec 1997 23:59:59 GMT");
    QTest::addRow("leap day") << qint64(1582934400) << QByteArray("Sat, 29 Feb 2020 00:00:00 GMT");
    QTest::addRow("23:30 local at UTC+2")
        << QDateTime(QDate(2010, 6, 1), QTime(23, 30), Qt::LocalTime).toSecsSinceEpoch()
        << QByteArray("Tue, 1 Jun 2010 21:30:00 GMT");
}

void tst_PropFind::dates()
{
    QFETCH(qint64, modified);
    QFETCH(QByteArray, expected);
    if (QDateTime::currentDateTime().offsetFromUtc() != 7200)
        QSKIP("needs TZ=UTC-2 in the environment (set by CTest)");

    QVERIFY(s.write(QStringLiteral("dated.txt"), "d"));
    QVERIFY(s.setModified(QStringLiteral("dated.txt"), modified));
    const HttpReply r = s.request("PROPFIND", "/dated.txt", {"Depth: 0"});
    QCOMPARE(r.status, QByteArray("207 Multi-Status"));
    QVERIFY2(r.body.contains("<getlastmodified>" + expected + "</getlastmodified>"), r.body.constData());
}

void tst_PropFind::foldersHidden()
{
    s.config.showFolders = CheckState::Off;
    const HttpReply r = s.request("PROPFIND", "/", {"Depth: 1"});
    s.config.showFolders = CheckState::On;
    QCOMPARE(r.status, QByteArray("207 Multi-Status"));
    QStringList files = hrefs(r.body);
    files.removeAll(QStringLiteral("/dated.txt"));
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

void tst_PropFind::keepAlive()
{
    // Two requests on one connection: the second is not answered with anything of the first.
    HttpClient client(s.port());
    client.send("PROPFIND /docs/a.txt HTTP/1.1\r\nDepth: 0\r\nContent-Length: 27\r\n\r\n<D:propfind xmlns:D=\"DAV:\">");
    const HttpReply first = client.reply();
    QCOMPARE(first.status, QByteArray("207 Multi-Status"));
    QVERIFY(first.body.contains("<D:href>"));
    client.send("PROPFIND /docs/B.txt HTTP/1.1\r\nDepth: 0\r\n\r\n");
    const HttpReply second = client.reply();
    QCOMPARE(second.status, QByteArray("207 Multi-Status"));
    QCOMPARE(hrefs(second.body), QStringList{"/docs/B.txt"});
    QVERIFY(second.body.startsWith(head(QByteArray())));
}

QTEST_GUILESS_MAIN(tst_PropFind)
#include "tst_propfind.moc"
