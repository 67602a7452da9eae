#include "filesizelimit.h"
#include "config/configuration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using Mutation = std::function<void(Configuration &)>;
Q_DECLARE_METATYPE(Mutation)

namespace {

// Writes the profile layout byte by byte, without QDataStream, so the tests compare the program's
// output with an independent encoding: big-endian integers, one-byte bools, UTF-16BE strings with
// a byte count (FF FF FF FF for a null string), lists as an element count and the elements.
class ByteWriter
{
public:
    ByteWriter &u32(quint32 value)
    {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.append(char((value >> shift) & 0xFF));
        return *this;
    }
    ByteWriter &i32(qint32 value) { return u32(quint32(value)); }
    ByteWriter &flag(bool value)
    {
        bytes.append(value ? '\x01' : '\x00');
        return *this;
    }
    ByteWriter &text(const QString &value)
    {
        if (value.isNull())
            return u32(0xFFFFFFFFu);
        u32(quint32(value.size()) * 2);
        for (const QChar c : value) {
            bytes.append(char(c.unicode() >> 8));
            bytes.append(char(c.unicode() & 0xFF));
        }
        return *this;
    }
    ByteWriter &list(const QStringList &values)
    {
        u32(quint32(values.size()));
        for (const QString &value : values)
            text(value);
        return *this;
    }
    ByteWriter &raw(const QByteArray &data)
    {
        bytes.append(data);
        return *this;
    }

    QByteArray bytes;
};

QByteArray profileBytes(const Configuration &c, quint32 trailer = 316)
{
    ByteWriter w;
    w.list(c.users).list(c.recentFiles);
    w.i32(c.port).i32(qint32(c.sslMode)).flag(c.expertMode);
    w.i32(qint32(c.showFolders)).i32(qint32(c.showImages)).i32(qint32(c.enableDelete)).i32(qint32(c.enableUpload));
    w.i32(qint32(c.authMode)).i32(qint32(c.warningMode)).i32(qint32(c.dnsEnabled)).i32(c.maxConnections);
    w.i32(c.dataLimitKB).i32(c.sessionLifetime);
    w.text(c.profileName).text(c.password).text(c.dnsUser).text(c.dnsPassword);
    w.text(c.keyFile).text(c.keyPassword).flag(c.savedOnExit);
    w.u32(trailer);
    return w.bytes;
}

// A profile with no field at its default.
void fillEverything(Configuration &c)
{
    c.users = QStringList{QStringLiteral("anna:pa:ss:wd"), QStringLiteral("bob:"),
                          QStringLiteral("Zoë:ünï©ødé")};
    c.recentFiles = QStringList{QStringLiteral("/home/user/Music"), QStringLiteral("/media/card/DCIM")};
    c.port = 65535;
    c.sslMode = CheckState::On;
    c.expertMode = true;
    c.showFolders = CheckState::Off;
    c.showImages = CheckState::Off;
    c.enableDelete = CheckState::Off;
    c.enableUpload = CheckState::Off;
    c.authMode = AuthMode::Basic;
    c.warningMode = CheckState::Off;
    c.dnsEnabled = CheckState::On;
    c.maxConnections = 17;
    c.dataLimitKB = -5;
    c.sessionLifetime = 2147483647;
    c.profileName = QStringLiteral("Holiday share");
    c.password = QStringLiteral("s3cret:with:colons");
    c.dnsUser = QStringLiteral("dyn-user");
    c.dnsPassword = QStringLiteral("dyn pass \U0001F511");
    c.keyFile = QStringLiteral("/etc/keys/server.pem");
    c.keyPassword = QStringLiteral("phrase");
    c.savedOnExit = false;
}

// Null and empty strings side by side, in plain fields and inside lists.
void fillNullAndEmpty(Configuration &c)
{
    c.users = QStringList{QString(), QStringLiteral(""), QStringLiteral(":")};
    c.recentFiles = QStringList{QStringLiteral("")};
    c.profileName = QStringLiteral("");
    c.password = QString();
    c.dnsUser = QStringLiteral("");
    c.dnsPassword = QString();
    c.keyFile = QString();
    c.keyPassword = QStringLiteral("");
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

int modeOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

qint64 inodeOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return qint64(st.st_ino);
}

QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

QString hex(const QByteArray &data)
{
    return QString::fromLatin1(data.toHex(' '));
}

// Null-ness is not part of equals(); these helpers check it separately.
QList<bool> nullness(const Configuration &c)
{
    QList<bool> result{c.profileName.isNull(), c.password.isNull(), c.dnsUser.isNull(),
                       c.dnsPassword.isNull(), c.keyFile.isNull(), c.keyPassword.isNull()};
    for (const QString &s : c.users)
        result.append(s.isNull());
    for (const QString &s : c.recentFiles)
        result.append(s.isNull());
    return result;
}

// Restores the directory statics when a test that changes them ends.
class StaticsGuard
{
public:
    StaticsGuard()
        : configDir(Configuration::ConfigDir), resDir(Configuration::ResDir),
          iconDir(Configuration::IconDir), langPath(Configuration::LangPath)
    {
    }
    ~StaticsGuard()
    {
        Configuration::ConfigDir = configDir;
        Configuration::ResDir = resDir;
        Configuration::IconDir = iconDir;
        Configuration::LangPath = langPath;
    }

private:
    const QString configDir;
    const QString resDir;
    const QByteArray iconDir;
    const QString langPath;
};

} // namespace

class TestConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void defaultProfileFile_data();
    void defaultProfileFile();
    void exactBytes_data();
    void exactBytes();
    void roundTrip_data();
    void roundTrip();
    void loadFromFile_data();
    void loadFromFile();
    void storedKeyFile_data();
    void storedKeyFile();
    void saveReplacesAtomicallyAndPrivately();
    void saveFailure_data();
    void saveFailure();
    void configDirCreatedPrivate_data();
    void configDirCreatedPrivate();
    void languagePath_data();
    void languagePath();
    void cloneCopiesAndResetsState();
    void applyKeepsOwnState();
    void equals_data();
    void equals();
    void equalsTreatsNullAsEmpty();
    void fileNamesAddressSameFile();
    void globalConfig();

private:
    QString path(const QString &name) const { return root.filePath(name); }

    QTemporaryDir root;
};

void TestConfiguration::initTestCase()
{
    QVERIFY(root.isValid());
    QVERIFY(QDir().mkpath(path(QStringLiteral("exe/lang/C"))));
    Configuration::setDirectories(path(QStringLiteral("home")), path(QStringLiteral("exe")),
                                  QStringLiteral("C"));
    QCOMPARE(Configuration::ConfigDir, path(QStringLiteral("home")) + QStringLiteral("/.kestrune/"));
    QVERIFY(QFileInfo(Configuration::ConfigDir).isDir());
    QCOMPARE(Configuration::ResDir, path(QStringLiteral("exe")) + QLatin1Char('/'));
}

void TestConfiguration::init()
{
    Configuration::FirstRun = false;
}

void TestConfiguration::defaultProfileFile_data()
{
    QTest::addColumn<QString>("configDir");
    QTest::addColumn<int>("keyFileUnits");

    const QString tempConfig = Configuration::ConfigDir;
    QTest::newRow("temporary profile folder") << tempConfig << int(tempConfig.size() + 7);
    QTest::newRow("no profile folder") << QString() << 7;
    // "ä" is one UTF-16 unit, the key symbol outside the BMP two: the count is in units, not bytes.
    QTest::newRow("non-ASCII profile folder")
        << QStringLiteral("/home/\u00e4/\U0001F5DD/") << 6 + 1 + 1 + 2 + 1 + 7;
}

void TestConfiguration::defaultProfileFile()
{
    QFETCH(QString, configDir);
    QFETCH(int, keyFileUnits);
    StaticsGuard guard;

    // The default key file lies in the profile folder; the profile itself is saved in the test's.
    const QString savedConfigDir = Configuration::ConfigDir;
    Configuration::ConfigDir = configDir;
    Configuration conf;
    QCOMPARE(conf.keyFile, configDir + QStringLiteral("ssl.pem"));
    Configuration::ConfigDir = savedConfigDir;
    conf.setFileName(QStringLiteral("default-%1").arg(QTest::currentDataTag()));
    QVERIFY(conf.save());

    const QByteArray written = readAll(conf.fileName());
    const qint64 expectedSize =
        4 + 4 + 8 + 1 + 40 + 16 + (4 + 2 * qint64(keyFileUnits)) + (4 + 12) + 1 + 4;
    QCOMPARE(qint64(written.size()), expectedSize);
    QCOMPARE(hex(written), hex(profileBytes(conf)));
}

