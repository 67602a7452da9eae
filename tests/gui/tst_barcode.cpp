// The QR code of a server's URL as a person gets it from the window: the choice of the URL, the
// code made on this machine (read back with a real decoder), and the chart service with its
// answers when one is configured.

#include "guifixture.h"
#include "qrdecoder.h"

#include "app/mobilewebserver.h"
#include "config/configuration.h"
#include "instances/addresslist.h"
#include "instances/netrequest.h"
#include "instances/qrcode.h"
#include "instances/serveritem.h"
#include "server/webserver.h"

#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QtEndian>

using Window = std::unique_ptr<MobileWebServer>;
using Answer = FakeService::Answer;

namespace {

const QString SelectTitle = QStringLiteral("Select address for QR code");

QByteArray openAnswer(quint16 port)
{
    return R"({"status":"success","message":"Port )" + QByteArray::number(port) + R"( is open on 203.0.113.7."})";
}

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xffffffffu;
    for (const char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A PNG of the code of `text`, exactly `size` bytes long: a comment fills it up.
QByteArray pngOfSize(const QString &text, int size)
{
    QByteArray png = QrCode(text.toUtf8()).png();
    const qsizetype fill = size - png.size() - 12;
    if (fill < 9)
        qFatal("the code's PNG is too large for %d bytes", size);
    const QByteArray chunk = "tEXt" + QByteArray("Comment\0", 8) + QByteArray(fill - 8, 'x');
    QByteArray framed(4, '\0');
    qToBigEndian(quint32(chunk.size() - 4), framed.data());
    framed += chunk;
    QByteArray crc(4, '\0');
    qToBigEndian(crc32(chunk), crc.data());
    framed += crc;
    png.insert(png.size() - 12, framed); // before IEND
    return png;
}

// The QR code box the window shows last, or nullptr.
QMessageBox *qrBox(const ScriptedPrompt &prompt)
{
    for (qsizetype i = prompt.shown.size() - 1; i >= 0; --i) {
        auto *box = qobject_cast<QMessageBox *>(prompt.shown.at(i).data());
        if (box && box->windowTitle() == QLatin1String("QR code"))
            return box;
    }
    return nullptr;
}

const ScriptedPrompt::Asked *selectDialog(const ScriptedPrompt &prompt)
{
    for (const ScriptedPrompt::Asked &a : prompt.asked) {
        if (a.title == SelectTitle)
            return &a;
    }
    return nullptr;
}

} // namespace

class TestBarcode : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void localCode_data();
    void localCode();
    void chartService_data();
    void chartService();
};

void TestBarcode::initTestCase()
{
    QString why;
    QVERIFY2(QrDecoder::isAvailable(&why), qPrintable(why));
}

void TestBarcode::localCode_data()
{
    QTest::addColumn<QList<int>>("running");
    QTest::addColumn<bool>("secure");
    QTest::addColumn<bool>("lookedUp");    // the public address (and DNS name) known
    QTest::addColumn<QStringList>("entries"); // row0, row1, public, dns
    QTest::addColumn<QString>("answer");      // an entry of `entries`, or a button
    QTest::addColumn<QString>("coded");       // an entry; empty: no code shown

    QTest::newRow("one running server: no question") << QList<int>{0} << false << false << QStringList() << ""
                                                     << "row0";
    QTest::newRow("one running HTTPS server") << QList<int>{1} << true << false << QStringList() << "" << "row1";
    QTest::newRow("no running server") << QList<int>{} << false << false << QStringList() << "Cancel" << "";
    QTest::newRow("two running, the second chosen") << QList<int>{0, 1} << false << false
                                                    << QStringList{"row0", "row1"} << "row1" << "row1";
    QTest::newRow("two running, cancelled") << QList<int>{0, 1} << false << false << QStringList{"row0", "row1"}
                                            << "Cancel" << "";
    QTest::newRow("the public and the DNS address") << QList<int>{0} << false << true
                                                    << QStringList{"row0", "public", "dns"} << "dns" << "dns";
}

