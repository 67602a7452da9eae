// QR codes made on this machine, read back with a real decoder from the PNG the window shows (the
// text the headless mode prints is read back by its own test). Links no widgets.

#include "qrdecoder.h"

#include "instances/qrcode.h"

#include <QTest>

class TestQrCode : public QObject
{
    Q_OBJECT

private slots:
    void readsBack_data();
    void readsBack();
};

void TestQrCode::readsBack_data()
{
    QTest::addColumn<QString>("text"); // more than 3000 bytes: too long for a code
    QTest::newRow("IPv4 with a port") << QStringLiteral("http://192.168.1.20:8080");
    QTest::newRow("IPv6 over HTTPS") << QStringLiteral("https://[2001:db8:85a3::8a2e:370:7334]:65535");
    QTest::newRow("a long path") << QStringLiteral("https://203.0.113.7:8443/") + QString(300, u'x');
    QTest::newRow("too long for a code") << QString(4000, u'x');
}

void TestQrCode::readsBack()
{
    QFETCH(QString, text);
    const QrCode code(text.toUtf8());
    QCOMPARE(code.isNull(), text.size() > 3000);
    QCOMPARE(code.terminalText().isEmpty(), code.isNull());
    const QImage shown = QImage::fromData(code.png(), "PNG");
    QCOMPARE(shown.isNull(), code.isNull());
    if (code.isNull())
        return;
    // Large enough to scan from a screen, whatever the number of modules.
    QVERIFY(shown.width() >= QrCode::MinimumSide);
    QCOMPARE(shown.width(), shown.height());
    QCOMPARE(QrDecoder::decode(shown), text);
}

QTEST_GUILESS_MAIN(TestQrCode)
#include "tst_qrcode.moc"
