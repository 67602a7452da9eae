// The settings dialog opened from the window and from the address table, driven through its
// widgets: the pages shown, "Apply", the remembered page, the port range, the user table, keys and
// limits taken over by running listeners on 127.0.0.1, the help links and dialogs opened from
// inside each other.

#include "guifixture.h"
#include "httpclient.h"
#include "testkeys.h"

#include "app/linklabel.h"
#include "app/mobilewebserver.h"
#include "config/configdialog.h"
#include "config/configuration.h"
#include "config/userdialog.h"
#include "instances/addresslist.h"
#include "instances/serveritem.h"
#include "server/clientmanager.h"
#include "server/webserver.h"

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

QByteArray basic(const QString &credentials)
{
    return "Authorization: Basic " + credentials.toUtf8().toBase64() + "\r\n";
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void pages_data();
    void pages();
    void applyRoundTrip_data();
    void applyRoundTrip();
    void closingKeepsThePageAndDropsTheEdits_data();
    void closingKeepsThePageAndDropsTheEdits();
    void portRange_data();
    void portRange();
    void addUser_data();
    void addUser();
    void editUserTable_data();
    void editUserTable();
    void accessThatLooksClosedIsClosed_data();
    void accessThatLooksClosedIsClosed();
    void failedSaveIsReported_data();
    void failedSaveIsReported();
    void keysOfARunningServer_data();
    void keysOfARunningServer();
    void limitOnARunningServer_data();
    void limitOnARunningServer();
    void lifetimeOnARunningServer_data();
    void lifetimeOnARunningServer();
    void httpsReachesRowsShownLater();
    void helpLinks_data();
    void helpLinks();
    void dialogOpenedFromInsideAnother_data();
    void dialogOpenedFromInsideAnother();

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

void TestSettings::pages_data()
{
    QTest::addColumn<bool>("expert");
    QTest::addColumn<bool>("ownProfile"); // a row's own profile, from its context menu
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("keys");
    const QStringList three{"Folder", "Aut.", "Server"};
    QTest::newRow("global, simple") << false << false << three << QStringLiteral("Configuration Settings") << false;
    QTest::newRow("global, expert") << true << false << QStringList{"Folder", "Aut.", "Server", "DNS", "Server2"}
                                    << QStringLiteral("Default Configuration Settings") << true;
    QTest::newRow("a row's own profile") << true << true << three << QStringLiteral("Configuration Settings") << true;
}

void TestSettings::pages()
{
    QFETCH(bool, expert);
    QFETCH(bool, ownProfile);
    QFETCH(QStringList, labels);
    QFETCH(QString, title);
    QFETCH(bool, keys);
    GuiFixture f;
    f.writeGlobal(expert);
    GuiFixture::writeProfile(QStringLiteral("work"), QStringLiteral("work"));
    Window window = f.open();

    QStringList shown;
    QString shownTitle;
    bool keyControls = false;
    const Drive drive = [&](ConfigDialog *dialog) {
        for (int row = 0; row < dialog->contents()->count(); ++row)
            shown.append(dialog->contents()->item(row)->text());
        QCOMPARE(dialog->pageCount(), dialog->contents()->count());
        shownTitle = dialog->windowTitle();
        keyControls = dialog->findChild<QLineEdit *>(QStringLiteral("keyFile"));
        // Every page comes up.
        for (int row = 0; row < dialog->pageCount(); ++row) {
            GuiFixture::showPage(dialog, row);
            QCOMPARE(dialog->pages()->currentIndex(), row);
        }
    };
    if (ownProfile) {
        GuiFixture::items(window.get()).at(1)->configurationChanged(Configuration::confList.at(1));
        queue(f, drive);
        GuiFixture::contextAction(window.get(), 1, QStringLiteral("work Settings"));
        QVERIFY(f.prompt.dialogs.isEmpty());
    } else {
        openGlobal(window.get(), f, drive);
    }
    QCOMPARE(shown, labels);
    QCOMPARE(shownTitle, title);
    QCOMPARE(keyControls, keys);
    GuiFixture::quit(window);
}

void TestSettings::applyRoundTrip_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("applied"); // pressing "Apply" as well
    QTest::newRow("Show images") << 0 << QStringLiteral("showImages") << true;
    QTest::newRow("Enable deleting") << 0 << QStringLiteral("enableDelete") << true;
    QTest::newRow("Show folders") << 0 << QStringLiteral("showFolders") << true;
    QTest::newRow("Enable upload") << 0 << QStringLiteral("enableUpload") << true;
    QTest::newRow("Page style") << 0 << QStringLiteral("pages") << true;
    QTest::newRow("authentication") << 1 << QStringLiteral("authMode") << true;
    QTest::newRow("Show warning messages") << 2 << QStringLiteral("warningMode") << true;
    QTest::newRow("SSL/Secure Mode") << 2 << QStringLiteral("sslMode") << true;
    QTest::newRow("port") << 2 << QStringLiteral("port") << true;
    QTest::newRow("key pass phrase") << 2 << QStringLiteral("keyPassword") << true;
    QTest::newRow("Allowed host names") << 2 << QStringLiteral("allowedHosts") << true;
    // Enabling the DNS service would ask the provider on the internet: not applied here.
    QTest::newRow("Enable DNS Service") << 3 << QStringLiteral("dnsEnabled") << false;
    QTest::newRow("DNS user") << 3 << QStringLiteral("dnsUser") << true;
    QTest::newRow("DNS password") << 3 << QStringLiteral("dnsPassword") << true;
    QTest::newRow("Max. Connections") << 4 << QStringLiteral("maxConnections") << true;
    QTest::newRow("traffic limit") << 4 << QStringLiteral("dataLimitKB") << true;
    QTest::newRow("session lifetime") << 4 << QStringLiteral("sessionLifetime") << true;
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
    bool shownAfterChangeBack = true;
    bool shownAfterApply = true;
    bool copyDiffered = false;
    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        QVERIFY(!applyShown(dialog));
        GuiFixture::showPage(dialog, page);
        QWidget *w = dialog->findChild<QWidget *>(name);
        QVERIFY(w);
        const QString original = qobject_cast<QLineEdit *>(w) ? qobject_cast<QLineEdit *>(w)->text() : QString();
        const auto change = [&](bool back) {
            if (auto *box = qobject_cast<QCheckBox *>(w)) {
                tick(box);
            } else if (auto *spin = qobject_cast<QSpinBox *>(w)) {
                QTest::keyClick(spin, back ? Qt::Key_Down : Qt::Key_Up);
            } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
                GuiFixture::type(edit, back ? original : original + u'x');
            } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
                QTest::keyClick(combo, back ? Qt::Key_Up : Qt::Key_Down);
            } else {
                QFAIL("no control of a known kind");
            }
        };
        change(false);
        shownAfterChange = applyShown(dialog);
        change(true);
        shownAfterChangeBack = applyShown(dialog);
        change(false);
        copyDiffered = !dialog->copy()->equals(Configuration::getGlobalConfig());
        if (applied) {
            GuiFixture::press(dialog, QStringLiteral("Apply"));
            shownAfterApply = applyShown(dialog);
            QVERIFY(dialog->copy()->equals(Configuration::getGlobalConfig()));
        }
    });
    QVERIFY(shownAfterChange);
    QVERIFY(!shownAfterChangeBack);
    QVERIFY(copyDiffered);
    if (applied) {
        QVERIFY(!shownAfterApply);
        QVERIFY(stored() != before);
    } else {
        QCOMPARE(stored(), before);
    }
    QVERIFY(f.prompt.texts().isEmpty());
    GuiFixture::quit(window);
}

