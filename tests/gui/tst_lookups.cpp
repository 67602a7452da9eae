// The internet lookups against fake services on 127.0.0.1, driven from the window: when the
// question about open access comes, and a dynamic-DNS update the provider refuses.

#include "guifixture.h"

#include "instances/addresslist.h"
#include "instances/netrequest.h"
#include "instances/serveritem.h"
#include "server/webserver.h"

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QNetworkReply>
#include <QTableWidget>
#include <QTest>

using Window = std::unique_ptr<MobileWebServer>;

namespace {

const QByteArray CheckPath = "/tools/open-ports/check.php";
const QByteArray DnsPath = "/cgi-bin/dynip.cgi";

} // namespace

class TestLookups : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void passwordQuestion_data();
    void passwordQuestion();
};

void TestLookups::initTestCase()
{
    qRegisterMetaType<ServerItem *>();
}

void TestLookups::passwordQuestion_data()
{
    QTest::addColumn<int>("warningMode");
    QTest::addColumn<int>("authMode");
    QTest::addColumn<QByteArray>("dns"); // the provider's answer; null: no dynamic DNS
    QTest::addColumn<bool>("started");
    QTest::addColumn<int>("asked"); // times
    QTest::addColumn<QString>("shown"); // the public line (%1: the port)
    const QByteArray updated = QByteArray(120, '.') + "anna.dyn.example.net has been updated";
    const QString one = QStringLiteral("Public address: http://203.0.113.7:%1");
    QTest::newRow("open share, warnings on") << 2 << 0 << QByteArray() << true << 1 << one;
    QTest::newRow("open share, warnings off") << 0 << 0 << QByteArray() << true << 0 << one;
    QTest::newRow("password, warnings on") << 2 << 1 << QByteArray() << true << 0 << one;
    // Two answers (the check's and the update's), one question.
    QTest::newRow("open share, dynamic DNS on") << 2 << 0 << updated << true << 1
                                                << QStringLiteral("Public addresses: http://anna.dyn.example.net:%1, http://203.0.113.7:%1");
    QTest::newRow("open share, dynamic DNS on, no server runs") << 2 << 0 << updated << false << 0
                                                               << QStringLiteral("http://203.0.113.7:%1");
    // The provider's answer is opened for the user to read.
    QTest::newRow("dynamic DNS update refused") << 0 << 0 << QByteArray(120, '.') + "badauth" << true << 0 << one;
}

void TestLookups::passwordQuestion()
{
    QFETCH(int, warningMode);
    QFETCH(int, authMode);
    QFETCH(QByteArray, dns);
    QFETCH(bool, started);
    QFETCH(int, asked);
    QFETCH(QString, shown);
    GuiFixture f;
    f.writeGlobal(true, [&](Configuration &c) {
        // Dynamic DNS with the account "anna".
        c.dnsEnabled = dns.isNull() ? CheckState::Off : CheckState::On;
        c.dnsUser = QStringLiteral("anna");
        c.dnsPassword = QStringLiteral("s3cret");
        c.warningMode = CheckState(warningMode);
        c.authMode = AuthMode(authMode);
        c.password = QStringLiteral("secret");
    });
    f.services.respond = [&](const QByteArray &path) {
        return path.endsWith(DnsPath) ? dns
                                      : R"({"status":"success","message":"Port )" + QByteArray::number(f.port)
                                            + R"( is open on 203.0.113.7."})";
    };
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &f.services, "open");
    Window window = f.open();
    f.prompt.answers = QStringList(8, QStringLiteral("No"));
    const QString question = QStringLiteral("The shared files are accessible for everyone.\nDo you want to set password?");
    const int checks = f.services.requests.count(CheckPath);
    // A server that starts asks by itself only while the machine counts as online: the menu asks.
    if (started)
        GuiFixture::pressCell(window->addresses()->currentTable(), 0, 2);
    GuiFixture::menuAction(window.get(), QStringLiteral("Reload public addressess"))->trigger();
    const auto inFlight = [&] { return window->addresses()->netRequest.findChildren<QNetworkReply *>().size(); };
    QTRY_VERIFY(f.services.requests.count(CheckPath) > checks && inFlight() == 0);
    const QString line = shown.arg(f.port);
    QTRY_VERIFY2(window->addresses()->publicLine()->text().contains(line), qPrintable(window->addresses()->publicLine()->text()));
    QCOMPARE(f.prompt.texts().count(question), asked);
    // Asked once for the start, whatever answers come later.
    window->addresses()->publicIP(GuiFixture::items(window.get()).first());
    QCOMPARE(f.prompt.texts().count(question), asked);
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QCOMPARE(f.services.opened.isEmpty(), !dns.contains("badauth"));
    GuiFixture::quit(window);
}

QTEST_MAIN(TestLookups)
#include "tst_lookups.moc"