void TestConfiguration::exactBytes_data()
{
    QTest::addColumn<Mutation>("fill");
    QTest::addColumn<QByteArray>("expected");

    // Spelled out by hand: fixes byte order, bool width and the string encodings.
    const Mutation literal = [](Configuration &c) {
        c.users = QStringList{QStringLiteral("a:b")};
        c.port = 443;
        c.sslMode = CheckState::On;
        c.expertMode = true;
        c.showFolders = CheckState::Off;
        c.showImages = CheckState::On;
        c.enableDelete = CheckState::Off;
        c.enableUpload = CheckState::On;
        c.authMode = AuthMode::Basic;
        c.warningMode = CheckState::Off;
        c.dnsEnabled = CheckState::On;
        c.maxConnections = -1;
        c.dataLimitKB = 0x7FFFFFFF;
        c.sessionLifetime = 1;
        c.profileName = QStringLiteral("");
        c.password = QString();
        c.dnsUser = QStringLiteral("\u00e9");
        c.dnsPassword = QString();
        c.keyFile = QStringLiteral("/k");
        c.keyPassword = QStringLiteral("");
        c.savedOnExit = false;
    };
    QTest::newRow("literal") << literal
                             << QByteArray::fromHex("00000001 00000006 0061 003a 0062"
                                                    "00000000"
                                                    "000001bb 00000002 01"
                                                    "00000000 00000002 00000000 00000002"
                                                    "00000002 00000000 00000002 ffffffff"
                                                    "7fffffff 00000001"
                                                    "00000000 ffffffff 00000002 00e9 ffffffff"
                                                    "00000004 002f 006b 00000000"
                                                    "00"
                                                    "0000013c");

    Configuration everything;
    fillEverything(everything);
    QTest::newRow("everything set") << Mutation(fillEverything) << profileBytes(everything);

    Configuration nullAndEmpty;
    fillNullAndEmpty(nullAndEmpty);
    QTest::newRow("null and empty strings") << Mutation(fillNullAndEmpty)
                                            << profileBytes(nullAndEmpty);
}

void TestConfiguration::exactBytes()
{
    QFETCH(Mutation, fill);
    QFETCH(QByteArray, expected);

    Configuration conf;
    fill(conf);
    conf.settingsPage = 3; // memory only
    conf.useCount = 2;     // memory only
    conf.setFileName(QStringLiteral("bytes-%1").arg(QTest::currentDataTag()));
    QVERIFY(conf.save());
    QCOMPARE(hex(readAll(conf.fileName())), hex(expected));

    // And the same bytes, written by someone else, read back into the same values.
    const QString other = path(QStringLiteral("handmade-%1.cnf").arg(QTest::currentDataTag()));
    QVERIFY(writeAll(other, expected));
    Configuration loaded;
    QVERIFY(loaded.load(other));
    QVERIFY(!Configuration::FirstRun);
    QVERIFY(loaded.equals(&conf));
    QCOMPARE(nullness(loaded), nullness(conf));
    QCOMPARE(loaded.savedOnExit, conf.savedOnExit);
    QCOMPARE(loaded.settingsPage, 0);
    QCOMPARE(loaded.useCount, 0);
}

void TestConfiguration::roundTrip_data()
{
    QTest::addColumn<Mutation>("fill");

    QTest::newRow("defaults") << Mutation([](Configuration &) {});
    QTest::newRow("everything set") << Mutation(fillEverything);
    QTest::newRow("null and empty strings") << Mutation(fillNullAndEmpty);
    QTest::newRow("empty profile name") << Mutation([](Configuration &c) {
        c.profileName = QStringLiteral("");
    });
    QTest::newRow("long lists") << Mutation([](Configuration &c) {
        for (int i = 0; i < 500; ++i)
            c.users.append(QStringLiteral("user%1:%2").arg(i).arg(QString(i, QLatin1Char('x'))));
        c.recentFiles = QStringList{QStringLiteral("/a"), QStringLiteral("/b"),
                                    QStringLiteral("/c"), QStringLiteral("/d")};
    });
}

void TestConfiguration::roundTrip()
{
    QFETCH(Mutation, fill);

    Configuration original;
    fill(original);
    original.setFileName(QStringLiteral("round-%1").arg(QTest::currentDataTag()));
    QVERIFY(original.save());

    Configuration loaded;
    QVERIFY(loaded.load(original.fileName()));
    QVERIFY(!Configuration::FirstRun);
    QCOMPARE(loaded.fileName(), original.fileName());
    QVERIFY(loaded.equals(&original));
    QVERIFY(original.equals(&loaded));
    QCOMPARE(loaded.users, original.users);
    QCOMPARE(loaded.recentFiles, original.recentFiles);
    QCOMPARE(nullness(loaded), nullness(original));
    QCOMPARE(loaded.savedOnExit, original.savedOnExit);
    QCOMPARE(loaded.expertMode, original.expertMode);
}

