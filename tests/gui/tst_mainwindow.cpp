// The main window: the recent paths, the profiles read at start-up, and the command line.

#include "guifixture.h"


#include <QAction>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTest>

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
    QTest::addColumn<QStringList>("chosen"); // names of folders in the home folder
    QTest::addColumn<QStringList>("recent"); // the menu shows them by their names
    QTest::newRow("same path twice") << QStringList{"a", "b", "a"} << QStringList{"a", "b"};
    QTest::newRow("a fifth path drops the oldest") << QStringList{"a", "b", "c", "d", "e"}
                                                   << QStringList{"e", "d", "c", "b"};
    QTest::newRow("a name with &") << QStringList{"a&b"} << QStringList{"a&b"};
}

void TestMainWindow::recentFiles()
{
    QFETCH(QStringList, chosen);
    QFETCH(QStringList, recent);
    GuiFixture f;
    f.writeGlobal(false);
    Window window = f.open();
    for (const QString &name : chosen) {
        f.prompt.chosenPath = f.home.filePath(name);
        QVERIFY(QDir().mkpath(f.prompt.chosenPath));
        window->browseFolder();
    }
    QStringList expected;
    QStringList texts;
    for (const QString &name : recent) {
        expected.append(f.home.filePath(name));
        texts.append(QString(name).replace(u'&', QStringLiteral("&&")));
    }
    QCOMPARE(Configuration::getGlobalConfig()->recentFiles, expected);
    QStringList shown;
    for (QAction *a : window->recentFileActions()) {
        if (a->isVisible())
            shown.append(a->text());
    }
    QCOMPARE(shown, texts);
    GuiFixture::quit(window);
    Configuration global;
    QVERIFY(global.load(Configuration::ConfigDir + QStringLiteral("Global.conf")));
    QCOMPARE(global.recentFiles, expected);
}

void TestMainWindow::brokenProfiles()
{
    GuiFixture f;
    f.writeGlobal(true);
    GuiFixture::writeProfile(QStringLiteral("good"), QStringLiteral("good"), [](Configuration &c) { c.port = 9555; });
    TestServer::writeFile(Configuration::ConfigDir + QStringLiteral("broken.cnf"), QByteArray());
    TestServer::writeFile(Configuration::ConfigDir + QStringLiteral("cut.cnf"), QByteArray("\0\0\0\1", 4));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, f.home.path() + QStringLiteral("/.config"));
    Window window = f.open();
    QCOMPARE(Configuration::FirstRun, false);
    QTRY_COMPARE(f.prompt.asked.size(), 1);
    QVERIFY(f.prompt.texts().first().endsWith(QStringLiteral("\nbroken.cnf\ncut.cnf")));
    // Once the window is on the screen, centred on it.
    QVERIFY(f.prompt.asked.first().parentShown);
    // A broken file is a profile of its name at the defaults.
    QCOMPARE(Configuration::confList.size(), 4);
    QCOMPARE(Configuration::confList.at(1)->profileName, QStringLiteral("broken"));
    QCOMPARE(Configuration::confList.at(1)->port, 8080);
    QCOMPARE(Configuration::confList.at(3)->port, 9555);
    // Closing saves as always.
    GuiFixture::quit(window);
    QVERIFY(QFileInfo::exists(f.listIni()));
    Configuration global;
    QVERIFY(global.load(Configuration::ConfigDir + QStringLiteral("Global.conf")));
    QVERIFY(global.savedOnExit);
    // Told once: the next start tells only of a file that changed since.
    TestServer::writeFile(Configuration::ConfigDir + QStringLiteral("cut.cnf"), QByteArray("\0\0\0\2\0", 5));
    f.prompt.asked.clear();
    window = f.open();
    QTRY_COMPARE(f.prompt.asked.size(), 1);
    QVERIFY(f.prompt.texts().first().endsWith(QStringLiteral(":\ncut.cnf")));
    GuiFixture::quit(window);
}

// The options of the window (those of the headless mode are tested with it).
void TestMainWindow::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display"); // QT_QPA_PLATFORM, DISPLAY; "" for none
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");    // on the error output
    const QString usage = QStringLiteral("Usage:");
    const QString noDisplay = QStringLiteral("tessaly --headless");
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
    program.start(TestServer::program(), arguments);
    QVERIFY(program.waitForFinished(20000));
    // Ended, not aborted.
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    const QString output = QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(output.contains(said), qPrintable(output));
    // No window was opened, so nothing was written.
    QVERIFY(!QFileInfo::exists(home.path() + QStringLiteral("/.kestrune/Global.conf")));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
