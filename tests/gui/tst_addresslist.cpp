// The address table and its server items, driven through the window's widgets against two
// loopback addresses, with real listeners and real GETs.

#include "guifixture.h"

#include "app/eventhandler.h"
#include "app/slinklabel.h"
#include "app/mobilewebserver.h"
#include "config/configuration.h"
#include "instances/addresslist.h"
#include "instances/serveritem.h"
#include "server/webserver.h"

#include <QAction>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QSettings>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

#include <csignal>
#include <sys/resource.h>

using Window = std::unique_ptr<MobileWebServer>;

class TestAddressList : public QObject
{
    Q_OBJECT

private slots:
    void presentations_data();
    void presentations();
    void statusCellStartsAndStops_data();
    void statusCellStartsAndStops();
    void startStopAll();
    void modeSwitch_data();
    void modeSwitch();
    void listIni_data();
    void listIni();
    void listIniRoundTrip();
    void listIniNeverHalfWritten();
    void vanishedShareAtStart_data();
    void vanishedShareAtStart();
    void portInput_data();
    void portInput();
    void changingThePortOfARunningServer();
    void removeRow();
    void startFailureIsReported();
    void onlineChangeRefreshesTheRows();
    void globalEditWithoutABoundRow();
    void vanishedAddresses();
    void addressFilter_data();
    void addressFilter();
    void machineAddressesAreNeverLoopback();
    void profileFolderIsNeverServed_data();
    void profileFolderIsNeverServed();
    void trafficLimitStopsTheRow_data();
    void trafficLimitStopsTheRow();
    void trafficLimitOfAForeignServer();
    void statusTexts_data();
    void statusTexts();
    void statusPanelShowsTheLastClient();
    void urls_data();
    void urls();
    void closingWithRunningServers_data();
    void closingWithRunningServers();
};

void TestAddressList::presentations_data()
{
    QTest::addColumn<bool>("expert");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<bool>("startButtonShown");
    QTest::newRow("simple") << false << QStringList{QStringLiteral("Network Addresses")} << true;
    QTest::newRow("expert") << true << QStringList{QStringLiteral("Address"), QStringLiteral("Config"), QStringLiteral("Status")} << false;
}

void TestAddressList::presentations()
{
    QFETCH(bool, expert);
    QFETCH(QStringList, headers);
    QFETCH(bool, startButtonShown);
    GuiFixture f;
    f.writeGlobal(expert);
    Window window = f.open();
    QTableWidget *table = window->addresses()->currentTable();
    QVERIFY(table);
    QStringList shown;
    for (int c = 0; c < table->columnCount(); ++c)
        shown.append(table->horizontalHeaderItem(c)->text());
    QCOMPARE(shown, headers);
    QCOMPARE(table->rowCount(), 2);
    const QString port = QString::number(f.port);
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("http://127.0.0.1:") + port);
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("http://127.0.0.2:") + port);
    if (expert) {
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("Default"));
        QCOMPARE(table->item(0, 2)->text(), QStringLiteral("0KB"));
    }
    QCOMPARE(window->addresses()->startAllButton()->isVisibleTo(window.get()), startButtonShown);
    QCOMPARE(window->addresses()->startAllButton()->text(), QStringLiteral("Start"));
    // The public-address line right under the table, not at the bottom of the room below it.
    const QWidget *line = window->addresses()->publicLine();
    const auto gap = [&] {
        return line->mapTo(window.get(), QPoint()).y() - table->mapTo(window.get(), QPoint(0, table->height())).y();
    };
    QTRY_VERIFY2(gap() >= 0 && gap() <= 12, qPrintable(QString::number(gap())));
    GuiFixture::quit(window);
}

void TestAddressList::statusCellStartsAndStops_data()
{
    QTest::addColumn<int>("row");
    QTest::newRow("first address") << 0;
    QTest::newRow("second address") << 1;
}

void TestAddressList::statusCellStartsAndStops()
{
    QFETCH(int, row);
    GuiFixture f;
    f.writeFile(f.share() + QStringLiteral("/hello.txt"), "hello from the share");
    f.writeGlobal(true);
    Window window = f.open();
    QTableWidget *table = window->addresses()->currentTable();
    QList<ServerItem *> items = GuiFixture::items(window.get());
    window->addresses()->setSaraedContent(f.share(), 0);
    // Only the pressed row's server runs.
    table->setCurrentCell(row, 1);
    window->fileOrDirSelected(f.share());
    GuiFixture::pressCell(table, row, 2);
    const QByteArray url = items.at(row)->getUrl();
    QByteArray body;
    QCOMPARE(GuiFixture::get(url + "/hello.txt", &body), 200);
    QCOMPARE(body, QByteArray("hello from the share"));
    QCOMPARE(GuiFixture::get(items.at(1 - row)->getUrl() + "/hello.txt"), 0);
    QVERIFY(window->sharedContentLabel()->isEnabled());

    GuiFixture::pressCell(table, row, 2);
    QVERIFY(!items.at(row)->webServer->isListening());
    QCOMPARE(GuiFixture::get(url + "/hello.txt"), 0);
    QVERIFY(!window->sharedContentLabel()->isEnabled());
    GuiFixture::quit(window);
}