void TestConfiguration::loadFromFile_data()
{
    QTest::addColumn<bool>("createFile");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("loads");

    Configuration everything;
    fillEverything(everything);
    const QByteArray good = profileBytes(everything);

    QTest::newRow("complete") << true << good << true;
    QTest::newRow("bytes after the trailer") << true << good + QByteArray("\x00\x00\x01\x3c junk", 9)
                                             << true;
    QTest::newRow("missing file") << false << QByteArray() << false;
    QTest::newRow("empty file") << true << QByteArray() << false;
    QTest::newRow("trailer only") << true << ByteWriter().u32(316).bytes << false;
    QTest::newRow("one byte short") << true << good.chopped(1) << false;
    QTest::newRow("cut inside a user name") << true << good.left(13) << false;
    QTest::newRow("trailer missing") << true << good.chopped(4) << false;
    QTest::newRow("wrong trailer") << true << profileBytes(everything, 317) << false;
    QTest::newRow("trailer little-endian") << true << profileBytes(everything, 0x3C010000u) << false;
    QTest::newRow("huge user count") << true
                                     << ByteWriter().u32(0xFFFFFFFFu).raw(good.mid(4)).bytes
                                     << false;
    QTest::newRow("huge recent-file count")
        << true << ByteWriter().u32(0).u32(0x7FFFFFFFu).text(QStringLiteral("x")).u32(316).bytes
        << false;
    QTest::newRow("huge string length")
        << true << ByteWriter().u32(1).u32(0x7FFFFFFEu).raw("abcdefgh").u32(316).bytes << false;
    // The stream keeps reading after a bad string; the rest lines up, trailer included.
    QTest::newRow("odd string length, rest well-formed")
        << true << ByteWriter().u32(1).u32(3).raw(profileBytes(Configuration()).mid(4)).bytes
        << false;
    QTest::newRow("odd string length") << true
                                       << ByteWriter().u32(1).u32(3).raw(good.mid(4)).bytes
                                       << false;
}

void TestConfiguration::loadFromFile()
{
    QFETCH(bool, createFile);
    QFETCH(QByteArray, content);
    QFETCH(bool, loads);

    const QString file = path(QStringLiteral("load-%1.cnf").arg(QTest::currentDataTag()));
    if (createFile)
        QVERIFY(writeAll(file, content));

    // Starts from non-default values, so a reset to the defaults is visible.
    Configuration conf;
    fillEverything(conf);
    conf.profileName = QStringLiteral("before");
    conf.settingsPage = 4;
    conf.useCount = 2;

    QCOMPARE(conf.load(file), loads);
    QCOMPARE(Configuration::FirstRun, !loads);
    QCOMPARE(conf.fileName(), file);

    Configuration expected;
    if (loads) {
        fillEverything(expected);
        QCOMPARE(conf.settingsPage, 4);
        QCOMPARE(conf.useCount, 2);
    } else {
        QCOMPARE(conf.settingsPage, 0);
        QCOMPARE(conf.useCount, 0);
        QCOMPARE(conf.keyFile, Configuration::ConfigDir + QStringLiteral("ssl.pem"));
        QCOMPARE(conf.keyPassword, QStringLiteral("k4m5n6"));
        QVERIFY(conf.profileName.isNull());
    }
    QVERIFY(conf.equals(&expected));
    QCOMPARE(conf.savedOnExit, expected.savedOnExit);
    QCOMPARE(nullness(conf), nullness(expected));

    // Loading never writes.
    QCOMPARE(QFileInfo::exists(file), createFile);
    if (createFile)
        QCOMPARE(hex(readAll(file)), hex(content));
}

void TestConfiguration::storedKeyFile_data()
{
    // In paths, %R stands for the resource folder and %C for the profile folder.
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("storedPhrase");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("expectedPhrase");

    const QString old = QStringLiteral("%R/ssl.pem");
    const QString perUser = QStringLiteral("%C/ssl.pem");
    const QString phrase = QStringLiteral("k4m5n6");
    const QString mine = QStringLiteral("mine");
    QTest::newRow("old default, gone") << old << phrase << false << perUser << phrase;
    QTest::newRow("old default with another phrase, gone") << old << mine << false << perUser << phrase;
    QTest::newRow("old default, present") << old << mine << true << old << mine;
    QTest::newRow("old default spelt otherwise, gone")
        << QStringLiteral("%R/./ssl.pem") << phrase << false << QStringLiteral("%R/./ssl.pem") << phrase;
    QTest::newRow("own file in the resource folder, gone")
        << QStringLiteral("%R/own.pem") << mine << false << QStringLiteral("%R/own.pem") << mine;
    QTest::newRow("own ssl.pem elsewhere, gone")
        << QStringLiteral("%R/keys/ssl.pem") << phrase << false << QStringLiteral("%R/keys/ssl.pem") << phrase;
    QTest::newRow("per-user default, not made yet") << perUser << phrase << false << perUser << phrase;
    QTest::newRow("per-user default with another phrase") << perUser << mine << true << perUser << mine;
}

