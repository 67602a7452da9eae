#include "testserver.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <unistd.h>

// COPY and MOVE: what they answer and what the share holds afterwards. Neither may ever destroy
// its source or leave the share.
class tst_CopyMove : public QObject
{
    Q_OBJECT

private slots:
    void copy_data();
    void copy();
    void move_data();
    void move();
    void overwriteInFolderCopy();

private:
    static void addRefusals();
    void prepare(TestServer &s);
    void run(const QByteArray &method);
};

namespace {
// Columns: source, destination header (null: absent; BASE is this listener's URL, PORT its port),
// Overwrite (null: absent), deleting enabled,
// status, and facts about the share afterwards: "path=content", "!path" (absent), "path/" (folder),
// "path@" (the modification time the files were given, January5).
void addColumns()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("destination");
    QTest::addColumn<QByteArray>("overwrite");
    QTest::addColumn<bool>("deleting");
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QStringList>("facts");
}

void row(const char *name, const char *source, const QByteArray &destination, const QByteArray &overwrite,
         bool deleting, const char *status, const QStringList &facts)
{
    QTest::newRow(name) << QByteArray(source) << destination << overwrite << deleting << QByteArray(status) << facts;
}
} // namespace

namespace {
constexpr qint64 January5 = 1262700187;
} // namespace

void tst_CopyMove::prepare(TestServer &s)
{
    QVERIFY(s.start());
    QVERIFY(s.write(QStringLiteral("a.txt"), "A"));
    QVERIFY(s.write(QStringLiteral("b.txt"), "B"));
    QVERIFY(s.write(QStringLiteral("docs/x.txt"), "X"));
    QVERIFY(s.write(QStringLiteral("docs/y y.txt"), "Y"));
    QVERIFY(s.write(QStringLiteral("docs/sub/z.txt"), "Z"));
    QVERIFY(s.mkdir(QStringLiteral("docs2")));
    QVERIFY(s.mkdir(QStringLiteral("sub")));
    // A link loop inside the folder that gets copied.
    QVERIFY(QFile::link(s.path(QStringLiteral("docs")), s.path(QStringLiteral("docs/loop"))));
    QVERIFY(::link(QFile::encodeName(s.path(QStringLiteral("a.txt"))).constData(),
                   QFile::encodeName(s.path(QStringLiteral("hard.txt"))).constData()) == 0);
    QVERIFY(QFile::link(s.path(QStringLiteral("a.txt")), s.path(QStringLiteral("alink.txt"))));
    // A link that leads out of the share.
    QVERIFY(QFile::link(s.outsidePath(), s.path(QStringLiteral("out"))));
    for (const char *dated : {"a.txt", "docs/x.txt", "docs/sub/z.txt", "docs/sub", "docs"})
        QVERIFY(s.setModified(QLatin1String(dated), January5));
}

void tst_CopyMove::addRefusals()
{
    const QByteArray b = "BASE";
    const QStringList intact = {"a.txt=A", "b.txt=B", "docs/x.txt=X", "docs/sub/z.txt=Z", "hard.txt=A"};
    row("no Destination", "/a.txt", QByteArray(), QByteArray(), true, "400 Bad Request", intact);
    row("unparsable Destination", "/a.txt", "http://[::1/c.txt", QByteArray(), true, "400 Bad Request",
        intact + QStringList{"!c.txt"});
    row("relative Destination", "/a.txt", "c.txt", QByteArray(), true, "400 Bad Request",
        intact + QStringList{"!c.txt"});
    row("itself", "/a.txt", b + "/a.txt", QByteArray(), true, "403 Forbidden", intact);
    row("itself, through a link", "/alink.txt", b + "/a.txt", QByteArray(), true, "403 Forbidden", intact);
    row("onto its hard link", "/a.txt", b + "/hard.txt", QByteArray(), true, "403 Forbidden", intact);
    row("folder onto itself", "/docs", b + "/docs", QByteArray(), true, "403 Forbidden", intact);
    row("folder into its own subtree", "/docs", b + "/docs/sub/copy", QByteArray(), true, "403 Forbidden",
        intact + QStringList{"!docs/sub/copy"});
    row("folder into itself through its link", "/docs/loop", b + "/docs/new", QByteArray(), true,
        "403 Forbidden", intact + QStringList{"!docs/new"});
    row("the shared folder", "/", b + "/docs2/all", QByteArray(), true, "403 Forbidden",
        intact + QStringList{"!docs2/all"});
    // Of another server (RFC 4918 9.8.4, 9.9.4).
    row("another port", "/a.txt", "http://127.0.0.1:1/c.txt", QByteArray(), true, "502 Bad Gateway",
        intact + QStringList{"!c.txt"});
    row("another scheme", "/a.txt", "https://127.0.0.1:PORT/c.txt", QByteArray(), true,
        "502 Bad Gateway", intact + QStringList{"!c.txt"});
}

