// The settings dialog driven through its widgets: "Apply" and what it stores, access that looks
// closed, saves that fail, and a traffic limit taken over by a running listener on 127.0.0.1.

#include "guifixture.h"
#include "httpclient.h"

#include "app/mobilewebserver.h"
#include "config/configdialog.h"
#include "config/configuration.h"
#include "config/userdialog.h"
#include "instances/addresslist.h"
#include "instances/serveritem.h"
#include "server/clientmanager.h"
#include "server/webserver.h"
#include "widgets/linklabel.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

using Window = std::unique_ptr<MobileWebServer>;
using Drive = std::function<void(ConfigDialog *)>;

namespace {

const QByteArray TextA = "contents of a";

template<class W>
W *control(QWidget *dialog, const char *name)
{
    W *w = dialog->findChild<W *>(QLatin1String(name));
    if (!w)
        qWarning("no control %s", name);
    return w;
}

void typeNumber(QSpinBox *box, int value)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QString::number(value));
}

// A click on the box itself: the widget is wider than its box and text.
void tick(QCheckBox *box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

bool applyShown(const ConfigDialog *dialog)
{
    return !dialog->applyControl()->isHidden();
}

Configuration saved(const QString &file)
{
    Configuration c;
    c.load(Configuration::ConfigDir + file);
    return c;
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void applyRoundTrip_data();
    void applyRoundTrip();
    void accessThatLooksClosedIsClosed_data();
    void accessThatLooksClosedIsClosed();
    void failedSaveIsReported_data();
    void failedSaveIsReported();
    void limitOnARunningServer();

private:
    // Opens the global settings from the window's menu; `drive` works the dialog, which `how`
    // then ends (a button's text, "Esc" or "title bar").
    static void openGlobal(MobileWebServer *window, GuiFixture &f, const Drive &drive,
                           const QString &how = QStringLiteral("Close"));
    static void queue(GuiFixture &f, const Drive &drive, const QString &how = QStringLiteral("Close"));
    static ServerItem *startRow(MobileWebServer *window, int row);
};

void TestSettings::queue(GuiFixture &f, const Drive &drive, const QString &how)
{
    f.prompt.dialogs.append([drive, how](QDialog *d) {
        auto *dialog = qobject_cast<ConfigDialog *>(d);
        if (!dialog) {
            qWarning("%s is no settings dialog", d->metaObject()->className());
            d->reject();
            return int(QDialog::Rejected);
        }
        drive(dialog);
        return ScriptedPrompt::end(dialog, how);
    });
}

void TestSettings::openGlobal(MobileWebServer *window, GuiFixture &f, const Drive &drive, const QString &how)
{
    queue(f, drive, how);
    const bool expert = window->expertModeAction()->isChecked();
    QAction *settings = GuiFixture::menuAction(
        window, expert ? QStringLiteral("Global Default Settings") : QStringLiteral("Settings"));
    QVERIFY(settings);
    settings->trigger();
    QVERIFY2(f.prompt.dialogs.isEmpty(), "the settings dialog did not open");
}

ServerItem *TestSettings::startRow(MobileWebServer *window, int row)
{
    GuiFixture::pressCell(window->addresses()->currentTable(), row, 2);
    ServerItem *item = GuiFixture::items(window).value(row);
    return item && item->webServer->isListening() ? item : nullptr;
}

void TestSettings::applyRoundTrip_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("applied"); // pressing "Apply" as well
    QTest::newRow("a check box") << 0 << QStringLiteral("enableUpload") << true;
    QTest::newRow("a choice") << 1 << QStringLiteral("authMode") << true;
    QTest::newRow("a line") << 2 << QStringLiteral("allowedHosts") << true;
    // Enabling the DNS service would ask the provider on the internet: not applied here.
    QTest::newRow("a check box not applied") << 3 << QStringLiteral("dnsEnabled") << false;
    QTest::newRow("a number") << 4 << QStringLiteral("dataLimitKB") << true;
}