void TestAddressList::startStopAll()
{
    GuiFixture f;
    f.writeFile(f.share() + QStringLiteral("/a.txt"), "A");
    f.writeGlobal(false);
    Window window = f.open();
    window->fileOrDirSelected(f.share());
    QToolButton *button = window->addresses()->startAllButton();
    QVERIFY(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    for (ServerItem *item : GuiFixture::items(window.get()))
        QCOMPARE(GuiFixture::get(item->getUrl() + "/a.txt"), 200);
    QCOMPARE(button->text(), QStringLiteral("Stop"));
    QVERIFY(EventHandler::statusWidget->text().contains(QStringLiteral("Use shown address in browser"))
            || EventHandler::statusWidget->text().contains(QStringLiteral("Last connection")));

    QTest::mouseClick(button, Qt::LeftButton);
    for (ServerItem *item : GuiFixture::items(window.get()))
        QCOMPARE(GuiFixture::get(item->getUrl() + "/a.txt"), 0);
    QCOMPARE(button->text(), QStringLiteral("Start"));
    GuiFixture::quit(window);
}

void TestAddressList::modeSwitch_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("switched");
    QTest::newRow("accepted") << QStringLiteral("Yes") << true;
    QTest::newRow("declined") << QStringLiteral("No") << false;
}

void TestAddressList::modeSwitch()
{
    QFETCH(QString, answer);
    QFETCH(bool, switched);
    GuiFixture f;
    f.writeGlobal(true);
    Window window = f.open();
    QTableWidget *expertTable = window->addresses()->currentTable();
    ServerItem *item = GuiFixture::items(window.get()).first();
    GuiFixture::pressCell(expertTable, 0, 2);
    QCOMPARE(GuiFixture::get(item->getUrl()), 200);

    f.prompt.answers = {answer};
    window->expertModeAction()->trigger();
    QCOMPARE(f.prompt.texts().last(), QStringLiteral("The server is running.\nDo you want to stop?"));
    QCOMPARE(window->expertModeAction()->isChecked(), !switched);
    QCOMPARE(Configuration::getGlobalConfig()->expertMode, !switched);
    QCOMPARE(window->addresses()->currentTable() == expertTable, !switched);
    QCOMPARE(GuiFixture::get(item->getUrl()) == 200, !switched);
    if (switched) {
        // The expert rows come back as they were, stopped.
        window->expertModeAction()->trigger();
        QCOMPARE(window->addresses()->currentTable(), expertTable);
        QCOMPARE(GuiFixture::items(window.get()).first(), item);
        QVERIFY(!item->webServer->isListening());
    }
    GuiFixture::quit(window);
}

void TestAddressList::listIni_data()
{
    QTest::addColumn<bool>("expert");
    QTest::addColumn<int>("addresses");
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("ports");  // one per row; "G" is the global profile's port
    QTest::addColumn<QStringList>("shares"); // "H" home, "S" the share, "F" the file in it, "N" nothing

    const QByteArray sections = "[0]\nport=9001\nfile=@SHARE@\n[1]\nport=9002\nfile=@SHARE@/f.txt\n"
                                "[2]\nport=9003\n";
    QTest::newRow("expert: len 3 on one address") << true << 1 << ("[General]\nlen=3\n" + sections)
        << QStringList{"9001", "9002", "9003"} << QStringList{"S", "F", "H"};
    // In simple mode the global profile, which the settings edit, gives the port.
    QTest::newRow("simple: every row takes section 0") << false << 2 << ("[General]\nlen=3\n" + sections)
        << QStringList{"G", "G"} << QStringList{"S", "S"};
    QTest::newRow("expert: no file") << true << 2 << QByteArray()
        << QStringList{"G", "G"} << QStringList{"H", "H"};
    QTest::newRow("len far too large") << true << 1 << QByteArray("[General]\nlen=100000000\n")
        << QStringList(AddressList::MaxRows, QStringLiteral("G")) << QStringList(AddressList::MaxRows, QStringLiteral("H"));
    QTest::newRow("len negative") << true << 2 << QByteArray("[General]\nlen=-4\n")
        << QStringList{"G", "G"} << QStringList{"H", "H"};
    QTest::newRow("len not a number") << true << 1 << QByteArray("[General]\nlen=three\n")
        << QStringList{"G"} << QStringList{"H"};
    QTest::newRow("port 0, 65536, letters")
        << true << 3 << QByteArray("[0]\nport=0\n[1]\nport=65536\n[2]\nport=eighty\n")
        << QStringList{"G", "G", "G"} << QStringList{"H", "H", "H"};
    QTest::newRow("port below 1024 outside root mode") << true << 1 << QByteArray("[0]\nport=80\n")
        << QStringList{"G"} << QStringList{"H"};
    QTest::newRow("port 65535") << true << 1 << QByteArray("[0]\nport=65535\n")
        << QStringList{"65535"} << QStringList{"H"};
    // Nothing rather than the home folder.
    QTest::newRow("deleted folder") << true << 1 << QByteArray("[0]\nfile=@SHARE@/gone\n")
        << QStringList{"G"} << QStringList{"N"};
    QTest::newRow("garbage") << true << 2 << QByteArray("\x01\x02[[[\n=\n[0\nport\n\xff\xfe")
        << QStringList{"G", "G"} << QStringList{"H", "H"};
}

