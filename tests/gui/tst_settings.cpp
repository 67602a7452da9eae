// The settings dialog driven through its widgets: access that looks closed (and the user table's
// editor), saves that fail, and a traffic limit taken over by a running listener on 127.0.0.1.

#include "filesizelimit.h"
#include "guifixture.h"
#include "httpclient.h"

#include "app/mobilewebserver.h"
#include "config/configdialog.h"
#include "config/configuration.h"
#include "config/userdialog.h"
#include "instances/serveritem.h"
#include "server/webserver.h"
#include "widgets/linklabel.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

using Window = std::unique_ptr<MobileWebServer>;
using Drive = std::function<void(ConfigDialog *)>;

namespace {

const QByteArray TextA = "contents of a";

bool applyShown(const ConfigDialog *dialog)
{
    return !dialog->applyControl()->isHidden();
}

// Opens the global settings from the window's menu; `drive` works the dialog, which "Close" then
// ends.
void openGlobal(MobileWebServer *window, GuiFixture &f, const Drive &drive)
{
    f.prompt.dialogs.append([drive](QDialog *d) {
        auto *dialog = qobject_cast<ConfigDialog *>(d);
        if (dialog)
            drive(dialog);
        return ScriptedPrompt::end(d, QStringLiteral("Close"));
    });
    const bool expert = window->expertModeAction()->isChecked();
    QAction *settings = GuiFixture::menuAction(
        window, expert ? QStringLiteral("Global Default Settings") : QStringLiteral("Settings"));
    QVERIFY(settings);
    settings->trigger();
    QVERIFY2(f.prompt.dialogs.isEmpty(), "the settings dialog did not open");
}

// A window whose first row serves the share (with a.txt) on the global profile `edit` makes.
ServerItem *serving(GuiFixture &f, Window &window, const std::function<void(Configuration &)> &edit = {})
{
    f.writeGlobal(true, [&](Configuration &c) {
        c.warningMode = CheckState::Off;
        if (edit)
            edit(c);
    });
    f.writeFile(f.share() + QStringLiteral("/a.txt"), TextA);
    window = f.open();
    return f.startShare(window.get(), 0);
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void accessThatLooksClosedIsClosed_data();
    void accessThatLooksClosedIsClosed();
    void failedSaveIsReported_data();
    void failedSaveIsReported();
    void limitOnARunningServer();
};

void TestSettings::accessThatLooksClosedIsClosed_data()
{
    QTest::addColumn<int>("mode");           // the access chosen on the page
    QTest::addColumn<QString>("password");   // stored before
    QTest::addColumn<QString>("user");       // added in the user table's dialog
    QTest::addColumn<QString>("refusal");    // empty: applied
    QTest::addColumn<int>("status");         // of a GET of a file afterwards, without credentials
    const QString noPassword = QStringLiteral("Password access needs a password: an empty one lets everyone in.");
    const QString noUser = QStringLiteral("Basic HTTP access needs at least one user: without one nobody gets in.");
    QTest::newRow("password access without a password") << 1 << QString() << QString() << noPassword << 200;
    QTest::newRow("password access with a password") << 1 << QStringLiteral("s3cret") << QString() << QString() << 403;
    QTest::newRow("Basic access without a user") << 2 << QString() << QString() << noUser << 200;
    QTest::newRow("Basic access with a user added") << 2 << QString() << QStringLiteral("anna") << QString() << 401;
}

void TestSettings::accessThatLooksClosedIsClosed()
{
    QFETCH(int, mode);
    QFETCH(QString, password);
    QFETCH(QString, user);
    QFETCH(QString, refusal);
    QFETCH(int, status);
    GuiFixture f;
    Window window;
    ServerItem *item = serving(f, window, [&](Configuration &c) { c.password = password; });
    QVERIFY(item);
    const QByteArray url = item->getUrl() + "/a.txt";
    QCOMPARE(GuiFixture::get(url), 200);

    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        GuiFixture::showPage(dialog, 1);
        dialog->findChild<QComboBox *>(QStringLiteral("authMode"))->setCurrentIndex(mode);
        if (!user.isEmpty()) {
            f.prompt.dialogs.append([&](QDialog *d) {
                GuiFixture::type(qobject_cast<UserDialog *>(d)->userLine(), user);
                GuiFixture::type(qobject_cast<UserDialog *>(d)->passwordLine(), QStringLiteral("pw"));
                return ScriptedPrompt::end(d, QStringLiteral("OK"));
            });
            GuiFixture::press(dialog, QStringLiteral("Add user"));
        }
        GuiFixture::press(dialog, QStringLiteral("Apply"));
        // Refused, the edit stays in the dialog to be mended.
        QCOMPARE(applyShown(dialog), !refusal.isEmpty());
    });
    QCOMPARE(f.prompt.texts(), refusal.isEmpty() ? QStringList() : QStringList{refusal + QStringLiteral("\nNothing was applied.")});
    const AuthMode now = refusal.isEmpty() ? AuthMode(mode) : AuthMode::None;
    QCOMPARE(Configuration::getGlobalConfig()->authMode, now);
    Configuration saved;
    QVERIFY(saved.load(f.configDir() + QStringLiteral("Global.conf")));
    QCOMPARE(saved.authMode, now);
    QCOMPARE(saved.users, user.isEmpty() ? QStringList() : QStringList{user + QStringLiteral(":pw")});
    // The running server serves as the profile says.
    QCOMPARE(GuiFixture::get(url), status);
    GuiFixture::quit(window);
}