void TestSettings::applyRoundTrip()
{
    QFETCH(int, page);
    QFETCH(QString, name);
    QFETCH(bool, applied);
    GuiFixture f;
    // A password, so that password access may be applied.
    f.writeGlobal(true, [](Configuration &c) { c.password = QStringLiteral("s3cret"); });
    Window window = f.open();
    // The profile file and the file of the settings kept beside it.
    const auto stored = [&] {
        QByteArray bytes;
        for (const char *name : {"Global.conf", "Global.conf.ini"}) {
            QFile file(f.configDir() + QLatin1String(name));
            if (file.open(QIODevice::ReadOnly))
                bytes += file.readAll();
        }
        return bytes;
    };
    const QByteArray before = stored();

    bool shownAfterChange = false;
    bool shownAfterApply = true;
    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        QVERIFY(!applyShown(dialog));
        GuiFixture::showPage(dialog, page);
        QWidget *w = dialog->findChild<QWidget *>(name);
        if (auto *box = qobject_cast<QCheckBox *>(w))
            tick(box);
        else if (auto *spin = qobject_cast<QSpinBox *>(w))
            QTest::keyClick(spin, Qt::Key_Up);
        else if (auto *edit = qobject_cast<QLineEdit *>(w))
            GuiFixture::type(edit, edit->text() + u'x');
        else if (auto *combo = qobject_cast<QComboBox *>(w))
            QTest::keyClick(combo, Qt::Key_Down);
        shownAfterChange = applyShown(dialog);
        QVERIFY(!dialog->copy()->equals(Configuration::getGlobalConfig()));
        if (applied) {
            GuiFixture::press(dialog, QStringLiteral("Apply"));
            shownAfterApply = applyShown(dialog);
            QVERIFY(dialog->copy()->equals(Configuration::getGlobalConfig()));
        }
    });
    QVERIFY(shownAfterChange);
    if (applied) {
        QVERIFY(!shownAfterApply);
        QVERIFY(stored() != before);
    } else {
        QCOMPARE(stored(), before);
    }
    QVERIFY(f.prompt.texts().isEmpty());
    GuiFixture::quit(window);
}

void TestSettings::accessThatLooksClosedIsClosed_data()
{
    QTest::addColumn<int>("mode");           // the access chosen on the page
    QTest::addColumn<QString>("password");   // stored before
    QTest::addColumn<QStringList>("users");  // stored before
    QTest::addColumn<QString>("refusal");    // empty: applied
    QTest::addColumn<int>("status");         // of a GET of a file afterwards, without credentials
    const QString noPassword = QStringLiteral("Password access needs a password: an empty one lets everyone in.");
    const QString noUser = QStringLiteral("Basic HTTP access needs at least one user: without one nobody gets in.");
    QTest::newRow("password access without a password") << 1 << QString() << QStringList() << noPassword << 200;
    QTest::newRow("password access with a password") << 1 << QStringLiteral("s3cret") << QStringList() << QString() << 403;
    QTest::newRow("Basic access without a user") << 2 << QString() << QStringList() << noUser << 200;
    QTest::newRow("Basic access with a user") << 2 << QString() << QStringList{QStringLiteral("anna:pw")} << QString() << 401;
}

void TestSettings::accessThatLooksClosedIsClosed()
{
    QFETCH(int, mode);
    QFETCH(QString, password);
    QFETCH(QStringList, users);
    QFETCH(QString, refusal);
    QFETCH(int, status);
    GuiFixture f;
    f.writeGlobal(true, [&](Configuration &c) {
        c.warningMode = CheckState::Off;
        c.password = password;
        c.users = users;
    });
    f.writeFile(f.share() + QStringLiteral("/a.txt"), TextA);
    Window window = f.open();
    window->addresses()->currentTable()->setCurrentCell(0, 1);
    window->fileOrDirSelected(f.share());
    ServerItem *item = startRow(window.get(), 0);
    QVERIFY(item);
    const QByteArray url = item->getUrl() + "/a.txt";
    QCOMPARE(GuiFixture::get(url), 200);

    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        GuiFixture::showPage(dialog, 1);
        auto *box = control<QComboBox>(dialog, "authMode");
        box->setCurrentIndex(mode);
        QVERIFY(applyShown(dialog));
        GuiFixture::press(dialog, QStringLiteral("Apply"));
        // Refused, the edit stays in the dialog to be mended.
        QCOMPARE(applyShown(dialog), !refusal.isEmpty());
    });
    QCOMPARE(f.prompt.texts(), refusal.isEmpty() ? QStringList() : QStringList{refusal + QStringLiteral("\nNothing was applied.")});
    QCOMPARE(Configuration::getGlobalConfig()->authMode, refusal.isEmpty() ? AuthMode(mode) : AuthMode::None);
    QCOMPARE(saved(QStringLiteral("Global.conf")).authMode, refusal.isEmpty() ? AuthMode(mode) : AuthMode::None);
    // The running server serves as the profile says.
    QCOMPARE(GuiFixture::get(url), status);
    GuiFixture::quit(window);
}