void TestSettings::closingKeepsThePageAndDropsTheEdits_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("expert");
    QTest::addColumn<int>("page");     // the page closed on
    QTest::addColumn<bool>("switched"); // expert mode switched off before opening again
    QTest::addColumn<int>("reopened"); // the page shown when opened again on the page shown last
    for (const char *how : {"Close", "Esc", "title bar"})
        QTest::addRow("%s", how) << QString::fromLatin1(how) << false << 2 << false << 2;
    QTest::newRow("a page that is gone since") << QStringLiteral("Close") << true << 4 << true << 0;
}

void TestSettings::closingKeepsThePageAndDropsTheEdits()
{
    QFETCH(QString, how);
    QFETCH(bool, expert);
    QFETCH(int, page);
    QFETCH(bool, switched);
    QFETCH(int, reopened);
    GuiFixture f;
    f.writeGlobal(expert);
    Window window = f.open();
    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        GuiFixture::showPage(dialog, 0);
        tick(control<QCheckBox>(dialog, "showImages"));
        QVERIFY(applyShown(dialog));
        GuiFixture::showPage(dialog, page);
    }, how);
    // Nothing was applied: the profile, its file and the servers keep their folders' thumbnails.
    QVERIFY(Configuration::getGlobalConfig()->isThumbnail());
    QVERIFY(saved(QStringLiteral("Global.conf")).isThumbnail());

    if (switched)
        window->expertModeAction()->trigger();
    int shown = -1;
    bool images = false;
    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        shown = dialog->pages()->currentIndex();
        images = control<QCheckBox>(dialog, "showImages")->isChecked();
    });
    QCOMPARE(shown, reopened);
    QVERIFY(images);
    // A page asked for wins over the one shown last.
    queue(f, [&](ConfigDialog *dialog) { shown = dialog->pages()->currentIndex(); });
    window->openSettings(Configuration::getGlobalConfig(), window->addresses(), 1);
    QCOMPARE(shown, 1);
    GuiFixture::quit(window);
}