void TestConfiguration::storedKeyFile()
{
    QFETCH(QString, stored);
    QFETCH(QString, storedPhrase);
    QFETCH(bool, present);
    QFETCH(QString, expected);
    QFETCH(QString, expectedPhrase);
    const auto expand = [](QString text) {
        return text.replace(QLatin1String("%R"), Configuration::ResDir.chopped(1))
            .replace(QLatin1String("%C"), Configuration::ConfigDir.chopped(1));
    };

    Configuration saved;
    saved.setFileName(QStringLiteral("key-%1").arg(QTest::currentDataTag()));
    saved.port = 4711;
    saved.keyFile = expand(stored);
    saved.keyPassword = storedPhrase;
    QVERIFY(saved.save());
    const QByteArray savedBytes = readAll(saved.fileName());
    QVERIFY(QDir().mkpath(QFileInfo(saved.keyFile).absolutePath()));
    if (present)
        QVERIFY(writeAll(saved.keyFile, "key pair"));

    Configuration loaded;
    QVERIFY(loaded.load(saved.fileName()));
    QCOMPARE(loaded.keyFile, expand(expected));
    QCOMPARE(loaded.keyPassword, expectedPhrase);
    QCOMPARE(loaded.port, 4711);
    QVERIFY(!Configuration::FirstRun);
    // Loading writes nothing: neither the profile nor a key file.
    QCOMPARE(readAll(saved.fileName()), savedBytes);
    QCOMPARE(QFileInfo::exists(saved.keyFile), present);
    if (present)
        QCOMPARE(readAll(saved.keyFile), QByteArray("key pair"));
    QFile::remove(saved.keyFile);
}

void TestConfiguration::saveReplacesAtomicallyAndPrivately()
{
    const QString dir = path(QStringLiteral("atomic"));
    QVERIFY(QDir().mkpath(dir));
    const QString file = dir + QStringLiteral("/profile.cnf");
    QVERIFY(writeAll(file, QByteArray("an older, longer file than the new one will be; ").repeated(20)));
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                            | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    const qint64 oldInode = inodeOf(file);

    // load() points the profile at the file; what the file holds is no profile, hence false.
    Configuration conf;
    QVERIFY(!conf.load(file));
    fillEverything(conf);
    conf.allowedHosts = QStringList{QStringLiteral("nas.home"), QStringLiteral("Zoë.example")};
    QVERIFY(conf.save());

    // A new file took the old one's place in one step, rather than the old one being rewritten.
    QVERIFY(inodeOf(file) != oldInode);
    QCOMPARE(modeOf(file), 0600);
    // The layout of the profile file is kept; newer settings are kept beside it.
    QCOMPARE(hex(readAll(file)), hex(profileBytes(conf)));
    QCOMPARE(entriesOf(dir), (QStringList{QStringLiteral("profile.cnf"), QStringLiteral("profile.cnf.ini")}));
    QCOMPARE(modeOf(file + QStringLiteral(".ini")), 0600);

    // A brand-new file is private too.
    const QString fresh = dir + QStringLiteral("/fresh.cnf");
    conf.load(fresh);
    QVERIFY(conf.save());
    QCOMPARE(modeOf(fresh), 0600);
    // Back at their defaults, those settings leave no file.
    conf.allowedHosts.clear();
    QVERIFY(conf.save());
    QCOMPARE(entriesOf(dir), (QStringList{QStringLiteral("fresh.cnf"), QStringLiteral("profile.cnf"),
                                          QStringLiteral("profile.cnf.ini")}));
}

enum class SaveObstacle { DiskFull, ReadOnlyFolder, MissingFolder, ParentIsFile, TargetIsFolder };

void TestConfiguration::saveFailure_data()
{
    QTest::addColumn<int>("obstacle");
    QTest::newRow("disk full while writing") << int(SaveObstacle::DiskFull);
    QTest::newRow("read-only folder") << int(SaveObstacle::ReadOnlyFolder);
    QTest::newRow("missing folder") << int(SaveObstacle::MissingFolder);
    QTest::newRow("parent is a regular file") << int(SaveObstacle::ParentIsFile);
    QTest::newRow("target is a folder") << int(SaveObstacle::TargetIsFolder);
}