void TestAddressList::listIni()
{
    QFETCH(bool, expert);
    QFETCH(int, addresses);
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, ports);
    QFETCH(QStringList, shares);
    GuiFixture f;
    f.writeFile(f.share() + QStringLiteral("/f.txt"), "file");
    QStringList ips;
    for (int i = 1; i <= addresses; ++i)
        ips.append(QStringLiteral("127.0.0.%1").arg(i));
    f.addresses.set(ips);
    f.writeGlobal(expert);
    f.writeFile(f.listIni(), QByteArray(ini).replace("@SHARE@", f.share().toUtf8()));
    Window window = f.open();
    const QList<ServerItem *> items = GuiFixture::items(window.get());
    QCOMPARE(items.size(), ports.size());
    for (int i = 0; i < items.size(); ++i) {
        const WebServer *server = items.at(i)->webServer;
        const QString port = ports.at(i) == QLatin1String("G") ? QString::number(f.port) : ports.at(i);
        QCOMPARE(QString::number(server->port), port);
        const QString share = shares.at(i) == QLatin1String("H") ? f.home.path()
            : shares.at(i) == QLatin1String("S") ? f.share()
            : shares.at(i) == QLatin1String("F") ? f.share() + QStringLiteral("/f.txt")
                                                 : QString();
        QCOMPARE(server->root.filePath().isEmpty(), share.isEmpty());
        if (!share.isEmpty())
            QCOMPARE(server->root.absoluteFilePath(), QFileInfo(share).absoluteFilePath());
        QCOMPARE(server->singleFile, shares.at(i) == QLatin1String("F"));
    }
    window.reset();
}

void TestAddressList::listIniRoundTrip()
{
    GuiFixture f;
    f.writeFile(f.share() + QStringLiteral("/f.txt"), "file");
    f.writeGlobal(true);
    Configuration work;
    work.setFileName(QStringLiteral("work"));
    work.profileName = QStringLiteral("work");
    QVERIFY(work.save());
    const quint16 second = GuiFixture::freePort();
    const quint16 extra = GuiFixture::freePort();
    {
        Window window = f.open();
        QTableWidget *table = window->addresses()->currentTable();
        table->setCurrentCell(0, 1);
        window->fileOrDirSelected(f.share());
        table->setCurrentCell(1, 1);
        window->fileOrDirSelected(f.share() + QStringLiteral("/f.txt"));
        f.prompt.answers = {QString::number(second)};
        GuiFixture::contextAction(window.get(), 1, QStringLiteral("Change port"));
        f.prompt.answers = {QString::number(extra)};
        GuiFixture::contextAction(window.get(), 0, QStringLiteral("Add new port"));
        QCOMPARE(table->rowCount(), 3);
        // Row 1 runs on the profile "work".
        ServerItem *item = GuiFixture::items(window.get()).at(1);
        item->configurationChanged(Configuration::confList.at(1));
        GuiFixture::quit(window);
    }
    QSettings ini(f.listIni(), QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("len")).toInt(), 3);
    QCOMPARE(ini.value(QStringLiteral("2/port")).toInt(), int(extra));

    Window window = f.open();
    const QList<ServerItem *> items = GuiFixture::items(window.get());
    QCOMPARE(items.size(), 3);
    QCOMPARE(items.at(0)->webServer->port, f.port);
    QCOMPARE(items.at(1)->webServer->port, second);
    QCOMPARE(items.at(2)->webServer->port, extra);
    QCOMPARE(items.at(0)->webServer->root.absoluteFilePath(), f.share());
    QCOMPARE(items.at(1)->webServer->root.absoluteFilePath(), f.share() + QStringLiteral("/f.txt"));
    QVERIFY(items.at(1)->webServer->singleFile);
    // The new port shares what its row shared, not the home folder.
    QCOMPARE(items.at(2)->webServer->root.absoluteFilePath(), f.share());
    QCOMPARE(items.at(1)->webServer->config->profileName, QStringLiteral("work"));
    QCOMPARE(items.at(1)->configCell()->text(), QStringLiteral("work"));
    QCOMPARE(items.at(0)->webServer->config, Configuration::getGlobalConfig());
    window.reset();
}