void TestSettings::portRange_data()
{
    QTest::addColumn<bool>("root");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("secure");   // the port after ticking "SSL/Secure Mode"
    QTest::addColumn<int>("unsecure"); // after unticking it again
    QTest::newRow("outside root mode") << false << 8080 << 1024 << 8080 << 8080 << 8080;
    QTest::newRow("the highest port") << false << 65535 << 1024 << 65535 << 65535 << 65535;
    QTest::newRow("a stored port below 1024 outside root mode") << false << 80 << 1024 << 1024 << 1024 << 1024;
    QTest::newRow("root mode") << true << 8080 << 1 << 8080 << 443 << 80;
}

void TestSettings::portRange()
{
    QFETCH(bool, root);
    QFETCH(int, stored);
    QFETCH(int, minimum);
    QFETCH(int, shown);
    QFETCH(int, secure);
    QFETCH(int, unsecure);
    GuiFixture f;
    f.writeGlobal(false, [&](Configuration &c) { c.port = stored; });
    Window window = f.open(root ? QStringLiteral("root") : QString());
    f.prompt.asked.clear();
    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        GuiFixture::showPage(dialog, 2);
        QSpinBox *port = control<QSpinBox>(dialog, "port");
        QCOMPARE(port->minimum(), minimum);
        QCOMPARE(port->maximum(), 65535);
        QCOMPARE(port->value(), shown);
        // What is shown is what would be applied.
        QCOMPARE(applyShown(dialog), shown != stored);
        QCOMPARE(dialog->copy()->port, shown);
        QTest::keyClick(port, Qt::Key_Up);
        QCOMPARE(port->value(), qMin(shown + 1, 65535));
        typeNumber(port, shown);
        auto *ssl = control<QCheckBox>(dialog, "sslMode");
        tick(ssl);
        QCOMPARE(port->value(), secure);
        tick(ssl);
        QCOMPARE(port->value(), unsecure);
        QCOMPARE(dialog->copy()->port, unsecure);
    });
    GuiFixture::quit(window);
}

void TestSettings::addUser_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("refusal"); // the warning, "-" for none while nothing is added
    QTest::addColumn<QStringList>("users");
    const QStringList before{"anna:old"};
    QTest::newRow("an account") << QStringLiteral("bob") << QStringLiteral("s3cret") << QString()
                                << QStringList{"anna:old", "bob:s3cret"};
    QTest::newRow("a password with colons") << QStringLiteral("bob") << QStringLiteral("pa:ss:word") << QString()
                                            << QStringList{"anna:old", "bob:pa:ss:word"};
    QTest::newRow("a password with a percent sign") << QStringLiteral("bob") << QStringLiteral("100%41") << QString()
                                                    << QStringList{"anna:old", "bob:100%41"};
    QTest::newRow("a name with a colon") << QStringLiteral("bo:b") << QStringLiteral("s3cret")
                                         << QStringLiteral("A user name cannot contain \":\".") << before;
    QTest::newRow("a name taken") << QStringLiteral("anna") << QStringLiteral("new")
                                  << QStringLiteral("There is a user of this name already.") << before;
    QTest::newRow("no name") << QString() << QStringLiteral("s3cret") << QStringLiteral("-") << before;
    QTest::newRow("no password") << QStringLiteral("bob") << QString() << QStringLiteral("-") << before;
}