void TestSettings::failedSaveIsReported_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("files"); // named in the one message, in its order
    QTest::addColumn<QString>("consequence");
    QTest::newRow("Apply") << QStringLiteral("Apply") << QStringList{"Global.conf"}
                           << QStringLiteral("The servers keep what was applied until Tessaly ends.");
    QTest::newRow("the exit") << QStringLiteral("exit") << QStringList{"list.ini", "Global.conf"}
                              << QStringLiteral("What was not saved is lost when Tessaly ends.");
}

void TestSettings::failedSaveIsReported()
{
    QFETCH(QString, action);
    QFETCH(QStringList, files);
    QFETCH(QString, consequence);
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) { c.warningMode = CheckState::Off; });
    f.writeFile(f.share() + QStringLiteral("/a.txt"), TextA);
    Window window = f.open();
    window->addresses()->currentTable()->setCurrentCell(0, 1);
    window->fileOrDirSelected(f.share());
    ServerItem *item = startRow(window.get(), 0);
    QVERIFY(item);
    const QByteArray url = item->getUrl() + "/a.txt";
    const auto listed = [&] {
        QStringList list;
        for (const QFileInfo &file : QDir(f.configDir()).entryInfoList(QDir::Files, QDir::Name))
            list.append(file.fileName() + QString::number(file.lastModified().toMSecsSinceEpoch()));
        return list;
    };
    const QStringList before = listed();
    ReadOnlyFolder readOnly(f.configDir());

    if (action == QLatin1String("Apply")) {
        openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
            GuiFixture::showPage(dialog, 1);
            QTest::keyClick(control<QComboBox>(dialog, "authMode"), Qt::Key_Down);
            GuiFixture::type(control<QLineEdit>(dialog, "password"), QStringLiteral("s3cret"));
            GuiFixture::press(dialog, QStringLiteral("Apply"));
            // Applied all the same: nothing is left to apply.
            QVERIFY(!applyShown(dialog));
        });
    } else {
        window->close();
    }
    // One message, naming each file with the system's reason.
    const QStringList said = f.prompt.texts();
    QCOMPARE(said.size(), 1);
    const QStringList lines = said.first().split(u'\n');
    QCOMPARE(lines.size(), files.size() + 2);
    QCOMPARE(lines.first(), QStringLiteral("Settings could not be saved:"));
    for (int i = 0; i < files.size(); ++i) {
        const QString file = f.configDir() + files.at(i) + QStringLiteral(": ");
        QVERIFY2(lines.at(i + 1).startsWith(file) && lines.at(i + 1).size() > file.size(), qPrintable(lines.at(i + 1)));
    }
    QCOMPARE(lines.last(), consequence);
    QCOMPARE(listed(), before);
    if (action == QLatin1String("exit")) {
        window.reset();
        return;
    }
    // The servers keep what was applied.
    QCOMPARE(GuiFixture::get(url), 403);
    QCOMPARE(GuiFixture::get(url + "?a=log&password=s3cret"), 200);
    window.reset();
}

// A connection opened before the limit is lowered: the running listener counts it too, and the
// window stops the server at the limit and says why.
void TestSettings::limitOnARunningServer()
{
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) { c.warningMode = CheckState::Off; });
    f.writeFile(f.share() + QStringLiteral("/a.txt"), TextA);
    f.writeFile(f.share() + QStringLiteral("/big.bin"), QByteArray(5000, 'b'));
    Window window = f.open();
    window->addresses()->currentTable()->setCurrentCell(0, 1);
    window->fileOrDirSelected(f.share());
    ServerItem *item = startRow(window.get(), 0);
    QVERIFY(item);
    HttpClient early;
    QVERIFY(early.connectTo(item->webServer->port));
    QCOMPARE(early.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        GuiFixture::showPage(dialog, 4);
        typeNumber(control<QSpinBox>(dialog, "dataLimitKB"), 2);
        GuiFixture::press(dialog, QStringLiteral("Apply"));
    });
    QVERIFY(item->webServer->isListening());
    early.send("GET /big.bin HTTP/1.1\r\n\r\n");
    QTRY_VERIFY(!item->webServer->isListening());
    QTRY_VERIFY(!f.prompt.texts().isEmpty());
    QVERIFY(f.prompt.texts().last().startsWith(QStringLiteral("Network traffic limit")));
    GuiFixture::quit(window);
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
