// The main window: the recent paths, the profiles read at start-up, and the command line.

#include "guifixture.h"

#include "app/mobilewebserver.h"
#include "app/slinklabel.h"
#include "app/startup.h"
#include "config/configuration.h"
#include "config/pagestyle.h"
#include "instances/addresslist.h"
#include "instances/serveritem.h"
#include "server/webserver.h"
#include "web/html_element_manager.h"
#include "widgets/eventhandler.h"
#include "widgets/messagedialog.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QRegularExpression>
#include <QSettings>
#include <QScreen>
#include <QStyle>
#include <QTextBrowser>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QTranslator>
#include <QWindow>

#include <cmath>

using Window = std::unique_ptr<MobileWebServer>;

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void recentFiles_data();
    void recentFiles();
    void brokenProfiles();
    void commandLine_data();
    void commandLine();
};

void TestMainWindow::recentFiles_data()
{
    QTest::addColumn<QStringList>("chosen"); // names of folders under a 5-character root
    QTest::addColumn<QStringList>("recent");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("same path twice") << QStringList{"a", "b", "a"} << QStringList{"a", "b"}
                                     << QStringList{"@a", "@b"};
    QTest::newRow("a fifth path drops the oldest") << QStringList{"a", "b", "c", "d", "e"}
                                                   << QStringList{"e", "d", "c", "b"}
                                                   << QStringList{"@e", "@d", "@c", "@b"};
    // The root is 5 characters and "/": 17 characters in all are shown whole, 18 by the name.
    QTest::newRow("17 and 18 characters") << QStringList{"abcdefghijk", "abcdefghijkl"}
                                          << QStringList{"abcdefghijkl", "abcdefghijk"}
                                          << QStringList{"abcdefghijkl", "@abcdefghijk"};
    QTest::newRow("a name with &") << QStringList{"a&b"} << QStringList{"a&b"} << QStringList{"@a&&b"};
}

void TestMainWindow::recentFiles()
{
    QFETCH(QStringList, chosen);
    QFETCH(QStringList, recent);
    QFETCH(QStringList, texts);
    GuiFixture f;
    // A root of exactly five characters ("/tmp/" is taken by the fixture's folder names).
    const QString root = QStringLiteral("/r%1").arg(QCoreApplication::applicationPid() % 1000, 3, 10, QLatin1Char('0'));
    QVERIFY(QDir().mkpath(root));
    const auto cleanup = qScopeGuard([&] { QDir(root).removeRecursively(); });
    for (const QString &name : chosen)
        QVERIFY(QDir().mkpath(root + u'/' + name));
    f.writeGlobal(false);
    Window window = f.open();
    for (const QString &name : chosen) {
        f.prompt.chosenPath = root + u'/' + name;
        window->browseFolder();
    }
    QStringList expected;
    for (const QString &name : recent)
        expected.append(root + u'/' + name);
    QCOMPARE(Configuration::getGlobalConfig()->recentFiles, expected);
    QStringList shown;
    for (QAction *a : window->recentFileActions()) {
        if (a->isVisible())
            shown.append(a->text());
    }
    QStringList expectedTexts;
    for (const QString &t : texts)
        expectedTexts.append(t.startsWith(u'@') ? root + u'/' + t.mid(1) : t);
    QCOMPARE(shown, expectedTexts);
    QCOMPARE(window->sharedContentButton()->menu()->actions().size(), MobileWebServer::RecentFiles);
    GuiFixture::quit(window);
    Configuration global;
    QVERIFY(global.load(f.configDir() + QStringLiteral("Global.conf")));
    QCOMPARE(global.recentFiles, expected);
}

void TestMainWindow::brokenProfiles()
{
    GuiFixture f;
    f.writeGlobal(true);
    Configuration good;
    good.setFileName(QStringLiteral("good"));
    good.profileName = QStringLiteral("good");
    good.port = 9555;
    QVERIFY(good.save());
    f.writeFile(f.configDir() + QStringLiteral("broken.cnf"), QByteArray());
    f.writeFile(f.configDir() + QStringLiteral("cut.cnf"), QByteArray("\0\0\0\1", 4));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, f.home.path() + QStringLiteral("/.config"));
    Window window = f.open();
    QCOMPARE(Configuration::FirstRun, false);
    QTRY_COMPARE(f.prompt.asked.size(), 1);
    QVERIFY(f.prompt.texts().first().endsWith(QStringLiteral("\nbroken.cnf\ncut.cnf")));
    // Once the window is on the screen, centred on it.
    QVERIFY(f.prompt.asked.first().parentShown);
    QStringList names;
    for (const Configuration *p : std::as_const(Configuration::confList))
        names.append(p->profileName);
    QCOMPARE(names, (QStringList{"Default", "broken", "cut", "good"}));
    QCOMPARE(Configuration::confList.at(1)->port, 8080);
    QCOMPARE(Configuration::confList.at(3)->port, 9555);
    // Closing saves as always.
    GuiFixture::quit(window);
    QVERIFY(QFileInfo::exists(f.listIni()));
    Configuration global;
    QVERIFY(global.load(f.configDir() + QStringLiteral("Global.conf")));
    QVERIFY(global.savedOnExit);
    // Told once: the next start tells only of a file that changed since.
    f.writeFile(f.configDir() + QStringLiteral("cut.cnf"), QByteArray("\0\0\0\2\0", 5));
    f.prompt.asked.clear();
    window = f.open();
    QTRY_COMPARE(f.prompt.asked.size(), 1);
    QVERIFY(f.prompt.texts().first().endsWith(QStringLiteral(":\ncut.cnf")));
    GuiFixture::quit(window);
    f.prompt.asked.clear();
    window = f.open();
    QTRY_VERIFY(window->windowHandle()->isExposed());
    QTest::qWait(100);
    QVERIFY(f.prompt.asked.isEmpty());
    GuiFixture::quit(window);
}

void TestMainWindow::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display"); // QT_QPA_PLATFORM, DISPLAY; "" for none
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");    // on the error output, or the output with exit code 0
    const QString usage = QStringLiteral("Usage:");
    const QString noDisplay = QStringLiteral("tessaly --headless");
    QTest::newRow("--help") << QStringList{"--help"} << QString() << 0 << usage;
    QTest::newRow("an unknown option") << QStringList{"--bogus"} << QStringLiteral("offscreen") << 2 << usage;
    QTest::newRow("root and more") << QStringList{"root", "--port", "80"} << QStringLiteral("offscreen") << 2 << usage;
    QTest::newRow("a headless option without --headless") << QStringList{"--share", "/tmp"}
                                                          << QStringLiteral("offscreen") << 2 << usage;
    QTest::newRow("no display") << QStringList() << QString() << 1 << noDisplay;
    QTest::newRow("a display that cannot be opened") << QStringList() << QStringLiteral(":") << 1 << noDisplay;
}

void TestMainWindow::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QTemporaryDir home;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    if (display == QLatin1String("offscreen"))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), display);
    else if (!display.isEmpty())
        env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("HOME"), home.path());
    program.setProcessEnvironment(env);
    program.start(GuiFixture::buildDir() + QStringLiteral("/tessaly"), arguments);
    QVERIFY(program.waitForFinished(20000));
    // Ended, not aborted.
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    const QString output = QString::fromLocal8Bit(exitCode == 0 ? program.readAllStandardOutput()
                                                                : program.readAllStandardError());
    QVERIFY2(output.contains(said), qPrintable(output));
    // No window was opened, so nothing was written.
    QVERIFY(!QFileInfo::exists(home.path() + QStringLiteral("/.kestrune/Global.conf")));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