void TestSettings::addUser()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, refusal);
    QFETCH(QStringList, users);
    GuiFixture f;
    f.writeGlobal(false, [](Configuration &c) { c.users = {QStringLiteral("anna:old")}; });
    f.writeFile(f.share() + QStringLiteral("/a.txt"), TextA);
    Window window = f.open();
    window->fileOrDirSelected(f.share());
    QTest::mouseClick(window->addresses()->startAllButton(), Qt::LeftButton);
    ServerItem *item = GuiFixture::items(window.get()).at(0);
    QVERIFY(item->webServer->isListening());
    const QByteArray url = item->getUrl() + "/a.txt";

    bool stayedOpen = false;
    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        GuiFixture::showPage(dialog, 1);
        auto *mode = control<QComboBox>(dialog, "authMode");
        QTest::keyClick(mode, Qt::Key_Down);
        QTest::keyClick(mode, Qt::Key_Down);
        QCOMPARE(mode->currentText(), QStringLiteral("Basic HTTP"));
        f.prompt.dialogs.append([&](QDialog *d) {
            auto *users = qobject_cast<UserDialog *>(d);
            if (!users)
                return int(QDialog::Rejected);
            GuiFixture::type(users->userLine(), user);
            GuiFixture::type(users->passwordLine(), password);
            GuiFixture::press(users, QStringLiteral("OK"));
            stayedOpen = users->isVisible();
            return stayedOpen ? ScriptedPrompt::end(users, QStringLiteral("Cancel")) : users->result();
        });
        GuiFixture::press(dialog, QStringLiteral("Add user"));
        QVERIFY(f.prompt.dialogs.isEmpty());
        QCOMPARE(dialog->copy()->users, users);
        QCOMPARE(control<QTableWidget>(dialog, "users")->rowCount(), int(users.size()));
        GuiFixture::press(dialog, QStringLiteral("Apply"));
    });
    QCOMPARE(stayedOpen, !refusal.isEmpty());
    QCOMPARE(f.prompt.texts(), refusal.isEmpty() || refusal == QLatin1String("-") ? QStringList() : QStringList{refusal});
    QCOMPARE(Configuration::getGlobalConfig()->users, users);
    QCOMPARE(saved(QStringLiteral("Global.conf")).users, users);

    // The running server asks for the accounts at once.
    QCOMPARE(GuiFixture::get(url), 401);
    QCOMPARE(GuiFixture::request("GET", url, basic(QStringLiteral("anna:old"))), 200);
    if (refusal.isEmpty()) {
        QByteArray body;
        QCOMPARE(GuiFixture::request("GET", url, basic(user + u':' + password), &body), 200);
        QCOMPARE(body, TextA);
        QCOMPARE(GuiFixture::request("GET", url, basic(user + QStringLiteral(":pa"))), 401);
    }
    GuiFixture::quit(window);
}

void TestSettings::editUserTable_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QStringList>("users");
    const QStringList before{"anna:secret", "bob:pw"};
    QTest::newRow("a name with a colon") << 0 << 0 << QStringLiteral("an:na")
                                         << QStringLiteral("A user name cannot contain \":\".") << before;
    QTest::newRow("a name taken") << 1 << 0 << QStringLiteral("anna")
                                  << QStringLiteral("There is a user of this name already.") << before;
    QTest::newRow("no name") << 0 << 0 << QString() << QStringLiteral("A user needs a name.") << before;
    QTest::newRow("no password") << 1 << 1 << QString() << QStringLiteral("A user needs a password.") << before;
    QTest::newRow("another name") << 1 << 0 << QStringLiteral("carol") << QString()
                                  << QStringList{"anna:secret", "carol:pw"};
    QTest::newRow("a password with a colon") << 0 << 1 << QStringLiteral("new:pw") << QString()
                                             << QStringList{"anna:new:pw", "bob:pw"};
    QTest::newRow("removed") << 0 << -1 << QString() << QString() << QStringList{"bob:pw"};
}

