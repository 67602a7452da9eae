// QR codes made on this machine, read back with a real decoder: as a picture, as the PNG the
// window shows and as the text the headless mode prints. Links no widgets.

#include "qrdecoder.h"

#include "instances/qrcode.h"

#include <QTest>

class TestQrCode : public QObject
{
    Q_OBJECT

private slots:
    void readsBack_data();
    void readsBack();
    void tooLongForACode();
};

void TestQrCode::readsBack_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("IPv4 with a port") << QStringLiteral("http://192.168.1.20:8080");
    QTest::newRow("HTTPS on its own port") << QStringLiteral("https://192.168.1.20");
    QTest::newRow("IPv6 over HTTPS") << QStringLiteral("https://[2001:db8:85a3::8a2e:370:7334]:65535");
    QTest::newRow("a long path") << QStringLiteral("https://203.0.113.7:8443/") + QString(300, u'x');
}

void TestQrCode::readsBack()
{
    QFETCH(QString, text);
    const QrCode code(text.toUtf8());
    QVERIFY(!code.isNull());

    const QByteArray png = code.png();
    const QImage shown = QImage::fromData(png, "PNG");
    QVERIFY(!shown.isNull());
    // Large enough to scan from a screen, whatever the number of modules.
    QVERIFY(shown.width() >= QrCode::MinimumSide);
    QCOMPARE(shown.width(), shown.height());
    QCOMPARE(QrDecoder::decode(shown), text);

    const QString terminal = code.terminalText();
    QCOMPARE(terminal.count(u'\n'), (code.size() + 2 * QrCode::QuietZone + 1) / 2);
    QCOMPARE(QrDecoder::decode(QrDecoder::fromTerminal(terminal)), text);
}

void TestQrCode::tooLongForACode()
{
    const QrCode code(QByteArray(4000, 'x'));
    QVERIFY(code.isNull());
    QVERIFY(code.png().isEmpty());
    QVERIFY(code.terminalText().isEmpty());
}

QTEST_GUILESS_MAIN(TestQrCode)
#include "tst_qrcode.moc"
