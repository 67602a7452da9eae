// The internet lookups against fake services on 127.0.0.1: the open-port check with the public
// address, the dynamic-DNS update, failures and slow services, and which item an answer belongs
// to. Driven from the window, with real listeners.

#include "guifixture.h"

#include "app/eventhandler.h"
#include "app/mobilewebserver.h"
#include "config/configuration.h"
#include "instances/addresslist.h"
#include "instances/netrequest.h"
#include "instances/serveritem.h"
#include "server/webserver.h"

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

// The fake answers `path` with `answer` and every other request with an empty page.
std::function<Answer(const FakeService::Request &)> answering(const QByteArray &path, const Answer &answer)
{
    return [=](const FakeService::Request &r) { return r.path.endsWith(path) ? answer : Answer{}; };
}

// No questions, and dynamic DNS on with the account "anna".
void withDnsAccount(Configuration &c)
{
    c.warningMode = CheckState::Off;
    c.dnsEnabled = CheckState::On;
    c.dnsUser = QStringLiteral("anna");
    c.dnsPassword = QStringLiteral("s3cret");
}

QString publicLine(const QString &text)
{
    return QStringLiteral("<center>") + text + QStringLiteral("</center>");
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
    void reachability_data();
    void reachability();
    void passwordQuestion_data();
    void passwordQuestion();
    void dynamicDns_data();
    void dynamicDns();
    void queryValues_data();
    void queryValues();
    void dnsAccountIsTheGlobalOne();
    void failures_data();
    void failures();
    void slowServiceBlocksNothing();
    void answersInOppositeOrder();
    void answerForARemovedRow_data();
    void answerForARemovedRow();
    void serviceUrls_data();
    void serviceUrls();
};

void TestLookups::initTestCase()
{
    qRegisterMetaType<ServerItem *>();
}

void TestLookups::reachability_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("line"); // %1: the port
    QTest::addColumn<bool>("booked");

    QTest::newRow("open") << openAnswer("203.0.113.7") << true << "203.0.113.7"
                          << publicLine("Public address: http://203.0.113.7:%1") << true;
    QTest::newRow("IPv6") << openAnswer("2001:DB8::7") << true << "2001:db8::7"
                          << publicLine("Public address: http://[2001:db8::7]:%1") << true;
    QTest::newRow("closed, the address is still taken")
        << QByteArray(R"({"status":"error","message":"Port 8080 is closed on 203.0.113.7."})") << false
        << "203.0.113.7" << publicLine("No accessible public address") << true;
    QTest::newRow("\"success\" only before byte 9")
        << QByteArray(R"(success "status":"error","message":"Port 8080 is closed on 203.0.113.7."})") << false
        << "203.0.113.7" << publicLine("No accessible public address") << true;
    QTest::newRow("no \"status\": not the service's answer")
        << QByteArray("<html>Port 8080 is open on 203.0.113.7.</html> success") << false << "" << "" << false;
    QTest::newRow("junk where the address goes") << QByteArray(R"({"status":"success","msg":"on"})") << false << ""
                                                 << publicLine("No accessible public address") << true;
    QTest::newRow("a host name where the address goes") << openAnswer("gateway.example") << false << ""
                                                        << publicLine("No accessible public address") << true;
    QTest::newRow("markup where the address goes") << openAnswer("<b>203.0.113.7</b>") << false << ""
                                                   << publicLine("No accessible public address") << true;
    QTest::newRow("a short IPv4 form") << openAnswer("203.7") << false << ""
                                       << publicLine("No accessible public address") << true;
    QTest::newRow("\" on \" only before byte 36")
        << QByteArray(R"({"status":"success","m":" on 203.0.113.7."})") << false << ""
        << publicLine("No accessible public address") << true;
}