void TestSettings::editUserTable()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, text);
    QFETCH(QString, refusal);
    QFETCH(QStringList, users);
    GuiFixture f;
    f.writeGlobal(false, [](Configuration &c) {
        c.authMode = AuthMode::Basic;
        c.users = {QStringLiteral("anna:secret"), QStringLiteral("bob:pw")};
    });
    Window window = f.open();
    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        GuiFixture::showPage(dialog, 1);
        auto *table = control<QTableWidget>(dialog, "users");
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(1, 0)->text(), QStringLiteral("bob"));
        QCOMPARE(table->item(1, 1)->text(), QStringLiteral("pw"));
        if (column < 0) {
            table->setCurrentCell(row, 0);
            GuiFixture::press(dialog, QStringLiteral("Remove user"));
        } else {
            QTableWidgetItem *cell = table->item(row, column);
            const QString old = cell->text();
            table->setCurrentItem(cell);
            table->editItem(cell);
            QPointer<QLineEdit> editor = table->viewport()->findChild<QLineEdit *>();
            QVERIFY(editor);
            GuiFixture::type(editor, text);
            QTest::keyClick(editor, Qt::Key_Return);
            // The edit is taken once the editor has gone.
            QTRY_VERIFY(!editor);
            QCOMPARE(cell->text(), refusal.isEmpty() ? text : old);
        }
        QCOMPARE(dialog->copy()->users, users);
        QCOMPARE(applyShown(dialog), refusal.isEmpty());
    });
    QCOMPARE(f.prompt.texts(), refusal.isEmpty() ? QStringList() : QStringList{refusal});
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
    QTest::newRow("a new profile") << QStringLiteral("New profile") << QStringList{"office.cnf"}
                                   << QStringLiteral("The profile was not made.");
    QTest::newRow("a renamed profile") << QStringLiteral("rename") << QStringList{"work.cnf"}
                                       << QStringLiteral("The new name holds until Tessaly ends.");
}

void TestSettings::failedSaveIsReported()
{
    QFETCH(QString, action);
    QFETCH(QStringList, files);
    QFETCH(QString, consequence);
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) { c.warningMode = CheckState::Off; });
    GuiFixture::writeProfile(QStringLiteral("work"), QStringLiteral("work"));
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
    } else if (action == QLatin1String("exit")) {
        window->close();
    } else {
        f.prompt.dialogs.append([&](QDialog *dialog) {
            auto *box = dialog->findChild<QComboBox *>();
            if (action == QLatin1String("rename")) {
                box->setCurrentIndex(1);
                GuiFixture::type(box->lineEdit(), QStringLiteral("office"));
                GuiFixture::press(dialog, QStringLiteral("OK"));
                return dialog->result();
            }
            f.prompt.answers = {QStringLiteral("office")};
            GuiFixture::press(dialog, action);
            return ScriptedPrompt::end(dialog, QStringLiteral("Close"));
        });
        GuiFixture::contextAction(window.get(), 1, QStringLiteral("Change Config"));
    }
    // One message, naming each file with the system's reason.
    QStringList said = f.prompt.texts();
    said.removeAll(QStringLiteral("Profile name:"));
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
    QCOMPARE(GuiFixture::get(url), action == QLatin1String("Apply") ? 403 : 200);
    if (action == QLatin1String("Apply"))
        QCOMPARE(GuiFixture::get(url + "?a=log&password=s3cret"), 200);
    QCOMPARE(Configuration::confList.size(), 2);
    QCOMPARE(Configuration::confList.at(1)->profileName,
             action == QLatin1String("rename") ? QStringLiteral("office") : QStringLiteral("work"));
    window.reset();
}

void TestSettings::keysOfARunningServer_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("refusal"); // part of the warning; empty when the pair is applied
    QTest::newRow("another pair") << QStringLiteral("other") << QString();
    QTest::newRow("a wrong pass phrase") << QStringLiteral("phrase") << QStringLiteral("wrong pass phrase");
    QTest::newRow("a file that does not exist") << QStringLiteral("missing") << QStringLiteral("cannot be opened");
    QTest::newRow("a key without its certificate") << QStringLiteral("no certificate")
                                                   << QStringLiteral("holds no certificate");
    QTest::newRow("the default pair again") << QStringLiteral("restore") << QString();
}