void TestAddressList::listIniNeverHalfWritten()
{
    GuiFixture f;
    f.writeGlobal(true);
    const QByteArray before = "[General]\nlen=1\n\n[0]\nport=9100\n";
    f.writeFile(f.listIni(), before);
    f.addresses.set({QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")});
    Window window = f.open();
    QCOMPARE(window->addresses()->getServerCount(), 3);
    // A file size limit below the new list: the write fails part way.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old = {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = rlim_t(before.size() + 10);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = window->addresses()->end();
    ::setrlimit(RLIMIT_FSIZE, &old);
    QVERIFY(!saved);
    QFile file(f.listIni());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
    window.reset();
}

void TestAddressList::vanishedShareAtStart_data()
{
    QTest::addColumn<bool>("expert");
    QTest::newRow("simple") << false;
    QTest::newRow("expert") << true;
}

void TestAddressList::vanishedShareAtStart()
{
    QFETCH(bool, expert);
    GuiFixture f;
    f.writeFile(f.share() + QStringLiteral("/a.txt"), "A");
    const QString gone = f.share() + QStringLiteral("/gone");
    f.writeGlobal(expert);
    f.writeFile(f.listIni(), "[General]\nlen=2\n[0]\nfile=" + gone.toUtf8() + "\n[1]\nfile=" + f.share().toUtf8() + "\n");
    Window window = f.open();
    QTRY_COMPARE(f.prompt.texts().size(), 1);
    QCOMPARE(f.prompt.texts().first(),
             QStringLiteral("What was shared is gone:\n%1\nIts servers share nothing and do not start until a folder "
                            "or a file is chosen (File, Select Folder or Select File).").arg(gone));
    QVERIFY(f.prompt.asked.first().parentShown);
    ServerItem *item = GuiFixture::items(window.get()).first();
    QVERIFY(item->sharesNothing());
    QVERIFY(window->sharedContentLabel()->toolTip().contains(gone));
    if (expert) {
        // The row beside it shares what was stored for it; another port on the row shares nothing.
        QCOMPARE(GuiFixture::items(window.get()).at(1)->webServer->root.absoluteFilePath(), f.share());
        f.prompt.answers = {QString::number(GuiFixture::freePort())};
        GuiFixture::contextAction(window.get(), 0, QStringLiteral("Add new port"));
        QVERIFY(GuiFixture::items(window.get()).at(2)->sharesNothing());
    }

    // The row does not start, and says why.
    f.prompt.asked.clear();
    if (expert)
        GuiFixture::pressCell(window->addresses()->currentTable(), 0, 2);
    else
        QTest::mouseClick(window->addresses()->startAllButton(), Qt::LeftButton);
    QVERIFY(!item->webServer->isListening());
    QCOMPARE(GuiFixture::get(item->getUrl() + "/a.txt"), 0);
    QVERIFY(!f.prompt.texts().isEmpty());
    QCOMPARE(f.prompt.texts().first(), QStringLiteral("Unable to start the server\nNothing is shared: %1 is gone.\n"
                                                      "Choose a folder or a file to share first (File, Select Folder).")
                                           .arg(gone));
    GuiFixture::quit(window);
    // What was stored stays: it is shared again once it is back.
    QSettings ini(f.listIni(), QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("0/file")).toString(), gone);

    // Chosen anew, it is shared.
    window = f.open();
    window->addresses()->currentTable()->setCurrentCell(0, expert ? 1 : 0);
    window->fileOrDirSelected(f.share());
    item = GuiFixture::items(window.get()).first();
    QVERIFY(!item->sharesNothing());
    if (expert)
        GuiFixture::pressCell(window->addresses()->currentTable(), 0, 2);
    else
        QTest::mouseClick(window->addresses()->startAllButton(), Qt::LeftButton);
    QCOMPARE(GuiFixture::get(item->getUrl() + "/a.txt"), 200);
    GuiFixture::quit(window);
}

void TestAddressList::portInput_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("root");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("refusal"); // empty: accepted
    const QString invalid = QStringLiteral("Invalid port");
    const QString needsRoot = QStringLiteral("Ports below 1024 need root mode: start Tessaly as \"tessaly root\".");
    for (const char *action : {"Add new port", "Change port"}) {
        const QString a = QString::fromLatin1(action);
        QTest::addRow("%s: 0", action) << a << false << QStringLiteral("0") << invalid;
        QTest::addRow("%s: 65536", action) << a << false << QStringLiteral("65536") << invalid;
        QTest::addRow("%s: letters", action) << a << false << QStringLiteral("port") << invalid;
        QTest::addRow("%s: empty", action) << a << false << QString() << invalid;
        QTest::addRow("%s: 80 outside root mode", action) << a << false << QStringLiteral("80") << needsRoot;
        QTest::addRow("%s: 1023 outside root mode", action) << a << false << QStringLiteral("1023") << needsRoot;
        QTest::addRow("%s: 80 in root mode", action) << a << true << QStringLiteral("80") << QString();
        QTest::addRow("%s: 65535", action) << a << false << QStringLiteral("65535") << QString();
        QTest::addRow("%s: 1024", action) << a << false << QStringLiteral("1024") << QString();
    }
}

void TestAddressList::portInput()
{
    QFETCH(QString, action);
    QFETCH(bool, root);
    QFETCH(QString, answer);
    QFETCH(QString, refusal);
    const bool accepted = refusal.isEmpty();
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) { c.warningMode = CheckState::Off; });
    Window window = f.open(root ? QStringLiteral("root") : QString());
    QTableWidget *table = window->addresses()->currentTable();
    window->addresses()->currentTable()->setCurrentCell(1, 1);
    window->fileOrDirSelected(f.share());
    f.prompt.asked.clear();
    f.prompt.answers = {answer};
    GuiFixture::contextAction(window.get(), 1, action);
    const ScriptedPrompt::Asked &input = f.prompt.asked.first();
    QCOMPARE(input.text, (action == QLatin1String("Add new port") ? QStringLiteral("New port") : QStringLiteral("Port"))
                             + QLatin1Char(':'));
    QCOMPARE(input.informative, QString::number(f.port));
    const QList<ServerItem *> items = GuiFixture::items(window.get());
    if (!accepted) {
        QCOMPARE(f.prompt.texts().last(), refusal);
        QCOMPARE(items.size(), 2);
        QCOMPARE(items.at(1)->webServer->port, f.port);
    } else if (action == QLatin1String("Add new port")) {
        QCOMPARE(f.prompt.asked.size(), 1);
        QCOMPARE(items.size(), 3);
        QCOMPARE(QString::number(items.at(2)->webServer->port), answer);
        QCOMPARE(items.at(2)->webServer->address->ip(), items.at(1)->webServer->address->ip());
        QCOMPARE(items.at(2)->webServer->root.absoluteFilePath(), f.share());
        QCOMPARE(table->item(2, 0)->text(), QStringLiteral("http://127.0.0.2") + (answer == QLatin1String("80") ? QString() : QLatin1Char(':') + answer));
    } else {
        QCOMPARE(items.size(), 2);
        QCOMPARE(QString::number(items.at(1)->webServer->port), answer);
    }
    window.reset();
}

