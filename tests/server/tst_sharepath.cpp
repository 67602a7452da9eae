// Which paths count as inside the share, on a real folder tree with links: the share given by
// its own path and by a link to it, items reached through links that stay inside or lead out,
// missing items below existing ones, below files and below links; and the open that settles the
// common case in one step: it opens only what lies inside with no link on the whole way.

#include "server/sharepath.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestSharePath : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void contains_data();
    void contains();
    void openInside_data();
    void openInside();

private:
    QString path(const QString &relative) const { return dir.path() + u'/' + relative; }
    void write(const QString &relative);

    QTemporaryDir dir;
};

void TestSharePath::write(const QString &relative)
{
    QFile file(path(relative));
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x");
}

void TestSharePath::initTestCase()
{
    // share/             the shared folder
    //   a.txt, sub/b.txt
    //   in -> sub         (relative, stays inside)
    //   inabs -> <share>/sub/b.txt
    //   out -> ../outside, outfile -> ../outside/secret.txt, sub/up -> ../../outside
    //   dangling -> ../outside/new.txt, loop1 <-> loop2
    // outside/secret.txt
    // sharelink -> share  (the share reached through a link)
    // lonely.txt          (a shared single file)
    QVERIFY(dir.isValid());
    write(QStringLiteral("share/a.txt"));
    write(QStringLiteral("share/sub/b.txt"));
    write(QStringLiteral("outside/secret.txt"));
    write(QStringLiteral("lonely.txt"));
    QVERIFY(QFile::link(QStringLiteral("sub"), path(QStringLiteral("share/in"))));
    QVERIFY(QFile::link(path(QStringLiteral("share/sub/b.txt")), path(QStringLiteral("share/inabs"))));
    QVERIFY(QFile::link(QStringLiteral("../outside"), path(QStringLiteral("share/out"))));
    QVERIFY(QFile::link(QStringLiteral("../outside/secret.txt"), path(QStringLiteral("share/outfile"))));
    QVERIFY(QFile::link(QStringLiteral("../../outside"), path(QStringLiteral("share/sub/up"))));
    QVERIFY(QFile::link(QStringLiteral("../outside/new.txt"), path(QStringLiteral("share/dangling"))));
    QVERIFY(QFile::link(QStringLiteral("loop2"), path(QStringLiteral("share/loop1"))));
    QVERIFY(QFile::link(QStringLiteral("loop1"), path(QStringLiteral("share/loop2"))));
    QVERIFY(QFile::link(QStringLiteral("share"), path(QStringLiteral("sharelink"))));
}

void TestSharePath::contains_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("target"); // appended to the root, unless it starts with '@' (then to the temporary folder)
    QTest::addColumn<bool>("inside");

    const struct
    {
        const char *target;
        bool inside;
    } rows[] = {
        {"", true},
        {"/", true},
        {"/a.txt", true},
        {"//a.txt", true},
        {"/sub/b.txt", true},
        {"/sub/", true},
        {"/missing.txt", true},
        {"/sub/missing/deeper.txt", true},
        {"/a.txt/below", true},
        {"/in/b.txt", true},
        {"/in/missing.txt", true},
        {"/inabs", true},
        {"/out", false},
        {"/out/secret.txt", false},
        {"/out/missing.txt", false},
        {"/outfile", false},
        {"/sub/up/secret.txt", false},
        {"/sub/up/missing/x", false},
        {"/dangling", false},
        {"/dangling/x.txt", false},
        {"/loop1", false},
        {"/loop1/x", false},
        {"/sub/../a.txt", true},
        {"/sub/../../outside/secret.txt", false},
        {"/../outside/secret.txt", false},
        {"@/outside/secret.txt", false},
        {"@/sharelink/a.txt", true},
        {"@/sharelink/out/secret.txt", false},
    };
    for (const char *root : {"share", "sharelink", "share/"}) {
        for (const auto &row : rows) {
            const QString target = QString::fromLatin1(row.target);
            QTest::addRow("%s %s", root, row.target) << QString::fromLatin1(root) << target << row.inside;
        }
    }
    QTest::newRow("missing share") << QStringLiteral("none") << QStringLiteral("/a.txt") << false;
    QTest::newRow("missing share, below") << QStringLiteral("none") << QStringLiteral("/a/b") << false;
    QTest::newRow("single file itself") << QStringLiteral("lonely.txt") << QString() << true;
    QTest::newRow("below a single file") << QStringLiteral("lonely.txt") << QStringLiteral("/x") << true;
    QTest::newRow("not absolute") << QStringLiteral("share") << QStringLiteral("@@a.txt") << false;
}