void TestSettings::keysOfARunningServer()
{
    QFETCH(QString, change);
    QFETCH(QString, refusal);
    QTemporaryDir keys;
    const QString other = change == QLatin1String("other") || change == QLatin1String("no certificate")
        ? makeTestKeyPair(keys.path(), QStringLiteral("other phrase"), change == QLatin1String("other"))
        : QString();
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) {
        c.sslMode = CheckState::On;
        c.warningMode = CheckState::Off;
    });
    const Configuration before = saved(QStringLiteral("Global.conf"));
    Window window = f.open();
    ServerItem *item = startRow(window.get(), 0);
    QVERIFY(item);
    QVERIFY(item->getUrl().startsWith("https://"));
    // The user's default pair, made when the server first needed it.
    QVERIFY2(QFileInfo::exists(before.keyFile), qPrintable(before.keyFile));
    const auto served = [&] {
        HttpClient client;
        return client.connectEncrypted(item->webServer->port) ? client.socket.peerCertificate() : QSslCertificate();
    };
    const QSslCertificate first = served();
    QVERIFY(!first.isNull());

    bool shownAfterApply = false;
    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        GuiFixture::showPage(dialog, 2);
        auto *file = control<QLineEdit>(dialog, "keyFile");
        auto *phrase = control<QLineEdit>(dialog, "keyPassword");
        QVERIFY(file->isEnabled());
        if (change == QLatin1String("other") || change == QLatin1String("no certificate")) {
            f.prompt.chosenPath = other;
            QTest::mouseClick(control<QPushButton>(dialog, "browseKey"), Qt::LeftButton);
            QCOMPARE(f.prompt.lastFilter, QStringLiteral("Key pair file (*.pem)"));
            QCOMPARE(f.prompt.lastStartDir, before.keyFile);
            QCOMPARE(file->text(), other);
            GuiFixture::type(phrase, QStringLiteral("other phrase"));
        } else if (change == QLatin1String("phrase")) {
            GuiFixture::type(phrase, QStringLiteral("not the phrase"));
        } else if (change == QLatin1String("missing")) {
            GuiFixture::type(file, f.home.path() + QStringLiteral("/gone.pem"));
        } else {
            GuiFixture::type(file, f.home.path() + QStringLiteral("/gone.pem"));
            GuiFixture::type(phrase, QStringLiteral("x"));
            QTest::mouseClick(control<QPushButton>(dialog, "restoreKeys"), Qt::LeftButton);
            QCOMPARE(file->text(), before.keyFile);
            QCOMPARE(phrase->text(), before.keyPassword);
            QVERIFY(!applyShown(dialog));
            return;
        }
        QVERIFY(applyShown(dialog));
        GuiFixture::press(dialog, QStringLiteral("Apply"));
        shownAfterApply = applyShown(dialog);
    });
    const QSslCertificate now = served();
    QVERIFY(!now.isNull());
    const Configuration after = saved(QStringLiteral("Global.conf"));
    if (refusal.isEmpty()) {
        QVERIFY(f.prompt.texts().isEmpty());
        QVERIFY(!shownAfterApply);
        QCOMPARE(now != first, change == QLatin1String("other"));
        QCOMPARE(after.keyFile, change == QLatin1String("other") ? other : before.keyFile);
    } else {
        // Told in the dialog, nothing applied, and the server goes on with the pair it had.
        QCOMPARE(f.prompt.texts().size(), 1);
        QVERIFY2(f.prompt.texts().first().contains(refusal), qPrintable(f.prompt.texts().first()));
        QVERIFY(f.prompt.texts().first().contains(QStringLiteral("Nothing was applied")));
        QVERIFY(shownAfterApply);
        QCOMPARE(now, first);
        QCOMPARE(after.keyFile, before.keyFile);
        QCOMPARE(after.keyPassword, before.keyPassword);
    }
    HttpClient client;
    QVERIFY(client.connectEncrypted(item->webServer->port));
    QCOMPARE(client.exchange("GET / HTTP/1.1\r\n\r\n").code, 200);
    GuiFixture::quit(window);
}

void TestSettings::limitOnARunningServer_data()
{
    QTest::addColumn<bool>("openBefore"); // the download uses a connection opened before the change
    QTest::newRow("a new connection") << false;
    QTest::newRow("a connection opened before") << true;
}

void TestSettings::limitOnARunningServer()
{
    QFETCH(bool, openBefore);
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
    if (openBefore) {
        QVERIFY(early.connectTo(item->webServer->port));
        QCOMPARE(early.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
    }

    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        GuiFixture::showPage(dialog, 4);
        typeNumber(control<QSpinBox>(dialog, "dataLimitKB"), 2);
        GuiFixture::press(dialog, QStringLiteral("Apply"));
    });
    QCOMPARE(Configuration::getGlobalConfig()->dataLimitKB, 2);
    QVERIFY(item->webServer->isListening());
    if (openBefore) {
        early.send("GET /big.bin HTTP/1.1\r\n\r\n");
    } else {
        HttpClient late;
        QVERIFY(late.connectTo(item->webServer->port));
        late.send("GET /big.bin HTTP/1.1\r\n\r\n");
        QTRY_VERIFY(!item->webServer->isListening());
    }
    // The window stops the server at its limit and says why.
    QTRY_VERIFY(!item->webServer->isListening());
    QTRY_VERIFY(!f.prompt.texts().isEmpty());
    QVERIFY(f.prompt.texts().last().startsWith(QStringLiteral("Network traffic limit")));
    QCOMPARE(GuiFixture::get(item->getUrl() + "/a.txt"), 0);
    GuiFixture::quit(window);
}