void TestAddressList::changingThePortOfARunningServer()
{
    GuiFixture f;
    f.writeGlobal(true);
    Window window = f.open();
    QTableWidget *table = window->addresses()->currentTable();
    ServerItem *item = GuiFixture::items(window.get()).first();
    GuiFixture::pressCell(table, 0, 2);
    const QByteArray before = item->getUrl();
    QCOMPARE(GuiFixture::get(before), 200);
    const quint16 next = GuiFixture::freePort();
    f.prompt.answers = {QString::number(next)};
    GuiFixture::contextAction(window.get(), 0, QStringLiteral("Change port"));
    QVERIFY(item->webServer->isListening());
    QCOMPARE(GuiFixture::get(item->getUrl()), 200);
    QCOMPARE(GuiFixture::get(before), 0);
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("http://127.0.0.1:%1").arg(next));
    GuiFixture::quit(window);
}

void TestAddressList::removeRow()
{
    GuiFixture f;
    f.writeGlobal(true);
    Window window = f.open();
    QTableWidget *table = window->addresses()->currentTable();
    GuiFixture::pressCell(table, 1, 2);
    const QByteArray url = GuiFixture::items(window.get()).at(1)->getUrl();
    QCOMPARE(GuiFixture::get(url), 200);
    GuiFixture::contextAction(window.get(), 1, QStringLiteral("Remove"));
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(GuiFixture::get(url), 0);
    QCOMPARE(window->currentItem(), GuiFixture::items(window.get()).first());
    GuiFixture::quit(window);
}

void TestAddressList::startFailureIsReported()
{
    GuiFixture f;
    f.writeGlobal(true);
    Window window = f.open();
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress(QStringLiteral("127.0.0.2")), f.port));
    ServerItem *item = GuiFixture::items(window.get()).at(1);
    GuiFixture::pressCell(window->addresses()->currentTable(), 1, 2);
    QVERIFY(!item->webServer->isListening());
    QCOMPARE(item->statusCell()->text(), QStringLiteral("0KB"));
    QCOMPARE(f.prompt.asked.size(), 1);
    QVERIFY2(f.prompt.texts().first().startsWith(QStringLiteral("Unable to start the server\n")), qPrintable(f.prompt.texts().first()));
    QVERIFY(f.prompt.texts().first().endsWith(QStringLiteral("\n127.0.0.2:%1").arg(f.port)));
    // The same report while the first is still on screen is not stacked.
    GuiFixture::pressCell(window->addresses()->currentTable(), 1, 2);
    QCOMPARE(f.prompt.asked.size(), 1);
    taken.close();
    GuiFixture::pressCell(window->addresses()->currentTable(), 1, 2);
    QCOMPARE(GuiFixture::get(item->getUrl()), 200);
    GuiFixture::quit(window);
}

void TestAddressList::onlineChangeRefreshesTheRows()
{
    GuiFixture f;
    f.writeGlobal(true);
    Window window = f.open();
    f.addresses.set({QStringLiteral("127.0.0.3")});
    emit window->addresses()->onlineState()->onlineStateChanged(false);
    QCOMPARE(window->addresses()->getServerCount(), 1);
    QCOMPARE(GuiFixture::items(window.get()).first()->webServer->address->ip(), QHostAddress(QStringLiteral("127.0.0.3")));
    QVERIFY(window->addresses()->publicLine()->text().isEmpty());
    QCOMPARE(window->currentItem(), GuiFixture::items(window.get()).first());
    GuiFixture::quit(window);
}

void TestAddressList::globalEditWithoutABoundRow()
{
    GuiFixture f;
    f.writeGlobal(true);
    Configuration work;
    work.setFileName(QStringLiteral("work"));
    work.profileName = QStringLiteral("work");
    QVERIFY(work.save());
    Window window = f.open();
    for (ServerItem *item : GuiFixture::items(window.get()))
        item->configurationChanged(Configuration::confList.at(1));
    // An edited copy of the global profile while every row runs on another one.
    std::unique_ptr<Configuration> edited(Configuration::getGlobalConfig()->clone());
    edited->sessionLifetime = 1234;
    window->addresses()->configChanged(edited.get());
    QCOMPARE(Configuration::getGlobalConfig()->sessionLifetime, 1234);
    Configuration saved;
    QVERIFY(saved.load(f.configDir() + QStringLiteral("Global.conf")));
    QCOMPARE(saved.sessionLifetime, 1234);
    QCOMPARE(Configuration::confList.at(1)->sessionLifetime, 600);
    window.reset();
}