void TestConfiguration::saveFailure()
{
    QFETCH(int, obstacle);

    const QString dir = path(QStringLiteral("fail-%1").arg(obstacle));
    QVERIFY(QDir().mkpath(dir));
    const QByteArray oldContent("previous profile contents");
    QString file = dir + QStringLiteral("/profile.cnf");

    switch (SaveObstacle(obstacle)) {
    case SaveObstacle::DiskFull:
    case SaveObstacle::ReadOnlyFolder:
        QVERIFY(writeAll(file, oldContent));
        break;
    case SaveObstacle::MissingFolder:
        file = dir + QStringLiteral("/not/there/profile.cnf");
        break;
    case SaveObstacle::ParentIsFile:
        QVERIFY(writeAll(dir + QStringLiteral("/plain"), oldContent));
        file = dir + QStringLiteral("/plain/profile.cnf");
        break;
    case SaveObstacle::TargetIsFolder:
        QVERIFY(QDir().mkpath(file));
        break;
    }
    const QStringList before = entriesOf(dir);

    Configuration conf;
    fillEverything(conf);
    conf.load(file);
    fillEverything(conf);

    bool saved = true;
    if (SaveObstacle(obstacle) == SaveObstacle::DiskFull) {
        bool limited = false;
        {
            // Nothing may be printed while the limit holds: a log file would be cut too.
            FileSizeLimit limit(16);
            limited = limit.active;
            saved = conf.save();
        }
        QVERIFY(limited);
    } else if (SaveObstacle(obstacle) == SaveObstacle::ReadOnlyFolder) {
        QVERIFY(QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const bool bypassed = ::access(QFile::encodeName(dir).constData(), W_OK) == 0;
        if (!bypassed)
            saved = conf.save();
        QVERIFY(QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                               | QFileDevice::ExeOwner));
        if (bypassed)
            QSKIP("this user may write into read-only folders");
    } else {
        saved = conf.save();
    }

    QVERIFY(!saved);
    QCOMPARE(entriesOf(dir), before); // no temporary file left behind
    if (QFileInfo(file).isFile())
        QCOMPARE(readAll(file), oldContent);
    if (SaveObstacle(obstacle) == SaveObstacle::ParentIsFile)
        QCOMPARE(readAll(dir + QStringLiteral("/plain")), oldContent);
    if (SaveObstacle(obstacle) == SaveObstacle::TargetIsFolder)
        QVERIFY(QFileInfo(file).isDir());
}

void TestConfiguration::configDirCreatedPrivate_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("umask 022") << 022;
    QTest::newRow("umask 000") << 0;
    QTest::newRow("umask 077") << 077;
}

void TestConfiguration::configDirCreatedPrivate()
{
    QFETCH(int, mask);
    StaticsGuard guard;

    const QString home = path(QStringLiteral("homes-%1/deep/er/user").arg(mask, 3, 8, QLatin1Char('0')));
    QVERIFY(!QFileInfo::exists(home));

    const mode_t previous = ::umask(mode_t(mask));
    Configuration::setDirectories(home, path(QStringLiteral("exe")), QStringLiteral("C"));
    ::umask(previous);

    QCOMPARE(Configuration::ConfigDir, home + QStringLiteral("/.kestrune/"));
    QVERIFY(QFileInfo(home).isDir());
    QVERIFY(QFileInfo(Configuration::ConfigDir).isDir());
    QCOMPARE(modeOf(Configuration::ConfigDir), 0700);

    // Profiles can be stored there at once.
    Configuration conf;
    conf.setFileName(QStringLiteral("first"));
    QVERIFY(conf.save());
    QCOMPARE(conf.fileName(), home + QStringLiteral("/.kestrune/first.cnf"));

    // An existing folder is used as it is.
    Configuration::setDirectories(home, path(QStringLiteral("exe")), QStringLiteral("C"));
    QVERIFY(QFileInfo::exists(conf.fileName()));
}

void TestConfiguration::languagePath_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("expectedTail");

    QTest::newRow("locale folder present") << QStringLiteral("de_DE") << QStringLiteral("lang/de_DE/");
    QTest::newRow("locale file present") << QStringLiteral("fi_FI") << QStringLiteral("lang/fi_FI/");
    QTest::newRow("locale absent") << QStringLiteral("pt_BR") << QStringLiteral("lang/C/");
    QTest::newRow("only the language present") << QStringLiteral("de_AT") << QStringLiteral("lang/C/");
    QTest::newRow("no locale name") << QString() << QStringLiteral("lang/C/");
}

void TestConfiguration::languagePath()
{
    QFETCH(QString, locale);
    QFETCH(QString, expectedTail);
    StaticsGuard guard;

    const QString exe = path(QStringLiteral("install"));
    QVERIFY(QDir().mkpath(exe + QStringLiteral("/lang/de_DE")));
    QVERIFY(QDir().mkpath(exe + QStringLiteral("/lang/de")));
    QVERIFY(QDir().mkpath(exe + QStringLiteral("/lang/C")));
    QVERIFY(writeAll(exe + QStringLiteral("/lang/fi_FI"), "x"));

    Configuration::setDirectories(path(QStringLiteral("home")), exe, locale);
    QCOMPARE(Configuration::ResDir, exe + QLatin1Char('/'));
    QCOMPARE(Configuration::IconDir, (exe + QStringLiteral("/img/")).toLatin1());
    QCOMPARE(Configuration::LangPath, exe + QLatin1Char('/') + expectedTail);

    // The default key pair is the user's own, in the profile folder, wherever the program is.
    Configuration conf;
    QCOMPARE(conf.keyFile, path(QStringLiteral("home")) + QStringLiteral("/.kestrune/ssl.pem"));
}

