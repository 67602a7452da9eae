// The address table and its server items, driven through the window's widgets against two
// loopback addresses, with real listeners and real GETs: starting and stopping, list.ini read
// and written back, a share that is gone, a port changed while running, a start that fails.

#include "filesizelimit.h"
#include "guifixture.h"

#include "app/slinklabel.h"
#include "instances/addresslist.h"
#include "instances/serveritem.h"
#include "server/webserver.h"

#include <QTableWidget>
#include <QTest>

using Window = std::unique_ptr<MobileWebServer>;

class TestAddressList : public QObject
{
    Q_OBJECT

private slots:
    void listIni_data();
    void listIni();
    void listIniNeverHalfWritten();
    void vanishedShareAtStart();
    void startPortChangeAndStop();
};

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
    TestServer::writeFile(f.share() + QStringLiteral("/f.txt"), "file");
    QStringList ips;
    for (int i = 1; i <= addresses; ++i)
        ips.append(QStringLiteral("127.0.0.%1").arg(i));
    f.addresses.set(ips);
    f.writeGlobal(expert);
    TestServer::writeFile(f.listIni(), QByteArray(ini).replace("@SHARE@", f.share().toUtf8()));
    // Read, then written back at the end and read again: the same rows.
    for (int round = 0; round < 2; ++round) {
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
        GuiFixture::quit(window);
    }
}

void TestAddressList::listIniNeverHalfWritten()
{
    GuiFixture f;
    f.writeGlobal(true);
    const QByteArray before = "[General]\nlen=1\n\n[0]\nport=9100\n";
    TestServer::writeFile(f.listIni(), before);
    f.addresses.set({QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")});
    Window window = f.open();
    QCOMPARE(window->addresses()->getServerCount(), 3);
    // A file size limit below the new list: the write fails part way.
    {
        FileSizeLimit limit(rlim_t(before.size() + 10));
        QVERIFY(limit.active);
        QVERIFY(!window->addresses()->end());
    }
    QCOMPARE(TestServer::readFile(f.listIni()), before);
    window.reset();
}

void TestAddressList::vanishedShareAtStart()
{
    GuiFixture f;
    TestServer::writeFile(f.share() + QStringLiteral("/a.txt"), "A");
    const QString gone = f.share() + QStringLiteral("/gone");
    f.writeGlobal(true);
    TestServer::writeFile(f.listIni(), "[General]\nlen=2\n[0]\nfile=" + gone.toUtf8() + "\n[1]\nfile=" + f.share().toUtf8() + "\n");
    Window window = f.open();
    QTRY_COMPARE(f.prompt.texts().size(), 1);
    QVERIFY(f.prompt.texts().first().startsWith(QStringLiteral("What was shared is gone:\n%1\n").arg(gone)));
    QVERIFY(f.prompt.asked.first().parentShown);
    ServerItem *item = GuiFixture::items(window.get()).first();
    QVERIFY(window->sharedContentLabel()->toolTip().contains(gone));
    // The row beside it shares what was stored for it.
    QCOMPARE(GuiFixture::items(window.get()).at(1)->webServer->root.absoluteFilePath(), f.share());

    // The row does not start, and says why.
    f.prompt.asked.clear();
    GuiFixture::pressCell(window->addresses()->currentTable(), 0, 2);
    QVERIFY(!item->webServer->isListening());
    QCOMPARE(GuiFixture::get(item->getUrl() + "/a.txt"), 0);
    QVERIFY(f.prompt.texts().value(0).contains(QStringLiteral("Nothing is shared: %1 is gone.").arg(gone)));
    // What was stored stays (the listIni rows read it back): it is shared again once it is back.
    GuiFixture::quit(window);
}

// A start that fails is reported once; then only the pressed row's server runs, its port changes
// while it runs, and pressed again it stops.
void TestAddressList::startPortChangeAndStop()
{
    GuiFixture f;
    TestServer::writeFile(f.share() + QStringLiteral("/hello.txt"), "hello from the share");
    f.writeGlobal(true);
    Window window = f.open();
    QTableWidget *table = window->addresses()->currentTable();
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress(QStringLiteral("127.0.0.2")), f.port));
    QVERIFY(!f.startShare(window.get(), 1));
    ServerItem *item = GuiFixture::items(window.get()).at(1);
    QCOMPARE(item->statusCell()->text(), QStringLiteral("0KB"));
    QCOMPARE(f.prompt.asked.size(), 1);
    QVERIFY2(f.prompt.texts().first().startsWith(QStringLiteral("Unable to start the server\n")), qPrintable(f.prompt.texts().first()));
    QVERIFY(f.prompt.texts().first().endsWith(QStringLiteral("\n127.0.0.2:%1").arg(f.port)));
    // The same report while the first is still on screen is not stacked.
    GuiFixture::pressCell(table, 1, 2);
    QCOMPARE(f.prompt.asked.size(), 1);
    taken.close();
    GuiFixture::pressCell(table, 1, 2);
    QVERIFY(item->webServer->isListening());
    QCOMPARE(GuiFixture::get(GuiFixture::items(window.get()).at(0)->getUrl()), 0);
    QVERIFY(window->sharedContentLabel()->isEnabled());
    const QByteArray before = item->getUrl() + "/hello.txt";
    const quint16 next = GuiFixture::freePort();
    f.prompt.answers = {QString::number(next)};
    GuiFixture::contextAction(window.get(), 1, QStringLiteral("Change port"));
    QByteArray body;
    QCOMPARE(GuiFixture::get(item->getUrl() + "/hello.txt", &body), 200);
    QCOMPARE(body, "hello from the share");
    QCOMPARE(GuiFixture::get(before), 0);
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("http://127.0.0.2:%1").arg(next));
    GuiFixture::pressCell(table, 1, 2);
    QCOMPARE(GuiFixture::get(item->getUrl()), 0);
    QVERIFY(!window->sharedContentLabel()->isEnabled());
    GuiFixture::quit(window);
}

QTEST_MAIN(TestAddressList)
#include "tst_addresslist.moc"