void TestAddressList::vanishedAddresses()
{
    GuiFixture f;
    f.addresses.set({QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3"),
                     QStringLiteral("127.0.0.4")});
    f.writeGlobal(true);
    Window window = f.open();
    QCOMPARE(window->addresses()->getServerCount(), 4);
    GuiFixture::pressCell(window->addresses()->currentTable(), 1, 2);
    const QByteArray url = GuiFixture::items(window.get()).at(1)->getUrl();
    QCOMPARE(GuiFixture::get(url), 200);
    // Two rows in a row disappear, a new address comes.
    f.addresses.set({QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.4"), QStringLiteral("127.0.0.5")});
    GuiFixture::menuAction(window.get(), QStringLiteral("Reload local addresses"))->trigger();
    QStringList shown;
    for (ServerItem *item : GuiFixture::items(window.get()))
        shown.append(item->webServer->address->ip().toString());
    QCOMPARE(shown, (QStringList{"127.0.0.1", "127.0.0.4", "127.0.0.5"}));
    QCOMPARE(GuiFixture::get(url), 0);

    f.addresses.set({});
    GuiFixture::menuAction(window.get(), QStringLiteral("Reload local addresses"))->trigger();
    QCOMPARE(window->addresses()->getServerCount(), 0);
    QCOMPARE(window->addresses()->publicLine()->text(), QStringLiteral("<center><b>Network not found</b></center>"));
    QVERIFY(!window->sharedContentButton()->isEnabled());
    GuiFixture::quit(window);
}

void TestAddressList::addressFilter_data()
{
    using F = QNetworkInterface::InterfaceFlag;
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("broadcast");
    QTest::addColumn<bool>("usable");
    const int up = F::IsUp | F::IsRunning | F::CanBroadcast;
    QTest::newRow("up, with a broadcast address") << up << "192.0.2.5" << "192.0.2.255" << true;
    QTest::newRow("loopback interface with a broadcast address") << (up | F::IsLoopBack) << "10.1.0.1"
                                                                 << "10.1.255.255" << false;
    QTest::newRow("loopback address on another interface") << up << "127.0.0.1" << "127.255.255.255" << false;
    QTest::newRow("down") << int(F::CanBroadcast) << "192.0.2.5" << "192.0.2.255" << false;
    QTest::newRow("no broadcast address (IPv6)") << up << "2001:db8::5" << "" << false;
}

void TestAddressList::addressFilter()
{
    QFETCH(int, flags);
    QFETCH(QString, ip);
    QFETCH(QString, broadcast);
    QFETCH(bool, usable);
    QNetworkAddressEntry entry;
    entry.setIp(QHostAddress(ip));
    if (!broadcast.isEmpty())
        entry.setBroadcast(QHostAddress(broadcast));
    QCOMPARE(AddressSource::isUsable(QNetworkInterface::InterfaceFlags(flags), entry), usable);
}

void TestAddressList::machineAddressesAreNeverLoopback()
{
    AddressSource system;
    const QList<QNetworkAddressEntry> entries = system.entries();
    for (const QNetworkAddressEntry &entry : entries) {
        QVERIFY2(!entry.ip().isLoopback(), qPrintable(entry.ip().toString()));
        QVERIFY(!entry.broadcast().isNull());
    }
}

void TestAddressList::profileFolderIsNeverServed_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<int>("code");
    QTest::newRow("a file of the home folder") << QByteArray("GET") << QByteArray("/share/a.txt") << QByteArray() << 200;
    QTest::newRow("the global profile") << QByteArray("GET") << QByteArray("/.kestrune/Global.conf") << QByteArray() << 403;
    QTest::newRow("the profile folder") << QByteArray("GET") << QByteArray("/.kestrune/") << QByteArray() << 403;
    QTest::newRow("spelt with %2e") << QByteArray("GET") << QByteArray("/%2ekestrune/list.ini") << QByteArray() << 403;
    QTest::newRow("through a link") << QByteArray("GET") << QByteArray("/share/settings/Global.conf") << QByteArray() << 403;
    QTest::newRow("PROPFIND") << QByteArray("PROPFIND") << QByteArray("/.kestrune/") << QByteArray("Depth: 1\r\n") << 403;
    QTest::newRow("PUT over the profile") << QByteArray("PUT") << QByteArray("/.kestrune/Global.conf")
                                          << QByteArray("Content-Length: 0\r\n") << 403;
    QTest::newRow("COPY into the folder") << QByteArray("COPY") << QByteArray("/share/a.txt")
                                          << QByteArray("Destination: /.kestrune/a.cnf\r\n") << 403;
}

void TestAddressList::profileFolderIsNeverServed()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, headers);
    QFETCH(int, code);
    GuiFixture f;
    f.writeFile(f.share() + QStringLiteral("/a.txt"), "A");
    QVERIFY(QFile::link(f.configDir(), f.share() + QStringLiteral("/settings")));
    f.writeGlobal(true, [](Configuration &c) { c.password = QStringLiteral("secret"); });
    // A row with nothing stored shares the home folder, which holds the profile folder.
    Window window = f.open();
    ServerItem *item = GuiFixture::items(window.get()).first();
    QCOMPARE(item->webServer->root.absoluteFilePath(), f.home.path());
    GuiFixture::pressCell(window->addresses()->currentTable(), 0, 2);
    QByteArray body;
    QCOMPARE(GuiFixture::request(method, item->getUrl() + path, headers, &body), code);
    QVERIFY(!body.contains("secret"));
    QVERIFY(!QFileInfo::exists(f.configDir() + QStringLiteral("a.cnf")));
    Configuration global;
    QVERIFY(global.load(f.configDir() + QStringLiteral("Global.conf")));
    QCOMPARE(global.password, QStringLiteral("secret"));
    GuiFixture::quit(window);
}