void TestConfiguration::cloneCopiesAndResetsState()
{
    Configuration original;
    fillEverything(original);
    original.setFileName(QStringLiteral("cloned"));
    original.savedOnExit = false;
    original.settingsPage = 3;
    original.useCount = 5;

    const std::unique_ptr<Configuration> copy(original.clone());
    QVERIFY(copy);
    QVERIFY(copy.get() != &original);
    QVERIFY(copy->savedOnExit);
    QCOMPARE(copy->settingsPage, 0);
    QCOMPARE(copy->useCount, 0);
    QCOMPARE(copy->fileName(), original.fileName());
    QVERIFY(copy->equals(&original));
    QVERIFY(original.equals(copy.get()));
    QCOMPARE(nullness(*copy), nullness(original));

    // The copy saves into the original's file, with savedOnExit as the only difference.
    QVERIFY(copy->save());
    original.savedOnExit = true;
    QCOMPARE(hex(readAll(original.fileName())), hex(profileBytes(original)));

    // Editing the copy leaves the original alone.
    copy->users.append(QStringLiteral("carol:x"));
    copy->port = 1;
    QVERIFY(!copy->equals(&original));
    QCOMPARE(original.users.size(), 3);
    QCOMPARE(original.port, 65535);
}

void TestConfiguration::applyKeepsOwnState()
{
    Configuration target;
    target.setFileName(QStringLiteral("target"));
    target.savedOnExit = false;
    target.settingsPage = 5;
    target.useCount = 3;

    Configuration source;
    fillNullAndEmpty(source);
    fillEverything(source);
    source.password = QString();
    source.setFileName(QStringLiteral("source"));
    source.savedOnExit = true;
    source.settingsPage = 1;
    source.useCount = 9;

    QVERIFY(!target.equals(&source));
    target.apply(&source);
    QVERIFY(target.equals(&source));
    QCOMPARE(nullness(target), nullness(source));
    QCOMPARE(target.fileName(), source.fileName());
    QCOMPARE(target.savedOnExit, false);
    QCOMPARE(target.settingsPage, 5);
    QCOMPARE(target.useCount, 3);

    // The usual editing round: clone, change, apply back.
    const std::unique_ptr<Configuration> edited(target.clone());
    edited->port = 8443;
    edited->users.removeFirst();
    target.apply(edited.get());
    QCOMPARE(target.port, 8443);
    QCOMPARE(target.users, edited->users);
    QCOMPARE(target.useCount, 3);
}

void TestConfiguration::equals_data()
{
    QTest::addColumn<Mutation>("change");
    QTest::addColumn<bool>("equal");

    QTest::newRow("nothing") << Mutation([](Configuration &) {}) << true;
    QTest::newRow("profileName") << Mutation([](Configuration &c) { c.profileName += 'x'; }) << false;
    QTest::newRow("profileName case") << Mutation([](Configuration &c) {
        c.profileName = c.profileName.toUpper();
    }) << false;
    QTest::newRow("user added") << Mutation([](Configuration &c) { c.users.append("x:y"); }) << false;
    QTest::newRow("user changed") << Mutation([](Configuration &c) { c.users[1] = "bob:1"; }) << false;
    QTest::newRow("users reordered") << Mutation([](Configuration &c) { c.users.swapItemsAt(0, 1); })
                                     << false;
    QTest::newRow("recent file dropped") << Mutation([](Configuration &c) {
        c.recentFiles.removeLast();
    }) << false;
    QTest::newRow("recent file changed") << Mutation([](Configuration &c) {
        c.recentFiles[0] += '/';
    }) << false;
    QTest::newRow("port") << Mutation([](Configuration &c) { c.port = 80; }) << false;
    QTest::newRow("sslMode") << Mutation([](Configuration &c) { c.sslMode = CheckState::Off; }) << false;
    QTest::newRow("expertMode") << Mutation([](Configuration &c) { c.expertMode = false; }) << false;
    QTest::newRow("showFolders") << Mutation([](Configuration &c) { c.showFolders = CheckState::On; }) << false;
    QTest::newRow("showImages") << Mutation([](Configuration &c) { c.showImages = CheckState::On; }) << false;
    QTest::newRow("enableDelete") << Mutation([](Configuration &c) { c.enableDelete = CheckState::On; }) << false;
    QTest::newRow("enableUpload") << Mutation([](Configuration &c) { c.enableUpload = CheckState::On; }) << false;
    QTest::newRow("authMode") << Mutation([](Configuration &c) { c.authMode = AuthMode::Password; }) << false;
    QTest::newRow("warningMode") << Mutation([](Configuration &c) { c.warningMode = CheckState::On; }) << false;
    QTest::newRow("dnsEnabled") << Mutation([](Configuration &c) { c.dnsEnabled = CheckState::Off; }) << false;
    QTest::newRow("maxConnections") << Mutation([](Configuration &c) { c.maxConnections++; }) << false;
    QTest::newRow("dataLimitKB") << Mutation([](Configuration &c) { c.dataLimitKB = 0; }) << false;
    QTest::newRow("sessionLifetime") << Mutation([](Configuration &c) { c.sessionLifetime--; })
                                     << false;
    QTest::newRow("password") << Mutation([](Configuration &c) { c.password.chop(1); }) << false;
    QTest::newRow("dnsUser") << Mutation([](Configuration &c) { c.dnsUser = "other"; }) << false;
    QTest::newRow("dnsPassword") << Mutation([](Configuration &c) { c.dnsPassword = QString(); })
                                 << false;
    QTest::newRow("keyFile") << Mutation([](Configuration &c) { c.keyFile = "/other.pem"; }) << false;
    QTest::newRow("keyPassword") << Mutation([](Configuration &c) { c.keyPassword = "PHRASE"; })
                                 << false;

    QTest::newRow("file path") << Mutation([](Configuration &c) { c.setFileName("elsewhere"); })
                               << true;
    QTest::newRow("settingsPage") << Mutation([](Configuration &c) { c.settingsPage = 2; }) << true;
    QTest::newRow("savedOnExit") << Mutation([](Configuration &c) { c.savedOnExit = true; }) << true;
    QTest::newRow("useCount") << Mutation([](Configuration &c) { c.useCount = 7; }) << true;
}