void TestSharePath::contains()
{
    QFETCH(QString, root);
    QFETCH(QString, target);
    QFETCH(bool, inside);

    // The share as the listener holds it: absolute, without a trailing slash unless given one.
    const QString rootPath = path(root);
    QString full;
    if (target.startsWith(QLatin1String("@@")))
        full = target.mid(2);
    else if (target.startsWith(u'@'))
        full = dir.path() + target.mid(1);
    else
        full = rootPath + target;
    QCOMPARE(SharePath::contains(rootPath, full), inside);
}

void TestSharePath::openInside_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("target"); // appended to the root, unless it starts with '@'
    QTest::addColumn<bool>("opens");

    QTest::newRow("file") << QStringLiteral("share") << QStringLiteral("/a.txt") << true;
    QTest::newRow("file, doubled slash") << QStringLiteral("share") << QStringLiteral("//a.txt") << true;
    QTest::newRow("file in a folder") << QStringLiteral("share") << QStringLiteral("/sub/b.txt") << true;
    QTest::newRow("folder") << QStringLiteral("share") << QStringLiteral("/sub/") << true;
    QTest::newRow("pipe, not waited for") << QStringLiteral("share") << QStringLiteral("/fifo") << true;
    QTest::newRow("missing") << QStringLiteral("share") << QStringLiteral("/missing.txt") << false;
    QTest::newRow("through a link inside") << QStringLiteral("share") << QStringLiteral("/in/b.txt") << false;
    QTest::newRow("link inside") << QStringLiteral("share") << QStringLiteral("/inabs") << false;
    QTest::newRow("through a link out") << QStringLiteral("share") << QStringLiteral("/out/secret.txt") << false;
    QTest::newRow("link out") << QStringLiteral("share") << QStringLiteral("/outfile") << false;
    QTest::newRow("link out below") << QStringLiteral("share") << QStringLiteral("/sub/up/secret.txt") << false;
    QTest::newRow("dangling") << QStringLiteral("share") << QStringLiteral("/dangling") << false;
    QTest::newRow("loop") << QStringLiteral("share") << QStringLiteral("/loop1") << false;
    QTest::newRow("dot dot inside") << QStringLiteral("share") << QStringLiteral("/sub/../a.txt") << false;
    QTest::newRow("dot dot out") << QStringLiteral("share") << QStringLiteral("/../outside/secret.txt") << false;
    QTest::newRow("not below the share") << QStringLiteral("share") << QStringLiteral("@/outside/secret.txt") << false;
    QTest::newRow("share itself") << QStringLiteral("share") << QString() << false;
    QTest::newRow("share through a link") << QStringLiteral("sharelink") << QStringLiteral("/a.txt") << false;
    QTest::newRow("share not clean") << QStringLiteral("share/") << QStringLiteral("/a.txt") << false;
}

void TestSharePath::openInside()
{
    QFETCH(QString, root);
    QFETCH(QString, target);
    QFETCH(bool, opens);

    const QString fifo = path(QStringLiteral("share/fifo"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const QString rootPath = path(root);
    const QString full = target.startsWith(u'@') ? dir.path() + target.mid(1) : rootPath + target;
    const int fd = SharePath::openInside(rootPath, full);
    if (fd >= 0)
        ::close(fd);
    QFile::remove(fifo);
    QCOMPARE(fd >= 0, opens);
    // What it opens is inside by the full resolution too.
    if (fd >= 0)
        QVERIFY(SharePath::contains(rootPath, full));
}

QTEST_GUILESS_MAIN(TestSharePath)
#include "tst_sharepath.moc"