void tst_CopyMove::copy_data()
{
    addColumns();
    const QByteArray b = "BASE";
    // A copy has its source's modification time.
    row("file to a new name", "/a.txt", b + "/c.txt", QByteArray(), true, "201 Created",
        {"a.txt=A", "c.txt=A", "c.txt@"});
    row("file onto a file: replaced", "/a.txt", b + "/b.txt", QByteArray(), true, "204 No Content",
        {"a.txt=A", "b.txt=A", "b.txt@"});
    row("Overwrite F", "/a.txt", b + "/b.txt", "F", true, "412 Precondition Failed", {"a.txt=A", "b.txt=B"});
    row("deleting disabled: never replaced", "/a.txt", b + "/b.txt", QByteArray(), false,
        "412 Precondition Failed", {"a.txt=A", "b.txt=B"});
    row("into an existing folder", "/a.txt", b + "/sub", QByteArray(), true, "201 Created",
        {"a.txt=A", "sub/a.txt=A"});
    row("an absolute path", "/a.txt", "/c%20d.txt", QByteArray(), true, "201 Created", {"c d.txt=A"});
    row("another name of this server", "/a.txt", "http://localhost:PORT/c.txt",
        QByteArray(), true, "201 Created", {"a.txt=A", "c.txt=A"});
    row("folder onto a file", "/docs", b + "/a.txt", QByteArray(), true, "412 Precondition Failed",
        {"a.txt=A", "docs/x.txt=X"});
    row("folder to a new place: folders made", "/docs", b + "/new/copy", QByteArray(), true, "207 Multi-Status",
        {"new/copy/x.txt=X", "new/copy/y y.txt=Y", "new/copy/sub/z.txt=Z", "!new/copy/loop", "docs/x.txt=X",
         "docs/sub/z.txt=Z", "new/copy/x.txt@", "new/copy/sub/z.txt@", "new/copy/sub@", "new/copy@"});
    row("folder onto a folder", "/docs", b + "/docs2", QByteArray(), true, "207 Multi-Status",
        {"docs2/x.txt=X", "docs2/sub/z.txt=Z", "!docs2/loop", "docs/x.txt=X"});
    addRefusals();
}

void tst_CopyMove::move_data()
{
    addColumns();
    const QByteArray b = "BASE";
    row("file to a new name", "/a.txt", b + "/c.txt", QByteArray(), true, "201 Created",
        {"!a.txt", "c.txt=A", "c.txt@"});
    row("file onto a file: replaced", "/a.txt", b + "/b.txt", QByteArray(), true, "204 No Content",
        {"!a.txt", "b.txt=A", "b.txt@"});
    row("Overwrite F", "/a.txt", b + "/b.txt", "F", true, "412 Name exists", {"a.txt=A", "b.txt=B"});
    row("deleting disabled: never replaced", "/a.txt", b + "/b.txt", QByteArray(), false, "412 Name exists",
        {"a.txt=A", "b.txt=B"});
    // Moving removes the source.
    row("deleting disabled, new name", "/a.txt", b + "/c.txt", QByteArray(), false, "403 Forbidden",
        {"a.txt=A", "!c.txt"});
    row("onto a folder: replaced", "/a.txt", b + "/sub", QByteArray(), true, "204 No Content",
        {"!a.txt", "sub=A"});
    row("folder onto a file: replaced", "/docs", b + "/a.txt", QByteArray(), true, "204 No Content",
        {"!docs", "a.txt/x.txt=X", "a.txt/sub/z.txt=Z", "hard.txt=A"});
    row("folder onto a folder: replaced", "/docs", b + "/sub", QByteArray(), true, "204 No Content",
        {"!docs", "sub/x.txt=X", "sub/sub/z.txt=Z"});
    row("folder onto the folder holding it", "/docs/sub", b + "/docs", QByteArray(), true, "403 Forbidden",
        {"docs/sub/z.txt=Z", "docs/x.txt=X"});
    row("file onto the shared folder", "/a.txt", b + "/", QByteArray(), true, "403 Forbidden",
        {"a.txt=A", "docs/x.txt=X"});
    row("folder to a new name", "/docs", b + "/moved", QByteArray(), true, "201 Created",
        {"!docs", "moved/x.txt=X", "moved/sub/z.txt=Z", "moved/x.txt@", "moved/sub@"});
    row("missing source", "/none.txt", b + "/c.txt", QByteArray(), true, "500 Rename Failed", {"!c.txt"});
    addRefusals();
}