void TestLookups::reachability()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, reachable);
    QFETCH(QString, address);
    QFETCH(QString, line);
    QFETCH(bool, booked);
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) { c.warningMode = CheckState::Off; });
    f.services.respond = answering(CheckPath, Answer{200, answer});
    Window window = f.open();
    ServerItem *item = GuiFixture::items(window.get()).first();
    startAndLookUp(window.get(), 0);
    QTRY_VERIFY(!f.services.requestsFor(CheckPath).isEmpty() && GuiFixture::lookupsInFlight(window.get()) == 0);

    const QList<FakeService::Request> asked = f.services.requestsFor(CheckPath);
    for (const FakeService::Request &r : asked) {
        QCOMPARE(r.method, QByteArray("GET"));
        QCOMPARE(r.target, CheckPath + "?portNumber=" + QByteArray::number(f.port));
        QCOMPARE(r.userAgent, QByteArray("Kestrune_4"));
    }
    QCOMPARE(item->publicReachable, reachable);
    QCOMPARE(item->publicAddress, address);
    QCOMPARE(window->addresses()->publicLine()->text(), line.contains(u'%') ? line.arg(f.port) : line);
    // Every answer taken counts toward the traffic of the server that asked.
    QCOMPARE(item->webServer->traffic.receivedBytes, booked ? asked.size() * answer.size() : 0);
    QCOMPARE(GuiFixture::items(window.get()).at(1)->webServer->traffic.receivedBytes, 0);
    GuiFixture::quit(window);
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

void TestLookups::dynamicDns_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("updated");
    QTest::addColumn<QString>("line"); // %1: the port

    const QByteArray padding(120, '.');
    QTest::newRow("updated") << padding + "anna.dyn.example.net has been updated" << true
                             << publicLine("Public addresses: http://anna.dyn.example.net:%1, http://203.0.113.7:%1");
    QTest::newRow("the phrase only before byte 120") << "has been updated" + padding << false
                                                     << publicLine("Public address: http://203.0.113.7:%1");
    QTest::newRow("the provider refuses") << padding + "badauth" << false
                                          << publicLine("Public address: http://203.0.113.7:%1");
}

void TestLookups::dynamicDns()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, updated);
    QFETCH(QString, line);
    GuiFixture f;
    f.writeGlobal(true, withDnsAccount);
    f.services.respond = [&](const FakeService::Request &r) {
        if (r.path.endsWith(DnsPath))
            return Answer{200, answer};
        return Answer{200, openAnswer("203.0.113.7")};
    };
    Browser browser;
    Window window = f.open();
    ServerItem *item = GuiFixture::items(window.get()).first();
    startAndLookUp(window.get(), 0);
    QTRY_VERIFY(!f.services.requestsFor(DnsPath).isEmpty() && GuiFixture::lookupsInFlight(window.get()) == 0);
    QTRY_COMPARE(window->addresses()->publicLine()->text(), line.arg(f.port));
    QCOMPARE(item->dnsUpdated, updated);
    const QList<FakeService::Request> asked = f.services.requestsFor(DnsPath);
    for (const FakeService::Request &r : asked) {
        QCOMPARE(r.target, DnsPath + "?username=anna&password=s3cret");
        QCOMPARE(r.userAgent, QByteArray("Kestrune_4"));
    }
    // A failed update shows the provider's own answer in the browser.
    if (updated) {
        QVERIFY(browser.opened.isEmpty());
    } else {
        QCOMPARE(browser.opened.size(), asked.size());
        QCOMPARE(browser.opened.last().toEncoded(), f.services.base().toLatin1() + asked.last().target);
    }
    QCOMPARE(item->webServer->traffic.receivedBytes,
             asked.size() * answer.size() + f.services.requestsFor(CheckPath).size() * openAnswer("203.0.113.7").size());
    GuiFixture::quit(window);
}

void TestLookups::queryValues_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("ampersand and equals sign") << "anna" << "a&password=b";
    QTest::newRow("plus and percent") << "anna+1" << "p+q%41%";
    QTest::newRow("blank, hash and question mark") << "anna smith" << "x y#z?";
    QTest::newRow("beyond ASCII") << QStringLiteral("änna") << QStringLiteral("pässwörd€");
}

void TestLookups::queryValues()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    GuiFixture f;
    f.writeGlobal(true, [&](Configuration &c) {
        c.dnsEnabled = CheckState::On;
        c.dnsUser = user;
        c.dnsPassword = password;
    });
    Browser browser;
    Window window = f.open();
    QTRY_VERIFY(!f.services.requestsFor(DnsPath).isEmpty() && GuiFixture::lookupsInFlight(window.get()) == 0);
    const FakeService::Request r = f.services.requestsFor(DnsPath).first();
    QCOMPARE(r.query.keys(), (QList<QString>{QStringLiteral("password"), QStringLiteral("username")}));
    QCOMPARE(r.query.value(QStringLiteral("username")), user);
    QCOMPARE(r.query.value(QStringLiteral("password")), password);
    // Read the way QUrlQuery reads it, too.
    const QUrlQuery query(QString::fromLatin1(r.target.mid(r.target.indexOf('?') + 1)));
    QCOMPARE(query.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded), password);
    window.reset();
}

