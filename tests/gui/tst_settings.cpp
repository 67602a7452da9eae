// The settings dialog driven through its widgets: access that looks closed (and the user table's
// editor), saves that fail, and a traffic limit taken over by a running listener on 127.0.0.1.

#include "filesizelimit.h"
#include "guifixture.h"
#include "httpclient.h"

#include "config/configdialog.h"
#include "config/userdialog.h"
#include "instances/serveritem.h"
#include "server/webserver.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>

using Window = std::unique_ptr<MobileWebServer>;
using Drive = std::function<void(ConfigDialog *)>;

namespace {

// Opens the global settings from the window's menu; `drive` works the dialog, which "Close" then
// ends.
void openGlobal(MobileWebServer *window, GuiFixture &f, const Drive &drive)
{
    f.prompt.dialogs.append([drive](QDialog *d) {
        drive(qobject_cast<ConfigDialog *>(d));
        return ScriptedPrompt::end(d, QStringLiteral("Close"));
    });
    GuiFixture::menuAction(window, QStringLiteral("Global Default Settings"))->trigger();
    QVERIFY2(f.prompt.dialogs.isEmpty(), "the settings dialog did not open");
}

// A window in expert mode whose first row serves the share (with a.txt) on the global profile.
ServerItem *serving(GuiFixture &f, Window &window)
{
    f.writeGlobal(true, [&](Configuration &c) { c.warningMode = CheckState::Off; });
    TestServer::writeFile(f.share() + QStringLiteral("/a.txt"), "contents of a");
    window = f.open();
    return f.startShare(window.get(), 0);
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void accessApplied_data();
    void accessApplied();
    void limitOnARunningServer();
};

void TestSettings::accessApplied_data()
{
    QTest::addColumn<int>("mode");         // the access chosen on the page; -1: the window is closed
    QTest::addColumn<QString>("password"); // typed on the page
    QTest::addColumn<QString>("user");     // added in the user table's dialog
    QTest::addColumn<bool>("diskFull");    // for the saves
    QTest::addColumn<QString>("said");     // the one message, a regular expression; empty: none
    QTest::addColumn<int>("status");       // of a GET of a file afterwards, without credentials
    const QString notSaved = QStringLiteral("^Settings could not be saved:\n");
    QTest::newRow("password access without a password") << 1 << "" << "" << false
        << "^Password access needs a password: an empty one lets everyone in.\nNothing was applied.$" << 200;
    QTest::newRow("password access with a password") << 1 << "s3cret" << "" << false << "" << 403;
    QTest::newRow("Basic access without a user") << 2 << "" << "" << false
        << "^Basic HTTP access needs at least one user: without one nobody gets in.\nNothing was applied.$" << 200;
    QTest::newRow("Basic access with a user added") << 2 << "" << "anna" << false << "" << 401;
    // One message, naming each file with the system's reason; the servers keep what was applied.
    QTest::newRow("Apply on a full disk") << 1 << "s3cret" << "" << true
        << notSaved + "/.+/Global\\.conf: .+\nThe servers keep what was applied until Tessaly ends\\.$" << 403;
    QTest::newRow("the exit on a full disk") << -1 << "" << "" << true
        << notSaved + "/.+/list\\.ini: .+\n/.+/Global\\.conf: .+\nWhat was not saved is lost when Tessaly ends\\.$" << 0;
}

void TestSettings::accessApplied()
{
    QFETCH(int, mode);
    QFETCH(QString, password);
    QFETCH(QString, user);
    QFETCH(bool, diskFull);
    QFETCH(QString, said);
    QFETCH(int, status);
    GuiFixture f;
    Window window;
    ServerItem *item = serving(f, window);
    QVERIFY(item);
    const QByteArray url = item->getUrl() + "/a.txt";
    QCOMPARE(GuiFixture::get(url), 200);
    const auto stored = [] {
        QByteArray all;
        for (const QString &name : QDir(Configuration::ConfigDir).entryList(QDir::Files, QDir::Name))
            all += name.toUtf8() + ": " + TestServer::readFile(Configuration::ConfigDir + name) + '\n';
        return all;
    };
    const QByteArray before = stored();
    {
        // A disk full for the saves, or none.
        FileSizeLimit limit(diskFull ? 16 : RLIM_INFINITY);
        if (mode < 0) {
            window->close();
        } else {
            openGlobal(window.get(), f, [&](ConfigDialog *dialog) {
                GuiFixture::showPage(dialog, 1);
                dialog->findChild<QComboBox *>(QStringLiteral("authMode"))->setCurrentIndex(mode);
                GuiFixture::type(dialog->findChild<QLineEdit *>(QStringLiteral("password")), password);
                if (!user.isEmpty()) {
                    f.prompt.dialogs.append([&](QDialog *d) {
                        GuiFixture::type(qobject_cast<UserDialog *>(d)->userLine(), user);
                        GuiFixture::type(qobject_cast<UserDialog *>(d)->passwordLine(), QStringLiteral("pw"));
                        return ScriptedPrompt::end(d, QStringLiteral("OK"));
                    });
                    GuiFixture::press(dialog, QStringLiteral("Add user"));
                }
                GuiFixture::press(dialog, QStringLiteral("Apply"));
                // Refused, the edit stays in the dialog to be mended; else nothing is left to apply.
                QCOMPARE(!dialog->applyControl()->isHidden(), said.contains(QLatin1String("Nothing was applied")));
            });
        }
    }
    QCOMPARE(f.prompt.texts().size(), said.isEmpty() ? 0 : 1);
    if (!said.isEmpty())
        QVERIFY2(QRegularExpression(said).match(f.prompt.texts().first()).hasMatch(), qPrintable(f.prompt.texts().first()));
    Configuration saved;
    QVERIFY(saved.load(Configuration::ConfigDir + QStringLiteral("Global.conf")));
    if (diskFull)
        QCOMPARE(stored(), before);
    else
        QCOMPARE(saved.authMode, said.isEmpty() ? AuthMode(mode) : AuthMode::None);
    QCOMPARE(saved.users, user.isEmpty() || !said.isEmpty() ? QStringList() : QStringList{user + QStringLiteral(":pw")});
    // The running server serves as the settings say.
    if (mode >= 0)
        QCOMPARE(GuiFixture::get(url), status);
    if (status == 403)
        QCOMPARE(GuiFixture::get(url + "?a=log&password=" + password.toUtf8()), 200);
    window.reset();
}

// A connection opened before the limit is lowered: the running listener counts it too, and the
// window stops the server at the limit and says why.
void TestSettings::limitOnARunningServer()
{
    GuiFixture f;
    TestServer::writeFile(f.share() + QStringLiteral("/big.bin"), QByteArray(5000, 'b'));
    Window window;
    ServerItem *item = serving(f, window);
    QVERIFY(item);
    HttpClient early;
    QVERIFY(early.connectTo(item->webServer->port));
    QCOMPARE(early.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, "contents of a");
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
