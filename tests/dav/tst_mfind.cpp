#include "requests.h"
#include "testserver.h"

#include "server/serverthread.h"
#include "web/mfind.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

// The applet's listing service: plain CR LF records, byte for byte.
class tst_Mfind : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listing_data();
    void listing();
    void patternWithManyStarsIsAnsweredQuickly();
    void listingOfManyFilesGoesOutInSlices();

private:
    QByteArray list(const QByteArray &target);

    TestServer s;
};

namespace {
// 2010-01-01 12:00:00 UTC, 14:00 at UTC+2.
constexpr qint64 Noon = 1262347200;
// 13:02:05 UTC, 15:02:05 at UTC+2.
constexpr qint64 Later = Noon + 3725;
const QByteArray N = QByteArray::number(Noon);
const QByteArray L = QByteArray::number(Later);

QByteArray file(const QByteArray &path, const QByteArray &size, const QByteArray &time)
{
    return path + "\r\n" + size + "\r\n" + time + "\r\n\r\n";
}

QByteArray folder(const QByteArray &path)
{
    return path + "/\r\n" + N + "\r\n";
}
} // namespace

void tst_Mfind::initTestCase()
{
    QVERIFY(s.start());
    // Picture references are the thumbnail manager's; here every reference line is empty.
    s.config.showImages = CheckState::Off;
    QVERIFY(s.write(QStringLiteral("Photos/a.jpg"), QByteArray(100000, 'a')));
    QVERIFY(s.write(QStringLiteral("Photos/b.JPG"), QByteArray(500, 'b')));
    QVERIFY(s.write(QStringLiteral("Photos/.hid"), "h"));
    QVERIFY(s.write(QStringLiteral("Photos/Old/c.txt"), "0123456789"));
    QVERIFY(s.write(QStringLiteral("Photos/bad\nname.txt"), "lf"));
    QVERIFY(s.write(QStringLiteral("Photos/cr\rname.txt"), "cr"));
    QFile big(s.path(QStringLiteral("Photos/big.bin")));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(qint64(3) << 30)); // sparse: no disk space used
    big.close();
    QVERIFY(QFile::link(s.path(QStringLiteral("Photos")), s.path(QStringLiteral("Photos/loop"))));
    // Patterns are not regular expressions.
    for (const char *name : {"Pat/ababa", "Pat/a[x", "Pat/a.(b)+.txt"})
        QVERIFY(s.write(QString::fromLatin1(name), "x") && s.setModified(QString::fromLatin1(name), Noon));
    for (const char *name : {"Photos/b.JPG", "Photos/.hid", "Photos/Old/c.txt", "Photos/Old", "Photos/big.bin",
                             "Photos/bad\nname.txt", "Photos/cr\rname.txt", "Photos"})
        QVERIFY(s.setModified(QString::fromUtf8(name), Noon));
    QVERIFY(s.setModified(QStringLiteral("Photos/a.jpg"), Later));
}

QByteArray tst_Mfind::list(const QByteArray &target)
{
    return s.rawExchange("PROPFIND " + target + " HTTP/1.1\r\nUser-Agent: mc\r\nConnection: close\r\n\r\n");
}

void tst_Mfind::listing_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray hid = file("/Photos/.hid", "1", N);
    const QByteArray a = file("/Photos/a.jpg", "100000", L);
    const QByteArray b = file("/Photos/b.JPG", "500", N);
    const QByteArray big = file("/Photos/big.bin", "3221225472", N);
    const QByteArray c = file("/Photos/Old/c.txt", "10", N);
    const QByteArray folders = folder("/Photos/loop") + folder("/Photos/Old");
    const QByteArray end = "\r\n";

    // Names with a line break are left out; folders and files mixed, names without case.
    QTest::addRow("folder") << QByteArray("/Photos/") << hid + a + b + big + folders + end;
    QTest::addRow("recursive: files of sub-folders, links not followed") << QByteArray("/Photos/?r=1")
                                                                         << hid + a + b + big + c + end;
    QTest::addRow("one file: no name, no end line") << QByteArray("/Photos/a.jpg") << ("100000\r\n" + L + "\r\n\r\n");
    QTest::addRow("missing target") << QByteArray("/Nothing/") << end;
    QTest::addRow("pattern without case") << QByteArray("/Photos/?p=*.jpg") << a + b + folders + end;
    QTest::addRow("pattern anywhere in the name") << QByteArray("/Photos/?p=b") << b + big + folders + end;
    QTest::addRow("pattern, recursive") << QByteArray("/Photos/?p=*.txt&r=1") << c + end;
    QTest::addRow("smaller than 1000") << QByteArray("/Photos/?s1=1000&s1o=%3C") << hid + b + folders + end;
    QTest::addRow("larger than 3000000000: 64-bit")
        << QByteArray("/Photos/?s1=3000000000&s1o=%3E") << big + folders + end;
    QTest::addRow("after a date") << QByteArray("/Photos/?t=201001011400&to=%3E") << a + folders + end;
    QTest::addRow("before a date, one-digit minutes") << QByteArray("/Photos/?t=20100101142&to=%3C")
                                                      << hid + b + big + folders + end;
    QTest::addRow("same hour") << QByteArray("/Photos/?t=201001011500&to==&tu=2") << a + folders + end;
    QTest::addRow("unparsable date is -1: everything is later")
        << QByteArray("/Photos/?t=soon&to=%3E") << hid + a + b + big + folders + end;
    QTest::addRow("pattern pieces do not overlap") << QByteArray("/Pat/?p=aba*aba") << end;
    QTest::addRow("pattern: a lone bracket is a character") << QByteArray("/Pat/?p=%5Bx") << file("/Pat/a[x", "1", N) + end;
    QTest::addRow("pattern: negated set") << QByteArray("/Pat/?p=a%5B!.%5D")
                                          << file("/Pat/a[x", "1", N) + file("/Pat/ababa", "1", N) + end;
    QTest::addRow("pattern: expression characters are plain")
        << QByteArray("/Pat/?p=a.(b)%2B") << file("/Pat/a.(b)+.txt", "1", N) + end;
}