void TestLookups::dnsAccountIsTheGlobalOne()
{
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) {
        withDnsAccount(c);
        c.dnsPassword = QStringLiteral("global");
    });
    // A profile with an account of its own, which no settings page edits.
    Configuration work;
    work.setFileName(QStringLiteral("work"));
    work.profileName = QStringLiteral("work");
    work.dnsEnabled = CheckState::On;
    work.dnsUser = QStringLiteral("<i>bert</i>");
    work.dnsPassword = QStringLiteral("profile");
    QVERIFY(work.save());
    f.services.respond = [](const FakeService::Request &r) {
        if (r.path.endsWith(DnsPath))
            return Answer{200, QByteArray(120, '.') + "has been updated"};
        return Answer{200, openAnswer("203.0.113.7")};
    };
    Window window = f.open();
    ServerItem *item = GuiFixture::items(window.get()).first();
    item->configurationChanged(Configuration::confList.at(1));
    QCOMPARE(item->webServer->config->profileName, QStringLiteral("work"));
    f.services.requests.clear();
    startAndLookUp(window.get(), 0);
    QTRY_VERIFY(!f.services.requestsFor(DnsPath).isEmpty() && GuiFixture::lookupsInFlight(window.get()) == 0);
    for (const FakeService::Request &r : f.services.requestsFor(DnsPath)) {
        QCOMPARE(r.query.value(QStringLiteral("username")), QStringLiteral("anna"));
        QCOMPARE(r.query.value(QStringLiteral("password")), QStringLiteral("global"));
    }
    QTRY_COMPARE(window->addresses()->publicLine()->text(),
                 publicLine(QStringLiteral("Public addresses: http://anna.dyn.example.net:%1, http://203.0.113.7:%1").arg(f.port)));
    // The line is text: an account name with markup shows as typed.
    Configuration::getGlobalConfig()->dnsUser = QStringLiteral("<i>bert</i>");
    window->addresses()->init();
    QCOMPARE(window->addresses()->publicLine()->text(),
             publicLine(QStringLiteral("Public addresses: http://&lt;i&gt;bert&lt;/i&gt;.dyn.example.net:%1, http://203.0.113.7:%1").arg(f.port)));
    GuiFixture::quit(window);
}

void TestLookups::failures_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("a closed port") << "closed";
    QTest::newRow("a server error") << "500";
    QTest::newRow("the connection closed without an answer") << "dropped";
    QTest::newRow("a service that never answers") << "silent";
    QTest::newRow("a redirect") << "redirect";
}

void TestLookups::failures()
{
    QFETCH(QString, how);
    GuiFixture f;
    f.writeGlobal(true, withDnsAccount);
    // Each failing answer would otherwise read as a success.
    const QByteArray success = openAnswer("203.0.113.7") + QByteArray(120, '.') + "has been updated";
    Answer answer{200, success};
    if (how == QLatin1String("closed")) {
        f.setService("TESSALY_PORTCHECK_URL", FakeService::closedBase());
        f.setService("TESSALY_DDNS_URL", FakeService::closedBase());
    } else if (how == QLatin1String("500")) {
        answer.status = 500;
    } else if (how == QLatin1String("dropped")) {
        answer.close = true;
    } else if (how == QLatin1String("silent")) {
        answer.hold = true;
    } else {
        answer.status = 302;
        answer.headers = "Location: " + f.services.base().toLatin1() + "/elsewhere\r\n";
    }
    f.services.respond = [&](const FakeService::Request &) { return answer; };
    Browser browser;
    NetRequest::setTimeout(300);
    Window window = f.open();
    QSignalSpy noNet(&window->addresses()->netRequest, &NetRequest::noNet);
    ServerItem *item = GuiFixture::items(window.get()).first();
    startAndLookUp(window.get(), 0);
    QTRY_VERIFY(!noNet.isEmpty());
    QTRY_VERIFY(EventHandler::statusWidget->text().contains(QStringLiteral("No internet connection")));
    QTRY_COMPARE(GuiFixture::lookupsInFlight(window.get()), 0);
    QVERIFY(!item->publicReachable);
    QVERIFY(item->publicAddress.isEmpty());
    QVERIFY(!item->dnsUpdated);
    QVERIFY(!window->addresses()->publicLine()->text().contains(QStringLiteral("Public address")));
    // The failed update is shown as the provider's answer would be.
    QVERIFY(!browser.opened.isEmpty());
    QCOMPARE(browser.opened.last().path(), QString::fromLatin1(DnsPath));
    // Nothing was asked anywhere else.
    for (const FakeService::Request &r : std::as_const(f.services.requests))
        QVERIFY2(r.path == CheckPath || r.path == DnsPath, r.target.constData());
    GuiFixture::quit(window);
}

