// The internet lookups against fake services on 127.0.0.1, driven from the window: when the
// question about open access comes.

#include "guifixture.h"

#include "app/mobilewebserver.h"
#include "config/configuration.h"
#include "instances/addresslist.h"
#include "instances/netrequest.h"
#include "instances/serveritem.h"
#include "server/webserver.h"
#include "widgets/eventhandler.h"

#include <QAction>
#include <QLabel>
#include <QSettings>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QUrlQuery>

using Window = std::unique_ptr<MobileWebServer>;
using Answer = FakeService::Answer;

namespace {

const QByteArray CheckPath = "/tools/open-ports/check.php";
const QByteArray DnsPath = "/cgi-bin/dynip.cgi";

QByteArray openAnswer(const QByteArray &address, quint16 port = 8080)
{
    return R"({"status":"success","message":"Port )" + QByteArray::number(port) + " is open on " + address + R"(."})";
}

// No questions, and dynamic DNS on with the account "anna".
void withDnsAccount(Configuration &c)
{
    c.warningMode = CheckState::Off;
    c.dnsEnabled = CheckState::On;
    c.dnsUser = QStringLiteral("anna");
    c.dnsPassword = QStringLiteral("s3cret");
}

// Starts row `row` by pressing its status cell, then asks for the public address from the menu
// (a server that starts asks by itself only while the machine counts as online).
void startAndLookUp(MobileWebServer *window, int row)
{
    GuiFixture::pressCell(window->addresses()->currentTable(), row, 2);
    GuiFixture::menuAction(window, QStringLiteral("Reload public addressess"))->trigger();
}

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
    QTest::addColumn<bool>("dns");
    QTest::addColumn<bool>("started");
    QTest::addColumn<int>("asked"); // times
    QTest::newRow("open share, warnings on") << 2 << 0 << false << true << 1;
    QTest::newRow("open share, warnings off") << 0 << 0 << false << true << 0;
    QTest::newRow("password, warnings on") << 2 << 1 << false << true << 0;
    // Two answers (the check's and the update's), one question.
    QTest::newRow("open share, dynamic DNS on") << 2 << 0 << true << true << 1;
    QTest::newRow("open share, dynamic DNS on, no server runs") << 2 << 0 << true << false << 0;
}

void TestLookups::passwordQuestion()
{
    QFETCH(int, warningMode);
    QFETCH(int, authMode);
    QFETCH(bool, dns);
    QFETCH(bool, started);
    QFETCH(int, asked);
    GuiFixture f;
    f.writeGlobal(true, [&](Configuration &c) {
        if (dns)
            withDnsAccount(c);
        c.warningMode = CheckState(warningMode);
        c.authMode = AuthMode(authMode);
        c.password = QStringLiteral("secret");
    });
    f.services.respond = [](const FakeService::Request &r) {
        if (r.path.endsWith(DnsPath))
            return Answer{200, QByteArray(120, '.') + "anna.dyn.example.net has been updated"};
        return Answer{200, openAnswer("203.0.113.7")};
    };
    Window window = f.open();
    for (int i = 0; i < 8; ++i)
        f.prompt.answers.append(QStringLiteral("No"));
    const QString question = QStringLiteral("The shared files are accessible for everyone.\nDo you want to set password?");
    const int checks = int(f.services.requestsFor(CheckPath).size());
    if (started)
        startAndLookUp(window.get(), 0);
    else
        GuiFixture::menuAction(window.get(), QStringLiteral("Reload public addressess"))->trigger();
    QTRY_VERIFY(f.services.requestsFor(CheckPath).size() > checks && GuiFixture::lookupsInFlight(window.get()) == 0);
    QTRY_VERIFY(window->addresses()->publicLine()->text().contains(QStringLiteral("http://203.0.113.7:%1").arg(f.port)));
    QCOMPARE(f.prompt.texts().count(question), asked);
    // Asked once for the start, whatever answers come later.
    window->addresses()->publicIP(GuiFixture::items(window.get()).first());
    QCOMPARE(f.prompt.texts().count(question), asked);
    GuiFixture::quit(window);
}

QTEST_MAIN(TestLookups)
#include "tst_lookups.moc"