void TestSettings::lifetimeOnARunningServer_data()
{
    QTest::addColumn<int>("lifetime");
    QTest::addColumn<bool>("expired"); // after 120 s without a visit
    QTest::newRow("shortened to 60 s") << 60 << true;
    QTest::newRow("left at 600 s") << 600 << false;
}

void TestSettings::lifetimeOnARunningServer()
{
    QFETCH(int, lifetime);
    QFETCH(bool, expired);
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) {
        c.warningMode = CheckState::Off;
        c.authMode = AuthMode::Password;
        c.password = QStringLiteral("s3cret");
    });
    f.writeFile(f.share() + QStringLiteral("/a.txt"), TextA);
    Window window = f.open();
    window->addresses()->currentTable()->setCurrentCell(0, 1);
    window->fileOrDirSelected(f.share());
    ServerItem *item = startRow(window.get(), 0);
    QVERIFY(item);
    qint64 now = 1000000;
    item->webServer->clients.clock = [&now] { return now; };
    const QByteArray url = item->getUrl() + "/a.txt";
    // Ids counted from 76: the visit gets 76, the login hands out 77.
    item->webServer->clients.random = [next = quint64(76)]() mutable { return next++ << 1; };
    QByteArray body;
    QCOMPARE(GuiFixture::request("GET", url + "?a=log&password=s3cret", {}, &body), 200);
    QCOMPARE(body, TextA);
    QTRY_COMPARE(item->webServer->threads.size(), 0);

    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        GuiFixture::showPage(dialog, 4);
        auto *box = control<QSpinBox>(dialog, "sessionLifetime");
        QCOMPARE(box->value(), 600);
        typeNumber(box, lifetime);
        if (applyShown(dialog))
            GuiFixture::press(dialog, QStringLiteral("Apply"));
    });
    QCOMPARE(Configuration::getGlobalConfig()->sessionLifetime, lifetime);
    now += 120 * 1000;
    // The minute's sweep of the sessions.
    item->webServer->clients.checkSessions();
    // Once the session ended, the login page, refused as the file.
    QCOMPARE(GuiFixture::request("GET", url, "Cookie: ID=77\r\n", &body), expired ? 403 : 200);
    QCOMPARE(body == TextA, !expired);
    GuiFixture::quit(window);
}

void TestSettings::httpsReachesRowsShownLater()
{
    // The expert presentation's rows wait hidden while the simple one is shown.
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) { c.warningMode = CheckState::Off; });
    Window window = f.open();
    window->expertModeAction()->trigger();
    QVERIFY(!window->addresses()->isExpertMode());
    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        GuiFixture::showPage(dialog, 2);
        tick(control<QCheckBox>(dialog, "sslMode"));
        GuiFixture::press(dialog, QStringLiteral("Apply"));
    });
    window->expertModeAction()->trigger();
    ServerItem *item = startRow(window.get(), 0);
    QVERIFY(item);
    QVERIFY(item->getUrl().startsWith("https://"));
    HttpClient client;
    QVERIFY(client.connectEncrypted(item->webServer->port));
    QCOMPARE(client.exchange("GET / HTTP/1.1\r\n\r\n").code, 200);
    GuiFixture::quit(window);
}

void TestSettings::helpLinks_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("name");
    const std::pair<int, const char *> links[] = {{0, "folder"}, {1, "auth"}, {2, "port"}, {2, "keys"},
                                                  {2, "passwd"}, {3, "dns"}, {4, "connections"}, {4, "limit"},
                                                  {4, "lifetime"}};
    for (const auto &[page, name] : links)
        QTest::newRow(name) << page << QString::fromLatin1(name);
}

void TestSettings::helpLinks()
{
    QFETCH(int, page);
    QFETCH(QString, name);
    QFile file(Configuration::LangPath + QStringLiteral("help/") + name + QStringLiteral(".html"));
    GuiFixture f;
    f.writeGlobal(true);
    QVERIFY2(file.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(file.fileName()));
    const QString text = QString::fromUtf8(file.readAll());
    Window window = f.open();
    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        GuiFixture::showPage(dialog, page);
        LinkLabel *link = nullptr;
        const QList<LinkLabel *> labels = dialog->pages()->currentWidget()->findChildren<LinkLabel *>();
        for (LinkLabel *label : labels) {
            if (label->text().startsWith(QStringLiteral("<a href=\"") + name + u'"'))
                link = label;
        }
        QVERIFY(link);
        QVERIFY(link->isVisible());
        // A click on the link's text.
        const QPoint onText(4, link->height() / 2);
        QTest::mouseClick(link, Qt::LeftButton, {}, onText);
        QTRY_VERIFY(!f.prompt.asked.isEmpty());
    });
    QCOMPARE(f.prompt.asked.size(), 1);
    QCOMPARE(f.prompt.asked.first().title, QStringLiteral("Help"));
    QCOMPARE(f.prompt.asked.first().informative, text);
    QVERIFY(text.size() > 200);
    GuiFixture::quit(window);
}