void TestLookups::slowServiceBlocksNothing()
{
    GuiFixture f;
    f.writeFile(f.share() + QStringLiteral("/a.txt"), "A");
    f.writeGlobal(true, [](Configuration &c) { c.warningMode = CheckState::Off; });
    f.services.respond = [](const FakeService::Request &) { return Answer{200, {}, {}, true}; };
    NetRequest::setTimeout(1500);
    Window window = f.open();
    window->fileOrDirSelected(f.share());
    ServerItem *item = GuiFixture::items(window.get()).first();
    startAndLookUp(window.get(), 0);
    QTRY_VERIFY(f.services.held() > 0);
    // The window's own server answers while the lookup waits.
    QByteArray body;
    QCOMPARE(GuiFixture::get(item->getUrl() + "/a.txt", &body), 200);
    QCOMPARE(body, QByteArray("A"));
    QVERIFY(GuiFixture::lookupsInFlight(window.get()) > 0);
    QTRY_VERIFY(EventHandler::statusWidget->text().contains(QStringLiteral("No internet connection")));
    QTRY_COMPARE(GuiFixture::lookupsInFlight(window.get()), 0);
    QVERIFY(!item->publicReachable);
    GuiFixture::quit(window);
}

void TestLookups::answersInOppositeOrder()
{
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) { c.warningMode = CheckState::Off; });
    f.services.respond = [](const FakeService::Request &) { return Answer{200, {}, {}, true}; };
    Window window = f.open();
    const QList<ServerItem *> items = GuiFixture::items(window.get());
    items.at(1)->setPort(GuiFixture::freePort());
    NetRequest &lookups = window->addresses()->netRequest;
    QSignalSpy answered(&lookups, &NetRequest::publicIP);
    lookups.getIP(items.at(0));
    lookups.getIP(items.at(1));
    QTRY_COMPARE(f.services.held(), 2);
    // Each request names its port: the answers go back the other way round.
    QList<int> order;
    for (const ServerItem *item : items) {
        for (int i = 0; i < f.services.requests.size(); ++i) {
            if (f.services.requests.at(i).query.value(QStringLiteral("portNumber")) == QString::number(item->webServer->port))
                order.append(i);
        }
    }
    QCOMPARE(order.size(), 2);
    f.services.release(order.at(1), Answer{200, openAnswer("198.51.100.2")});
    QTRY_COMPARE(answered.size(), 1);
    f.services.release(order.at(0), Answer{200, openAnswer("198.51.100.1")});
    QTRY_COMPARE(answered.size(), 2);
    QCOMPARE(answered.at(0).at(0).value<ServerItem *>(), items.at(1));
    QCOMPARE(answered.at(1).at(0).value<ServerItem *>(), items.at(0));
    QCOMPARE(items.at(0)->publicAddress, QStringLiteral("198.51.100.1"));
    QCOMPARE(items.at(1)->publicAddress, QStringLiteral("198.51.100.2"));
    const qint64 size = openAnswer("198.51.100.1").size();
    QCOMPARE(items.at(0)->webServer->traffic.receivedBytes, size);
    QCOMPARE(items.at(1)->webServer->traffic.receivedBytes, size);
    window.reset();
}

void TestLookups::answerForARemovedRow_data()
{
    QTest::addColumn<bool>("fails");
    QTest::newRow("an answer") << false;
    QTest::newRow("a failure") << true;
}