void TestAddressList::trafficLimitStopsTheRow_data()
{
    QTest::addColumn<QString>("answer"); // when the row is started again
    QTest::newRow("started again, counters kept") << QStringLiteral("No");
    QTest::newRow("started again, counters reset") << QStringLiteral("Yes");
}

void TestAddressList::trafficLimitStopsTheRow()
{
    QFETCH(QString, answer);
    GuiFixture f;
    f.writeFile(f.share() + QStringLiteral("/big.bin"), QByteArray(400 * 1024, 'x'));
    f.writeFile(f.share() + QStringLiteral("/small.txt"), "small");
    f.writeGlobal(true, [](Configuration &c) { c.dataLimitKB = 50; });
    Window window = f.open();
    window->fileOrDirSelected(f.share());
    ServerItem *item = GuiFixture::items(window.get()).first();
    GuiFixture::pressCell(window->addresses()->currentTable(), 0, 2);
    (void)GuiFixture::get(item->getUrl() + "/big.bin");
    QTRY_VERIFY(!item->webServer->isListening());
    QCOMPARE(GuiFixture::get(item->getUrl() + "/big.bin"), 0);
    const QString text = f.prompt.texts().last();
    // The configured limit, in the kilobytes it was given in.
    QVERIFY2(text.startsWith(QStringLiteral("Network traffic limit\nMax. network traffic limit: 50 KB reached\n"
                                            "Server stopped on 127.0.0.1:%1.\nSent bytes: ").arg(f.port)),
             qPrintable(text));
    const qint64 sent = item->webServer->traffic.sentBytes / 1000;
    QVERIFY(text.contains(QStringLiteral("Sent bytes: %1 KB\nReceived bytes: %2 KB")
                              .arg(sent).arg(item->webServer->traffic.receivedBytes / 1000)));
    QVERIFY(sent >= 51 && sent < 400);

    // The counters persist; starting the row says that its limit is still reached.
    const qint64 total = item->webServer->traffic.sentBytes + item->webServer->traffic.receivedBytes;
    f.prompt.asked.clear();
    f.prompt.answers = {answer};
    GuiFixture::pressCell(window->addresses()->currentTable(), 0, 2);
    QCOMPARE(f.prompt.texts(), QStringList{QStringLiteral("The traffic limit of %1, 50 KB, is still reached: %2 KB were "
                                                          "sent and received.\nReset its counters and start it?")
                                               .arg(QString::fromLatin1(item->getUrl()))
                                               .arg(total / 1000)});
    const bool reset = answer == QLatin1String("Yes");
    QCOMPARE(item->webServer->isListening(), reset);
    QCOMPARE(item->webServer->traffic.sentBytes + item->webServer->traffic.receivedBytes, reset ? 0 : total);
    if (reset) {
        QCOMPARE(item->statusCell()->text(), QStringLiteral("0KB"));
        QCOMPARE(GuiFixture::get(item->getUrl() + "/small.txt"), 200);
        QVERIFY(item->webServer->isListening());
    }
    GuiFixture::quit(window);
}

void TestAddressList::trafficLimitOfAForeignServer()
{
    GuiFixture f;
    f.writeFile(f.share() + QStringLiteral("/big.bin"), QByteArray(200 * 1024, 'x'));
    f.writeGlobal(true);
    Window window = f.open();
    // A listener that belongs to no row of the table.
    Configuration limited;
    limited.dataLimitKB = 4;
    auto *entry = new QNetworkAddressEntry;
    entry->setIp(QHostAddress(QHostAddress::LocalHost));
    WebServer foreign(entry, &limited);
    foreign.root = QFileInfo(f.share());
    foreign.port = GuiFixture::freePort();
    foreign.configurationModifyed(&limited);
    connect(&foreign, qOverload<WebServer *>(&WebServer::dataLimit), window.get(), &MobileWebServer::dataLimit);
    QVERIFY(foreign.start());
    f.prompt.asked.clear();
    (void)GuiFixture::get("http://127.0.0.1:" + QByteArray::number(foreign.port) + "/big.bin");
    QTRY_VERIFY(foreign.traffic.limitReached);
    QTest::qWait(50);
    QVERIFY(f.prompt.asked.isEmpty());
    QVERIFY(foreign.isListening());
    foreign.stopAll();
    GuiFixture::quit(window);
}

void TestAddressList::statusTexts_data()
{
    QTest::addColumn<qint64>("sent");
    QTest::addColumn<qint64>("received");
    QTest::addColumn<QString>("text");
    QTest::newRow("999 bytes") << qint64(999) << qint64(0) << QStringLiteral("0KB");
    QTest::newRow("1499 bytes") << qint64(1499) << qint64(0) << QStringLiteral("1KB");
    QTest::newRow("sent and received") << qint64(1500) << qint64(1500) << QStringLiteral("3KB");
    QTest::newRow("past 2 GiB") << qint64(3) * 1024 * 1024 * 1024 << qint64(0) << QStringLiteral("3221225KB");
}

