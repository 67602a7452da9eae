// The profile file: its exact bytes (the layout every copy of the program reads), files that are no
// profile, a save that replaces the file privately in one step, and saves that fail.
#include "filesizelimit.h"
#include "testserver.h"
#include "config/configuration.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Spelled out by hand: big-endian integers, one-byte bools, UTF-16BE strings with a byte count
// (FF FF FF FF for a null string), lists as a count and the elements, the trailer 316. The
// profile: the user "a:b", port 443, TLS, expert mode, folders off, pictures on, deleting off,
// uploads on, Basic access, warnings off, dynamic DNS on, connections unbounded, a traffic limit
// of 0x7fffffff KB, sessions of 1 minute, an empty name, no password, the DNS user "é", no DNS
// password, the key file "/k", an empty key password, not saved on exit.
const QByteArray Literal = QByteArray::fromHex("00000001 00000006 0061 003a 0062"
                                          "00000000"
                                          "000001bb 00000002 01"
                                          "00000000 00000002 00000000 00000002"
                                          "00000002 00000000 00000002 ffffffff"
                                          "7fffffff 00000001"
                                          "00000000 ffffffff 00000002 00e9 ffffffff"
                                          "00000004 002f 006b 00000000"
                                          "00"
                                          "0000013c");

struct stat statOf(const QString &path)
{
    struct stat st = {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

int modeOf(const QString &path)
{
    return int(statOf(path).st_mode & 07777);
}

QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void load_data();
    void load();
    void saveReplacesAtomicallyAndPrivately();
    void saveOnAFullDisk();

private:
    QString path(const QString &name) const { return root.filePath(name); }

    QTemporaryDir root;
};

void TestConfiguration::initTestCase()
{
    QVERIFY(QDir().mkpath(path(QStringLiteral("exe/lang/C"))));
    // The profile folder is made private whatever the umask.
    const mode_t previous = ::umask(0);
    Configuration::setDirectories(path(QStringLiteral("home/deep")), path(QStringLiteral("exe")), QStringLiteral("C"));
    ::umask(previous);
    QCOMPARE(Configuration::ConfigDir, path(QStringLiteral("home/deep")) + QStringLiteral("/.kestrune/"));
    QCOMPARE(modeOf(Configuration::ConfigDir), 0700);
}

void TestConfiguration::load_data()
{
    QTest::addColumn<QByteArray>("bytes"); // null: no file
    QTest::addColumn<bool>("loads");
    QTest::newRow("the layout") << Literal << true;
    QTest::newRow("bytes after the trailer") << Literal + "junk" << true;
    QTest::newRow("missing file") << QByteArray() << false;
    QTest::newRow("empty file") << QByteArray("") << false;
    QTest::newRow("one byte short") << Literal.chopped(1) << false;
    QTest::newRow("cut inside a user name") << Literal.left(13) << false;
    QTest::newRow("wrong trailer") << Literal.chopped(1) + '\x3d' << false;
    QTest::newRow("huge user count") << QByteArray::fromHex("ffffffff") + Literal.mid(4) << false;
    QTest::newRow("huge string length")
        << QByteArray::fromHex("00000001 7ffffffe") + "abcdefgh" + QByteArray::fromHex("0000013c") << false;
    QTest::newRow("odd string length") << QByteArray::fromHex("00000001 00000003") + Literal.mid(8) << false;
}

void TestConfiguration::load()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, loads);
    const QString file = path(QStringLiteral("load-%1.cnf").arg(QTest::currentDataTag()));
    if (!bytes.isNull())
        TestServer::writeFile(file, bytes);
    Configuration conf;
    conf.port = 1234;
    Configuration::FirstRun = false;
    QCOMPARE(conf.load(file), loads);
    QCOMPARE(Configuration::FirstRun, !loads);
    // What does not load leaves the defaults; the layout's fields land where they belong (its
    // save gives the same bytes back).
    const Configuration defaults;
    QCOMPARE(conf.port, loads ? 443 : defaults.port);
    QCOMPARE(conf.users, loads ? QStringList{QStringLiteral("a:b")} : defaults.users);
    QCOMPARE(conf.dnsUser, loads ? QStringLiteral("\u00e9") : defaults.dnsUser);
    QVERIFY(loads || conf.equals(&defaults));
    // Loading never writes.
    QCOMPARE(QFileInfo::exists(file), !bytes.isNull());
    QCOMPARE(TestServer::readFile(file), bytes);
}

void TestConfiguration::saveReplacesAtomicallyAndPrivately()
{
    const QString dir = path(QStringLiteral("atomic"));
    const QString file = dir + QStringLiteral("/profile.cnf");
    // A longer file, the layout and more after it.
    TestServer::writeFile(file, Literal + QByteArray("an older, longer file than the new one will be; ").repeated(20));
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                            | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    const ino_t oldInode = statOf(file).st_ino;
    Configuration conf;
    QVERIFY(conf.load(file));
    conf.allowedHosts = QStringList{QStringLiteral("nas.home")};
    QVERIFY(conf.save());
    // A new file took the old one's place in one step; newer settings are kept beside it.
    QVERIFY(statOf(file).st_ino != oldInode);
    QCOMPARE(TestServer::readFile(file).toHex(' '), Literal.toHex(' '));
    QCOMPARE(modeOf(file), 0600);
    QCOMPARE(modeOf(file + QStringLiteral(".ini")), 0600);
    // A brand-new file is private too, and settings at their defaults leave no file beside it.
    conf.load(dir + QStringLiteral("/fresh.cnf"));
    conf.allowedHosts.clear();
    QVERIFY(conf.save());
    QCOMPARE(modeOf(dir + QStringLiteral("/fresh.cnf")), 0600);
    QCOMPARE(entriesOf(dir), (QStringList{"fresh.cnf", "profile.cnf", "profile.cnf.ini"}));
}

// A disk that fills up while the profile is written: the save fails, and the old file stays whole
// with no temporary file left beside it.
void TestConfiguration::saveOnAFullDisk()
{
    const QString dir = path(QStringLiteral("full"));
    const QByteArray oldContent("previous profile contents");
    TestServer::writeFile(dir + QStringLiteral("/profile.cnf"), oldContent);
    Configuration conf;
    conf.load(dir + QStringLiteral("/profile.cnf"));
    conf.users = QStringList{QStringLiteral("anna:a password longer than the limit")};
    bool saved = true;
    {
        // Nothing may be printed while the limit holds: a log file would be cut too.
        FileSizeLimit limit(16);
        QVERIFY(limit.active);
        saved = conf.save();
    }
    QVERIFY(!saved);
    QCOMPARE(entriesOf(dir), QStringList{QStringLiteral("profile.cnf")});
    QCOMPARE(TestServer::readFile(dir + QStringLiteral("/profile.cnf")), oldContent);
}

QTEST_GUILESS_MAIN(TestConfiguration)
#include "tst_configuration.moc"