void TestBarcode::localCode()
{
    QFETCH(QList<int>, running);
    QFETCH(bool, secure);
    QFETCH(bool, lookedUp);
    QFETCH(QStringList, entries);
    QFETCH(QString, answer);
    QFETCH(QString, coded);
    GuiFixture f;
    f.writeGlobal(true, [&](Configuration &c) {
        c.warningMode = CheckState::Off;
        if (secure) {
            c.sslMode = CheckState::On;
            c.keyFile = GuiFixture::buildDir() + QStringLiteral("/ssl.pem");
        }
        if (lookedUp) {
            c.dnsEnabled = CheckState::On;
            c.dnsUser = QStringLiteral("anna");
            c.dnsPassword = QStringLiteral("s3cret");
        }
    });
    f.services.respond = [&](const FakeService::Request &r) {
        if (!lookedUp)
            return Answer{};
        if (r.path.endsWith("dynip.cgi"))
            return Answer{200, QByteArray(120, '.') + "has been updated"};
        return Answer{200, openAnswer(f.port)};
    };
    Window window = f.open();
    const QList<ServerItem *> items = GuiFixture::items(window.get());
    for (int row : running)
        GuiFixture::pressCell(window->addresses()->currentTable(), row, 2);
    const QString port = QString::number(f.port);
    const QMap<QString, QString> urls = {
        {QStringLiteral("row0"), QString::fromLatin1(items.at(0)->getUrl())},
        {QStringLiteral("row1"), QString::fromLatin1(items.at(1)->getUrl())},
        {QStringLiteral("public"), QStringLiteral("http://203.0.113.7:") + port},
        {QStringLiteral("dns"), QStringLiteral("http://anna.dyn.example.net:") + port},
    };
    if (secure)
        QVERIFY(urls.value(QStringLiteral("row1")).startsWith(QLatin1String("https://")));
    if (lookedUp) {
        GuiFixture::menuAction(window.get(), QStringLiteral("Reload public addressess"))->trigger();
        QTRY_VERIFY(window->addresses()->publicLine()->text().contains(QStringLiteral("Public addresses")));
    }
    f.prompt.answers = {urls.value(answer, answer)};
    f.prompt.asked.clear();
    f.services.requests.clear();

    GuiFixture::menuAction(window.get(), QStringLiteral("Barcode"))->trigger();
    const ScriptedPrompt::Asked *asked = selectDialog(f.prompt);
    if (running.size() == 1 && !lookedUp) {
        QVERIFY(!asked);
    } else {
        QVERIFY(asked);
        QStringList shown;
        for (const QString &e : std::as_const(entries))
            shown.append(urls.value(e));
        QCOMPARE(asked->entries, shown);
        QCOMPARE(asked->buttons, QStringList{QStringLiteral("Cancel")});
        QCOMPARE(asked->text, running.isEmpty() ? QStringLiteral("Start server before use QR code.") : QString());
    }
    QMessageBox *box = qrBox(f.prompt);
    if (coded.isEmpty()) {
        QVERIFY(!box);
    } else {
        QVERIFY(box);
        QString error;
        QCOMPARE(QrDecoder::decode(box->iconPixmap().toImage(), &error), urls.value(coded));
        // Made here: nothing was asked of any service, and no talk of the internet.
        QVERIFY(f.services.requestsFor("/chart").isEmpty());
        QVERIFY(window->statusBar()->currentMessage().isEmpty());
    }
    GuiFixture::quit(window);
}

void TestBarcode::chartService_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("shown");
    QTest::newRow("a 999-byte PNG") << "png" << 999 << true;
    QTest::newRow("a 998-byte PNG") << "png" << 998 << false;
    QTest::newRow("2000 bytes that are no PNG") << "junk" << 2000 << false;
    QTest::newRow("a PNG on an error page") << "404" << 1200 << false;
    QTest::newRow("a closed port") << "closed" << 0 << false;
    QTest::newRow("a service that never answers") << "silent" << 0 << false;
}

void TestBarcode::chartService()
{
    QFETCH(QString, how);
    QFETCH(int, size);
    QFETCH(bool, shown);
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) { c.warningMode = CheckState::Off; });
    f.setService("TESSALY_QR_URL", how == QLatin1String("closed") ? FakeService::closedBase() : f.services.base());
    NetRequest::setTimeout(300);
    Window window = f.open();
    const QList<ServerItem *> items = GuiFixture::items(window.get());
    GuiFixture::pressCell(window->addresses()->currentTable(), 0, 2);
    // The public address is known: the chart request goes out while a server's lookups are booked.
    f.services.respond = [](const FakeService::Request &) { return Answer{200, openAnswer(0)}; };
    GuiFixture::menuAction(window.get(), QStringLiteral("Reload public addressess"))->trigger();
    QTRY_VERIFY(items.at(0)->publicReachable && GuiFixture::lookupsInFlight(window.get()) == 0);
    const qint64 booked = items.at(0)->webServer->traffic.receivedBytes;
    QVERIFY(booked > 0);

    const QString url = QString::fromLatin1(items.at(0)->getUrl());
    Answer answer{200, pngOfSize(url, qMax(size, 999))};
    if (how == QLatin1String("png"))
        answer.body = pngOfSize(url, size);
    else if (how == QLatin1String("junk"))
        answer.body = QByteArray(size, 'J');
    else if (how == QLatin1String("404"))
        answer.status = 404;
    else if (how == QLatin1String("silent"))
        answer.hold = true;
    if (how == QLatin1String("png"))
        QCOMPARE(answer.body.size(), size);
    f.services.respond = [&](const FakeService::Request &) { return answer; };
    f.services.requests.clear();
    f.prompt.answers = {url};
    GuiFixture::menuAction(window.get(), QStringLiteral("Barcode"))->trigger();
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Get small qrcode image from internet"));
    QVERIFY(selectDialog(f.prompt)); // the local and the public URL

    if (shown) {
        QTRY_VERIFY(qrBox(f.prompt));
        QString error;
        QCOMPARE(QrDecoder::decode(qrBox(f.prompt)->iconPixmap().toImage(), &error), url);
    } else {
        QTRY_COMPARE(window->statusBar()->currentMessage(), QStringLiteral("Get qrcode image from internet failed"));
        QVERIFY(!qrBox(f.prompt));
    }
    if (how != QLatin1String("closed")) {
        const QList<FakeService::Request> asked = f.services.requestsFor("/chart");
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().target, "/chart?cht=qr&chs=350x350&chld=L&choe=UTF-8&chl=" + QUrl::toPercentEncoding(url));
        QCOMPARE(asked.first().query.value(QStringLiteral("chl")), url);
        QCOMPARE(asked.first().userAgent, QByteArray("Kestrune_4"));
    }
    // A QR answer counts toward no server's traffic.
    QCOMPARE(items.at(0)->webServer->traffic.receivedBytes, booked);
    QCOMPARE(items.at(1)->webServer->traffic.receivedBytes, 0);
    GuiFixture::quit(window);
}

QTEST_MAIN(TestBarcode)
#include "tst_barcode.moc"