void tst_CopyMove::run(const QByteArray &method)
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, destination);
    QFETCH(QByteArray, overwrite);
    QFETCH(bool, deleting);
    QFETCH(QByteArray, status);
    QFETCH(QStringList, facts);

    TestServer s;
    prepare(s);
    s.config.enableDelete = deleting ? CheckState::On : CheckState::Off;
    QList<QByteArray> headers;
    if (!destination.isNull())
        headers.append("Destination: "
                       + QByteArray(destination).replace("BASE", s.base()).replace("PORT", QByteArray::number(s.port())));
    if (!overwrite.isNull())
        headers.append("Overwrite: " + overwrite);
    const HttpReply r = s.request(method, source, headers);
    QVERIFY(r.complete);
    QCOMPARE(r.status, status);

    for (const QString &fact : facts) {
        if (fact.startsWith(u'!')) {
            QVERIFY2(!s.exists(fact.mid(1)), qPrintable(fact));
        } else if (fact.endsWith(u'@')) {
            QCOMPARE(QFileInfo(s.path(fact.chopped(1))).lastModified().toSecsSinceEpoch(), January5);
        } else if (fact.endsWith(u'/')) {
            QVERIFY2(QFileInfo(s.path(fact.chopped(1))).isDir(), qPrintable(fact));
        } else {
            const qsizetype equals = fact.indexOf(u'=');
            QCOMPARE(s.read(fact.left(equals)), fact.mid(equals + 1).toUtf8());
        }
    }
    // Nothing ever lands outside the share (secret.txt was there before).
    QCOMPARE(QDir(s.outsidePath()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{QStringLiteral("secret.txt")});
}

void tst_CopyMove::copy()
{
    run("COPY");
}

void tst_CopyMove::move()
{
    run("MOVE");
}

void tst_CopyMove::overwriteInFolderCopy()
{
    TestServer s;
    prepare(s);
    QVERIFY(s.write(QStringLiteral("docs2/x.txt"), "old"));
    const HttpReply r = s.request("COPY", "/docs", {"Destination: " + s.base() + "/docs2", "Overwrite: F"});
    QCOMPARE(r.status, QByteArray("207 Multi-Status"));
    // Each file is named as the share names it, never by where the server keeps it.
    QVERIFY(!r.body.contains(s.path(QString()).toUtf8()));
    const QByteArray x = s.base() + "/docs/x.txt";
    QVERIFY(r.body.contains("<href>" + x + "</href><status>HTTP/1.1 412 Precondition Failed</status>"));
    QCOMPARE(s.read(QStringLiteral("docs2/x.txt")), QByteArray("old"));
    QCOMPARE(s.read(QStringLiteral("docs2/y y.txt")), QByteArray("Y"));

    // A file that cannot be written: its own status, the others go on.
    QVERIFY(s.mkdir(QStringLiteral("docs3/x.txt")));
    const HttpReply blocked = s.request("COPY", "/docs", {"Destination: " + s.base() + "/docs3"});
    QCOMPARE(blocked.status, QByteArray("207 Multi-Status"));
    QVERIFY(blocked.body.contains("<href>" + x + "</href><status>HTTP/1.1 500 File copy error</status>"));
    QCOMPARE(s.read(QStringLiteral("docs3/y y.txt")), QByteArray("Y"));

    // Deleting disabled: the same as Overwrite F.
    s.config.enableDelete = CheckState::Off;
    const HttpReply again = s.request("COPY", "/docs", {"Destination: " + s.base() + "/docs2"});
    QVERIFY(again.body.contains("<href>" + x + "</href><status>HTTP/1.1 412 Precondition Failed</status>"));
    QCOMPARE(s.read(QStringLiteral("docs2/x.txt")), QByteArray("old"));
}

QTEST_GUILESS_MAIN(tst_CopyMove)
#include "tst_copymove.moc"
