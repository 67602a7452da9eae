// Which paths count as inside the share, on a real folder tree with links: the share given by
// its own path and by a link to it, items reached through links that stay inside or lead out,
// missing items below existing ones, below files and below links.

#include "server/sharepath.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSharePath : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void contains_data();
    void contains();

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

QTEST_GUILESS_MAIN(TestSharePath)
#include "tst_sharepath.moc"