void TestLookups::answerForARemovedRow()
{
    QFETCH(bool, fails);
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) { c.warningMode = CheckState::Off; });
    f.services.respond = [](const FakeService::Request &) { return Answer{200, {}, {}, true}; };
    Window window = f.open();
    AddressList *list = window->addresses();
    QSignalSpy answered(&list->netRequest, &NetRequest::publicIP);
    QSignalSpy noNet(&list->netRequest, &NetRequest::noNet);
    startAndLookUp(window.get(), 0);
    QTRY_VERIFY(f.services.held() > 0);
    GuiFixture::contextAction(window.get(), 0, QStringLiteral("Remove"));
    QCOMPARE(list->getServerCount(), 1);
    ServerItem *left = GuiFixture::items(window.get()).first();
    // What was asked before the row went, and what is still on its way.
    const Answer answer = fails ? Answer{200, {}, {}, false, true} : Answer{200, openAnswer("203.0.113.7")};
    f.services.respond = [&](const FakeService::Request &) { return answer; };
    for (int i = 0; i < f.services.requests.size(); ++i)
        f.services.release(i, answer);
    QTRY_COMPARE(GuiFixture::lookupsInFlight(window.get()), 0);
    QCOMPARE(answered.size(), 0);
    QCOMPARE(noNet.size(), 0);
    QVERIFY(left->publicAddress.isEmpty());
    QCOMPARE(left->webServer->traffic.receivedBytes, 0);
    QVERIFY(list->publicLine()->text().isEmpty());
    GuiFixture::quit(window);
}

void TestLookups::serviceUrls_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("environment"); // null: not set
    QTest::addColumn<QString>("stored");      // null: not stored
    QTest::addColumn<QString>("expected");

    const QString check = QStringLiteral("TESSALY_PORTCHECK_URL");
    const QString checkKey = QStringLiteral("lookups/portCheckUrl");
    QTest::newRow("check: off by default") << check << checkKey << QString() << QString() << "";
    QTest::newRow("check: the settings key") << check << checkKey << QString() << "http://127.0.0.1:9/"
                                             << "http://127.0.0.1:9/";
    QTest::newRow("check: the environment wins") << check << checkKey << "http://127.0.0.1:7" << "http://127.0.0.1:9"
                                                 << "http://127.0.0.1:7";
    QTest::newRow("check: switched off") << check << checkKey << "" << QString() << "";
    QTest::newRow("DNS: off by default") << "TESSALY_DDNS_URL" << "lookups/dnsUrl" << QString() << QString() << "";
    QTest::newRow("DNS domain: none by default") << "TESSALY_DDNS_DOMAIN" << "lookups/dnsDomain" << QString()
                                                << QString() << "";
    QTest::newRow("DNS domain: the settings key") << "TESSALY_DDNS_DOMAIN" << "lookups/dnsDomain" << QString()
                                                  << "dyn.example.net" << "dyn.example.net";
    QTest::newRow("QR: made here by default") << "TESSALY_QR_URL" << "lookups/qrUrl" << QString() << QString() << "";
    QTest::newRow("QR: the settings key") << "TESSALY_QR_URL" << "lookups/qrUrl" << QString() << "http://127.0.0.1:9"
                                          << "http://127.0.0.1:9";
}

void TestLookups::serviceUrls()
{
    QFETCH(QString, variable);
    QFETCH(QString, key);
    QFETCH(QString, environment);
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    GuiFixture f;
    QCoreApplication::setOrganizationName(QStringLiteral("Tessaly"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, f.home.path() + QStringLiteral("/.config"));
    if (!stored.isNull())
        QSettings().setValue(key, stored);
    f.setService(variable.toLatin1().constData(), environment);
    const QHash<QString, std::function<QString()>> lookups = {
        {QStringLiteral("TESSALY_PORTCHECK_URL"), &NetRequest::portCheckUrl},
        {QStringLiteral("TESSALY_DDNS_URL"), &NetRequest::dnsUrl},
        {QStringLiteral("TESSALY_DDNS_DOMAIN"), &NetRequest::dnsDomain},
        {QStringLiteral("TESSALY_QR_URL"), &NetRequest::qrUrl},
    };
    QCOMPARE(lookups.value(variable)(), expected);
    if (variable == QLatin1String("TESSALY_PORTCHECK_URL") && expected.isEmpty()) {
        // Switched off: a server that starts asks nobody.
        f.writeGlobal(true);
        Window window = f.open();
        startAndLookUp(window.get(), 0);
        QCOMPARE(GuiFixture::lookupsInFlight(window.get()), 0);
        GuiFixture::quit(window);
    }
}

QTEST_MAIN(TestLookups)
#include "tst_lookups.moc"
