#include "web/deletedir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

} // namespace

class TestDeleteDir : public QObject
{
    Q_OBJECT

private slots:
    void deleteDir_data();
    void deleteDir();
    void linksAreNotFollowed();
};

void TestDeleteDir::deleteDir_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<int>("deleted");

    QTest::addRow("two files and an empty folder") << QStringList{"a", "b"} << QStringList{"empty"} << 3;
    QTest::addRow("empty folder") << QStringList{} << QStringList{} << 0;
    QTest::addRow("nested") << QStringList{"x/y/z.txt", "x/w.txt"} << QStringList{} << 4;
    QTest::addRow("hidden entries") << QStringList{".hidden", ".dir/.inner"} << QStringList{} << 3;
}

void TestDeleteDir::deleteDir()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, folders);
    QFETCH(int, deleted);
    QTemporaryDir base;
    const QString root = base.filePath("root");
    QVERIFY(QDir().mkpath(root));
    for (const QString &f : files)
        QVERIFY(touch(root + u'/' + f));
    for (const QString &d : folders)
        QVERIFY(QDir().mkpath(root + u'/' + d));
    DeleteDir dir(root);
    QVERIFY(dir.deleteDir());
    QCOMPARE(dir.getDeleted(), deleted);
    QVERIFY(!QFileInfo::exists(root));

    DeleteDir missing(base.filePath("missing"));
    QVERIFY(missing.deleteDir());
    QCOMPARE(missing.getDeleted(), 0);
}

void TestDeleteDir::linksAreNotFollowed()
{
    QTemporaryDir base;
    const QString outside = base.filePath("outside");
    QVERIFY(touch(outside + "/folder/keep.txt"));
    QVERIFY(touch(outside + "/file.txt"));
    const QString root = base.filePath("root");
    QVERIFY(touch(root + "/own.txt"));
    QVERIFY(QFile::link(outside + "/folder", root + "/to-folder"));
    QVERIFY(QFile::link(outside + "/file.txt", root + "/to-file"));
    QVERIFY(QFile::link(outside + "/none", root + "/broken"));
    QVERIFY(touch(root + "/sub/x"));
    QVERIFY(QFile::link(outside + "/folder", root + "/sub/deep-link"));

    DeleteDir dir(root);
    QVERIFY(dir.deleteDir());
    QCOMPARE(dir.getDeleted(), 7); // own.txt, 3 links, sub with x and its link
    QVERIFY(!QFileInfo::exists(root));
    QVERIFY(QFileInfo::exists(outside + "/folder/keep.txt"));
    QVERIFY(QFileInfo::exists(outside + "/file.txt"));

    // A link named as the folder itself goes as a link.
    QVERIFY(QFile::link(outside + "/folder", base.filePath("top-link")));
    DeleteDir top(base.filePath("top-link"));
    QVERIFY(top.deleteDir());
    QCOMPARE(top.getDeleted(), 0);
    QVERIFY(!QFileInfo(base.filePath("top-link")).isSymLink());
    QVERIFY(QFileInfo::exists(outside + "/folder/keep.txt"));
}

QTEST_GUILESS_MAIN(TestDeleteDir)
#include "tst_deletedir.moc"