void TestConfiguration::equals()
{
    QFETCH(Mutation, change);
    QFETCH(bool, equal);

    Configuration base;
    fillEverything(base);
    Configuration changed;
    fillEverything(changed);
    change(changed);

    QCOMPARE(changed.equals(&base), equal);
    QCOMPARE(base.equals(&changed), equal);
}

void TestConfiguration::equalsTreatsNullAsEmpty()
{
    Configuration nulls;
    Configuration empties;
    for (Configuration *c : {&nulls, &empties}) {
        fillEverything(*c);
        const QString blank = c == &nulls ? QString() : QStringLiteral("");
        c->profileName = c->password = c->dnsUser = c->dnsPassword = blank;
        c->keyFile = c->keyPassword = blank;
        c->users = QStringList{blank, QStringLiteral("a:b"), blank};
        c->recentFiles = QStringList{blank};
    }
    QVERIFY(nulls.profileName.isNull());
    QVERIFY(!empties.profileName.isNull());
    QVERIFY(nulls.equals(&empties));
    QVERIFY(empties.equals(&nulls));

    empties.users.removeLast();
    QVERIFY(!nulls.equals(&empties)); // a blank entry still counts as an entry
}

void TestConfiguration::fileNamesAddressSameFile()
{
    Configuration writer;
    fillEverything(writer);
    writer.allowedHosts = QStringList{QStringLiteral("nas.home")};
    writer.setFileName(QStringLiteral("My Share"));
    QCOMPARE(writer.fileName(), Configuration::ConfigDir + QStringLiteral("My Share.cnf"));
    QVERIFY(writer.save());
    QVERIFY(QFileInfo::exists(Configuration::ConfigDir + QStringLiteral("My Share.cnf")));

    Configuration reader(QStringLiteral("My Share.cnf"));
    QVERIFY(!Configuration::FirstRun);
    QCOMPARE(reader.fileName(), writer.fileName());
    QVERIFY(reader.equals(&writer));
    QCOMPARE(reader.settingsPage, 0);
    QCOMPARE(reader.useCount, 0);

    // A second save through the reader lands in the same file.
    reader.port = 1234;
    QVERIFY(reader.save());
    QVERIFY(writer.load());
    QCOMPARE(writer.port, 1234);

    QVERIFY(reader.remove());
    QVERIFY(!QFileInfo::exists(writer.fileName()));
    QVERIFY(!QFileInfo::exists(writer.besideFileName()));
    QVERIFY(!reader.remove());

    // The constructor takes the name as given: no suffix is added.
    Configuration global(QStringLiteral("Global.conf"));
    QCOMPARE(global.fileName(), Configuration::ConfigDir + QStringLiteral("Global.conf"));
    QVERIFY(Configuration::FirstRun); // nothing stored yet
    QVERIFY(global.savedOnExit);
    QVERIFY(global.profileName.isNull());
    QVERIFY(!QFileInfo::exists(global.fileName()));
}

void TestConfiguration::globalConfig()
{
    QVERIFY(Configuration::confList.isEmpty());
    QCOMPARE(Configuration::getGlobalConfig(), nullptr);

    Configuration global;
    Configuration other;
    Configuration::confList = {&global, &other};
    QCOMPARE(Configuration::getGlobalConfig(), &global);
    Configuration::confList.clear();
}

QTEST_GUILESS_MAIN(TestConfiguration)
#include "tst_configuration.moc"