void TestAddressList::statusTexts()
{
    QFETCH(qint64, sent);
    QFETCH(qint64, received);
    QFETCH(QString, text);
    GuiFixture f;
    f.writeGlobal(true);
    Window window = f.open();
    ServerItem *item = GuiFixture::items(window.get()).first();
    item->webServer->traffic.sentBytes = sent;
    item->webServer->traffic.receivedBytes = received;
    item->update();
    QCOMPARE(item->statusCell()->text(), text);
    window.reset();
}

void TestAddressList::statusPanelShowsTheLastClient()
{
    GuiFixture f;
    f.writeFile(f.share() + QStringLiteral("/k.bin"), QByteArray(2999, 'k'));
    f.writeGlobal(false);
    Window window = f.open();
    window->fileOrDirSelected(f.share());
    QTest::mouseClick(window->addresses()->startAllButton(), Qt::LeftButton);
    ServerItem *item = GuiFixture::items(window.get()).at(1);
    QCOMPARE(GuiFixture::get(item->getUrl() + "/k.bin"), 200);
    QTRY_VERIFY(EventHandler::statusWidget->text().contains(QStringLiteral("Last connection: 127.0.0.1")));
    // The traffic of every server, in kilobytes of 1000 bytes.
    const qint64 total = item->webServer->traffic.sentBytes + item->webServer->traffic.receivedBytes;
    QTRY_COMPARE(EventHandler::statusWidget->text(),
                 QStringLiteral("<center>%1KB Last connection: 127.0.0.1</center>").arg(total / 1000));
    QVERIFY(total / 1000 >= 3);
    GuiFixture::quit(window);
}

void TestAddressList::urls_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("secure");
    QTest::addColumn<QString>("url");
    QTest::newRow("80 without a key") << 80 << false << "http://127.0.0.1";
    QTest::newRow("443 with a key") << 443 << true << "https://127.0.0.1";
    QTest::newRow("443 without a key") << 443 << false << "http://127.0.0.1:443";
    QTest::newRow("80 with a key") << 80 << true << "https://127.0.0.1:80";
    QTest::newRow("8080 with a key") << 8080 << true << "https://127.0.0.1:8080";
}

void TestAddressList::urls()
{
    QFETCH(int, port);
    QFETCH(bool, secure);
    QFETCH(QString, url);
    GuiFixture f;
    f.writeGlobal(true, [&](Configuration &c) {
        c.port = port;
        c.sslMode = secure ? CheckState::On : CheckState::Off;
        c.keyFile = GuiFixture::buildDir() + QStringLiteral("/ssl.pem");
    });
    f.addresses.set({QStringLiteral("127.0.0.1")});
    Configuration::RootMode = true;
    Window window = f.open(QStringLiteral("root"));
    QCOMPARE(QString::fromLatin1(GuiFixture::items(window.get()).first()->getUrl()), url);
    window.reset();
}

void TestAddressList::closingWithRunningServers_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("closed");
    QTest::newRow("stays open") << QStringLiteral("No") << false;
    QTest::newRow("closes") << QStringLiteral("Yes") << true;
}

void TestAddressList::closingWithRunningServers()
{
    QFETCH(QString, answer);
    QFETCH(bool, closed);
    GuiFixture f;
    f.writeGlobal(true);
    Window window = f.open();
    GuiFixture::pressCell(window->addresses()->currentTable(), 0, 2);
    GuiFixture::pressCell(window->addresses()->currentTable(), 1, 2);
    const QByteArray url = GuiFixture::items(window.get()).at(1)->getUrl();
    QCOMPARE(GuiFixture::get(url), 200);
    // A connection is open while the window goes.
    QTcpSocket idle;
    idle.connectToHost(QHostAddress(QStringLiteral("127.0.0.2")), f.port);
    QVERIFY(idle.waitForConnected(5000));
    f.prompt.answers = {answer};
    QVERIFY(window->isVisible());
    window->close();
    QCOMPARE(f.prompt.texts().last(), QStringLiteral("The server is running.\nDo you want to exit?"));
    QCOMPARE(window->isVisible(), !closed);
    QCOMPARE(QFileInfo::exists(f.listIni()), closed);
    if (!closed) {
        QCOMPARE(GuiFixture::get(url), 200);
        f.prompt.answers = {QStringLiteral("Yes")};
        window->close();
    }
    window.reset();
    QCOMPARE(GuiFixture::get(url), 0);
    QTRY_COMPARE(idle.state(), QAbstractSocket::UnconnectedState);
    QSettings ini(f.listIni(), QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("len")).toInt(), 2);
    QCOMPARE(ini.value(QStringLiteral("1/port")).toInt(), int(f.port));
    Configuration global;
    QVERIFY(global.load(f.configDir() + QStringLiteral("Global.conf")));
    QVERIFY(global.savedOnExit);
    QVERIFY(global.expertMode);
}

QTEST_MAIN(TestAddressList)
#include "tst_addresslist.moc"