void TestSettings::dialogOpenedFromInsideAnother_data()
{
    QTest::addColumn<bool>("sameProfile");
    QTest::newRow("on another profile") << false;
    QTest::newRow("on the profile edited already") << true;
}

void TestSettings::dialogOpenedFromInsideAnother()
{
    QFETCH(bool, sameProfile);
    GuiFixture f;
    f.writeGlobal(true);
    GuiFixture::writeProfile(QStringLiteral("work"), QStringLiteral("work"));
    f.writeFile(f.share() + QStringLiteral("/visible.txt"), TextA);
    Window window = f.open();
    Configuration *global = Configuration::getGlobalConfig();
    Configuration *other = Configuration::confList.at(1);
    window->addresses()->currentTable()->setCurrentCell(0, 1);
    window->fileOrDirSelected(f.share());
    ServerItem *item = GuiFixture::items(window.get()).at(0);
    if (!sameProfile)
        item->configurationChanged(other);
    QVERIFY(startRow(window.get(), 0));
    const QByteArray url = item->getUrl() + "/visible.txt";

    // Inside the global settings, a lookup finds the server reachable from the internet, and the
    // question that follows opens the settings of the row's profile on its authentication page.
    int innerPage = -1;
    int outerPage = -1;
    queue(f, [&](ConfigDialog *outer) {
        GuiFixture::showPage(outer, 0);
        if (!sameProfile) {
            queue(f, [&](ConfigDialog *inner) {
                innerPage = inner->pages()->currentIndex();
                auto *mode = control<QComboBox>(inner, "authMode");
                QTest::keyClick(mode, Qt::Key_Down);
                GuiFixture::type(control<QLineEdit>(inner, "password"), QStringLiteral("s3cret"));
                GuiFixture::press(inner, QStringLiteral("Apply"));
            });
        }
        item->publicReachable = true;
        item->publicAddress = QStringLiteral("203.0.113.7");
        window->addresses()->publicIP(item);
        QVERIFY(f.prompt.dialogs.isEmpty());
        outerPage = outer->pages()->currentIndex();
        if (sameProfile) {
            auto *mode = control<QComboBox>(outer, "authMode");
            QTest::keyClick(mode, Qt::Key_Down);
            GuiFixture::type(control<QLineEdit>(outer, "password"), QStringLiteral("s3cret"));
        }
        GuiFixture::showPage(outer, 0);
        tick(control<QCheckBox>(outer, "showImages"));
        GuiFixture::press(outer, QStringLiteral("Apply"));
    });
    GuiFixture::menuAction(window.get(), QStringLiteral("Global Default Settings"))->trigger();
    QVERIFY(f.prompt.dialogs.isEmpty());
    QVERIFY(f.prompt.texts().contains(QStringLiteral("The shared files are accessible for everyone.\nDo you want to set password?")));
    // Both edits hold; the one opened inside wrote nothing of the other's.
    QCOMPARE(innerPage, sameProfile ? -1 : 1);
    QCOMPARE(outerPage, sameProfile ? 1 : 0);
    Configuration *protectedProfile = sameProfile ? global : other;
    QCOMPARE(protectedProfile->authMode, AuthMode::Password);
    QCOMPARE(protectedProfile->password, QStringLiteral("s3cret"));
    QVERIFY(!global->isThumbnail());
    if (!sameProfile) {
        QCOMPARE(global->authMode, AuthMode::None);
        QVERIFY(other->isThumbnail());
    }
    QByteArray body;
    // The login page, refused as the file.
    QCOMPARE(GuiFixture::get(url, &body), 403);
    QVERIFY(body != TextA);
    QCOMPARE(GuiFixture::get(url + "?a=log&password=s3cret", &body), 200);
    QCOMPARE(body, TextA);
    GuiFixture::quit(window);
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
