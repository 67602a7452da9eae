// Every field of a profile through every operation that handles fields: save and load, equals,
// apply and clone. A field left out of one of them shows up here as a row that fails.
#include "config/configuration.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <type_traits>

using Mutation = std::function<void(Configuration &)>;
using Reading = std::function<QString(const Configuration &)>;
Q_DECLARE_METATYPE(Mutation)
Q_DECLARE_METATYPE(Reading)

namespace {

QString shown(const QString &text)
{
    return text.isNull() ? QStringLiteral("<null>") : u'"' + text + u'"';
}

QString shown(const QStringList &list)
{
    return u'[' + list.join(u',') + u']';
}

template <typename T>
QString shown(T value)
{
    static_assert(std::is_integral_v<T> || std::is_enum_v<T>);
    return QString::number(qint64(value));
}

} // namespace

class TestProfileFields : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyField_data();
    void everyField();

private:
    QTemporaryDir root;
};

void TestProfileFields::initTestCase()
{
    QVERIFY(root.isValid());
    QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("exe/lang/C"))));
    Configuration::setDirectories(root.filePath(QStringLiteral("home")), root.filePath(QStringLiteral("exe")),
                                  QStringLiteral("C"));
}

void TestProfileFields::everyField_data()
{
    QTest::addColumn<Mutation>("change");
    QTest::addColumn<Reading>("read");
    QTest::addColumn<bool>("stored");  // in the profile file
    QTest::addColumn<bool>("setting"); // compared by equals(), carried by apply() and clone()

#define FIELD(name, value, stored, setting)                                                                   \
    QTest::newRow(#name) << Mutation([](Configuration &c) { c.name = value; })                              \
                         << Reading([](const Configuration &c) { return shown(c.name); }) << stored << setting
    FIELD(users, (QStringList{"ann:1", "bob:2:3"}), true, true);
    FIELD(recentFiles, (QStringList{"/a", "/b c"}), true, true);
    FIELD(port, 8443, true, true);
    FIELD(sslMode, CheckState::On, true, true);
    FIELD(expertMode, true, true, true);
    FIELD(showFolders, CheckState::Off, true, true);
    FIELD(showImages, CheckState::Off, true, true);
    FIELD(enableDelete, CheckState::Off, true, true);
    FIELD(enableUpload, CheckState::Off, true, true);
    FIELD(authMode, AuthMode::Basic, true, true);
    FIELD(warningMode, CheckState::Off, true, true);
    FIELD(dnsEnabled, CheckState::On, true, true);
    FIELD(maxConnections, 9, true, true);
    FIELD(dataLimitKB, 1234, true, true);
    FIELD(sessionLifetime, 77, true, true);
    FIELD(profileName, QStringLiteral("Work"), true, true);
    FIELD(password, QStringLiteral("secret"), true, true);
    FIELD(dnsUser, QStringLiteral("dns-user"), true, true);
    FIELD(dnsPassword, QStringLiteral("dns-pass"), true, true);
    FIELD(keyFile, QStringLiteral("/keys/own.pem"), true, true);
    FIELD(keyPassword, QStringLiteral("phrase"), true, true);
    // How the program last ended: kept in the file, never part of an edited copy.
    FIELD(savedOnExit, false, true, false);
    FIELD(settingsPage, 3, false, false);
    FIELD(useCount, 5, false, false);
    FIELD(allowedHosts, (QStringList{"nas.home", "files.example.org"}), true, true);
    FIELD(pages, FolderPages::Responsive, true, true);
#undef FIELD
}

void TestProfileFields::everyField()
{
    QFETCH(Mutation, change);
    QFETCH(Reading, read);
    QFETCH(bool, stored);
    QFETCH(bool, setting);

    const Configuration defaults;
    Configuration changed;
    changed.setFileName(QStringLiteral("fields"));
    change(changed);
    QVERIFY(read(changed) != read(defaults));

    // Save and load.
    QVERIFY(changed.save());
    Configuration loaded;
    QVERIFY(loaded.load(changed.fileName()));
    QCOMPARE(read(loaded), stored ? read(changed) : read(defaults));

    // Equals.
    QCOMPARE(changed.equals(&defaults), !setting);
    QCOMPARE(defaults.equals(&changed), !setting);

    // Apply onto a default profile, and the other way round.
    Configuration target;
    target.apply(&changed);
    QCOMPARE(read(target), setting ? read(changed) : read(defaults));
    Configuration back;
    change(back);
    back.apply(&defaults);
    QCOMPARE(read(back), setting ? read(defaults) : read(changed));

    // Clone.
    const std::unique_ptr<Configuration> copy(changed.clone());
    QCOMPARE(read(*copy), setting ? read(changed) : read(defaults));
    QVERIFY(copy->equals(&changed));
}

QTEST_GUILESS_MAIN(TestProfileFields)
#include "tst_profilefields.moc"