void tst_Mfind::listing()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, expected);
    if (QDateTime::currentDateTime().offsetFromUtc() != 7200)
        QSKIP("needs TZ=UTC-2 in the environment (set by CTest)");
    QCOMPARE(list(target), expected);
}

void tst_Mfind::patternWithManyStarsIsAnsweredQuickly()
{
    // Long names made of one letter (in either case), and a pattern that almost matches each.
    for (int length = 100; length <= 250; ++length) {
        QVERIFY(s.write(QStringLiteral("Long/") + QString(length, u'a'), "x"));
        QVERIFY(s.write(QStringLiteral("Long/A") + QString(length, u'a'), "x"));
    }
    QByteArray pattern;
    for (int i = 0; i < 30; ++i)
        pattern += "*a";
    pattern += "[!a]";
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(list("/Long/?p=" + pattern.toPercentEncoding()), QByteArray("\r\n"));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
}

void tst_Mfind::listingOfManyFilesGoesOutInSlices()
{
    // 60,000 files: 30,000 in one folder, 1,000 in each of 30 others. Links to one file, quick
    // to make.
    constexpr int Folders = 31;
    constexpr int Files = 60000;
    QVERIFY(s.write(QStringLiteral("Many/one.txt"), "x"));
    const QByteArray one = QFile::encodeName(s.path(QStringLiteral("Many/one.txt")));
    for (int d = 0; d < Folders; ++d) {
        const QString folder = QStringLiteral("Many/d%1").arg(d, 2, 10, QLatin1Char('0'));
        QVERIFY(s.mkdir(folder));
        for (int f = 0; f < (d == 0 ? 30000 : 1000); ++f) {
            const QByteArray name = QFile::encodeName(s.path(folder + QStringLiteral("/f%1.txt").arg(f, 5, 10, QLatin1Char('0'))));
            QCOMPARE(::link(one.constData(), name.constData()), 0);
        }
    }
    QVERIFY(QFile::remove(s.path(QStringLiteral("Many/one.txt"))));
    const auto cleanup = qScopeGuard([this] { QDir(s.path(QStringLiteral("Many"))).removeRecursively(); });

    // The client of the listing reads nothing at first.
    const qsizetype before = s.server->threads.size();
    const int fd = rawConnect(s.port(), 16 * 1024);
    QVERIFY(fd >= 0);
    const auto closeClient = qScopeGuard([fd] { ::close(fd); });
    QVERIFY(HttpClient::waitUntil([&] { return s.server->threads.size() > before; }));
    // So that the system holds little of the listing either.
    Socket &listing = s.server->threads.last()->request.socket;
    listing.setSendBufferSize(16 * 1024);
    const QByteArray request = "PROPFIND /Many/?r=1 HTTP/1.1\r\nUser-Agent: mc\r\n\r\n";
    QCOMPARE(::send(fd, request.constData(), size_t(request.size()), 0), ssize_t(request.size()));
    QVERIFY(HttpClient::waitUntil([&] { return listing.bytesQueued() > 0; }));
    // Made no faster than it is taken: what waits for the client stays small.
    qint64 most = 0;
    (void)HttpClient::waitUntil([&] {
        most = qMax(most, listing.bytesQueued());
        return false;
    }, 500);
    QVERIFY2(most <= Socket::ProducedQueueLimit + Mfind::SliceBytes + 4096, qPrintable(QString::number(most)));

    // Now it reads as fast as it can: every file, each record whole, the end line once.
    QByteArray received;
    QVERIFY(HttpClient::waitUntil([&] {
        char piece[65536];
        for (ssize_t n; (n = ::recv(fd, piece, sizeof piece, MSG_DONTWAIT)) > 0;)
            received.append(piece, n);
        return received.endsWith("\r\n\r\n\r\n");
    }, 60000));
    QCOMPARE(received.count("\r\n"), Files * 4 + 1);
    QVERIFY(received.startsWith("/Many/d00/f00000.txt\r\n1\r\n"));
    QVERIFY(received.contains("\r\n\r\n/Many/d30/f00999.txt\r\n1\r\n"));
}

QTEST_GUILESS_MAIN(tst_Mfind)
#include "tst_mfind.moc"