void TestSettings::failedSaveIsReported_data()
{
    QTest::addColumn<bool>("apply"); // else the exit
    QTest::addColumn<QStringList>("files"); // named in the one message, in its order
    QTest::addColumn<QString>("consequence");
    QTest::newRow("Apply") << true << QStringList{"Global.conf"}
                           << QStringLiteral("The servers keep what was applied until Tessaly ends.");
    QTest::newRow("the exit") << false << QStringList{"list.ini", "Global.conf"}
                              << QStringLiteral("What was not saved is lost when Tessaly ends.");
}

void TestSettings::failedSaveIsReported()
{
    QFETCH(bool, apply);
    QFETCH(QStringList, files);
    QFETCH(QString, consequence);
    GuiFixture f;
    Window window;
    ServerItem *item = serving(f, window);
    QVERIFY(item);
    const QByteArray url = item->getUrl() + "/a.txt";
    const auto listed = [&] {
        QStringList list;
        for (const QFileInfo &file : QDir(f.configDir()).entryInfoList(QDir::Files, QDir::Name))
            list.append(file.fileName() + QString::number(file.lastModified().toMSecsSinceEpoch()) + u' '
                        + QString::number(file.size()));
        return list;
    };
    const QStringList before = listed();
    {
        // A disk full for the saves.
        FileSizeLimit limit(16);
        if (apply) {
            openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
                GuiFixture::showPage(dialog, 1);
                QTest::keyClick(dialog->findChild<QComboBox *>(QStringLiteral("authMode")), Qt::Key_Down);
                GuiFixture::type(dialog->findChild<QLineEdit *>(QStringLiteral("password")), QStringLiteral("s3cret"));
                GuiFixture::press(dialog, QStringLiteral("Apply"));
                // Applied all the same: nothing is left to apply.
                QVERIFY(!applyShown(dialog));
            });
        } else {
            window->close();
        }
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
    if (apply) {
        // The servers keep what was applied.
        QCOMPARE(GuiFixture::get(url), 403);
        QCOMPARE(GuiFixture::get(url + "?a=log&password=s3cret"), 200);
    }
    window.reset();
}

// A connection opened before the limit is lowered: the running listener counts it too, and the
// window stops the server at the limit and says why.
void TestSettings::limitOnARunningServer()
{
    GuiFixture f;
    f.writeFile(f.share() + QStringLiteral("/big.bin"), QByteArray(5000, 'b'));
    Window window;
    ServerItem *item = serving(f, window);
    QVERIFY(item);
    HttpClient early;
    QVERIFY(early.connectTo(item->webServer->port));
    QCOMPARE(early.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, TextA);
    openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
        GuiFixture::showPage(dialog, 4);
        auto *box = dialog->findChild<QSpinBox *>(QStringLiteral("dataLimitKB"));
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("2"));
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
