// The plain transport over a real loopback connection: what the peer sends arrives in order and
// its close is seen, the parts of a write leave in order and a full kernel buffer is waited out
// with one announcement, files leave through the kernel, and the addresses are the connection's.

#include "server/plaintransport.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// Accepts one connection and keeps its descriptor for the transport under test.
class Listener : public QTcpServer
{
public:
    qintptr accepted = -1;

protected:
    void incomingConnection(qintptr descriptor) override { accepted = descriptor; }
};

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char('a' + (i * 7 + i / 251) % 26);
    return bytes;
}

} // namespace

class TestPlainTransport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readHandsOutWhatThePeerSent_data();
    void readHandsOutWhatThePeerSent();
    void peerCloseEndsReading_data();
    void peerCloseEndsReading();
    void partsLeaveInOrderAndAFullKernelIsWaitedOut_data();
    void partsLeaveInOrderAndAFullKernelIsWaitedOut();
    void sendFileSendsTheRange_data();
    void sendFileSendsTheRange();
    void addressesAreTheConnections();

private:
    bool connectPair();
    // Reads from the transport until `want` bytes came (or it fails).
    QByteArray drain(qint64 want, qint64 piece);

    Listener *listener = nullptr;
    QTcpSocket *client = nullptr;
    std::unique_ptr<PlainTransport> transport;
    // What the peer has read.
    QByteArray received;
};

void TestPlainTransport::init()
{
    listener = new Listener;
    client = new QTcpSocket;
    received.clear();
}

void TestPlainTransport::cleanup()
{
    transport.reset();
    delete client;
    client = nullptr;
    delete listener;
    listener = nullptr;
}

bool TestPlainTransport::connectPair()
{
    if (!listener->listen(QHostAddress::LocalHost))
        return false;
    client->connectToHost(QHostAddress::LocalHost, listener->serverPort());
    if (!client->waitForConnected(5000))
        return false;
    if (!QTest::qWaitFor([this] { return listener->accepted >= 0; }, 5000))
        return false;
    // The peer takes whatever arrives, at each turn of the event loop.
    connect(client, &QIODevice::readyRead, this, [this] { received += client->readAll(); });
    transport = std::make_unique<PlainTransport>(listener->accepted);
    return transport->isOpen();
}

QByteArray TestPlainTransport::drain(qint64 want, qint64 piece)
{
    QByteArray got;
    QByteArray buffer(int(piece), Qt::Uninitialized);
    QSignalSpy readable(transport.get(), &Transport::readable);
    for (int turns = 0; got.size() < want && turns < 1000; ++turns) {
        const qint64 n = transport->read(buffer.data(), piece);
        if (n < 0)
            break;
        if (n == 0 && !readable.wait(5000))
            break;
        got.append(buffer.constData(), n);
    }
    return got;
}

void TestPlainTransport::readHandsOutWhatThePeerSent_data()
{
    QTest::addColumn<QList<int>>("pieces");
    QTest::addColumn<int>("readSize");

    QTest::addRow("one small piece") << QList<int>{40} << 2048;
    QTest::addRow("several pieces, one read each") << QList<int>{5, 300, 1, 2048} << 2048;
    QTest::addRow("more than one read holds") << QList<int>{10000} << 2048;
    QTest::addRow("reads of one byte") << QList<int>{3, 4} << 1;
    QTest::addRow("a megabyte") << QList<int>{1 << 20} << 64 * 1024;
}

void TestPlainTransport::readHandsOutWhatThePeerSent()
{
    QFETCH(QList<int>, pieces);
    QFETCH(int, readSize);
    QVERIFY(connectPair());

    QByteArray sent;
    for (const int size : pieces) {
        const QByteArray piece = pattern(size + 1).right(size);
        sent += piece;
        client->write(piece);
        client->flush();
    }
    QCOMPARE(drain(sent.size(), readSize), sent);
    QVERIFY(transport->isOpen());
    // Nothing more waits: a read says so without failing.
    char byte;
    QCOMPARE(transport->read(&byte, 1), qint64(0));
}

void TestPlainTransport::peerCloseEndsReading_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("reset");

    QTest::addRow("close, nothing sent") << QByteArray() << false;
    QTest::addRow("close after a request") << QByteArray("GET / HTTP/1.1\r\n\r\n") << false;
    QTest::addRow("reset, nothing sent") << QByteArray() << true;
}

void TestPlainTransport::peerCloseEndsReading()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, reset);
    QVERIFY(connectPair());

    if (!before.isEmpty()) {
        client->write(before);
        client->flush();
    }
    if (reset) {
        // No lingering: the close resets the connection.
        const linger off = {1, 0};
        QCOMPARE(::setsockopt(int(client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &off, sizeof off), 0);
        client->abort();
    } else {
        client->disconnectFromHost();
    }
    // The bytes sent before the close are handed out first, then the close fails the read.
    QCOMPARE(drain(before.size() + 1, 2048), before);
    char byte;
    QCOMPARE(transport->read(&byte, 1), Transport::Failed);
    QVERIFY(!transport->isOpen());
}

void TestPlainTransport::partsLeaveInOrderAndAFullKernelIsWaitedOut_data()
{
    QTest::addColumn<QList<int>>("parts");
    QTest::addColumn<bool>("more");

    QTest::addRow("head and body") << QList<int>{120, 4096} << false;
    QTest::addRow("an empty part between") << QList<int>{17, 0, 33} << false;
    QTest::addRow("four parts, more to follow") << QList<int>{1, 2, 3, 4} << true;
    // Far more than a small send buffer takes: the writes stop short and wait for room.
    QTest::addRow("two megabytes in two parts") << QList<int>{1 << 20, 1 << 20} << false;
}

void TestPlainTransport::partsLeaveInOrderAndAFullKernelIsWaitedOut()
{
    QFETCH(QList<int>, parts);
    QFETCH(bool, more);
    QVERIFY(connectPair());
    transport->setSendBufferSize(8192);

    QList<QByteArray> data;
    QByteArray expected;
    for (const int size : parts) {
        data.append(pattern(size + int(data.size())).right(size));
        expected += data.last();
    }
    QSignalSpy writable(transport.get(), &Transport::writable);
    qint64 sentTotal = 0;
    int waits = 0;
    while (sentTotal < expected.size()) {
        // The parts not yet taken, from where the kernel stopped.
        QList<QByteArrayView> left;
        qint64 skip = sentTotal;
        for (const QByteArray &part : data) {
            if (skip >= part.size()) {
                skip -= part.size();
                continue;
            }
            left.append(QByteArrayView(part).sliced(skip));
            skip = 0;
        }
        const qint64 n = transport->write(left.constData(), int(left.size()), more);
        QVERIFY(n >= 0);
        sentTotal += n;
        if (n == 0) {
            // Full: one announcement once the peer reads, and none without waiting for it.
            ++waits;
            const int before = int(writable.size());
            transport->waitForRoom();
            QTRY_VERIFY_WITH_TIMEOUT(writable.size() > before, 10000);
            QCOMPARE(writable.size(), before + 1);
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), expected.size(), 10000);
    QCOMPARE(received, expected);
    if (expected.size() > (1 << 20))
        QVERIFY(waits > 0);
    // Nothing waits any longer: no announcement comes by itself.
    QCOMPARE(writable.size(), waits);
}

void TestPlainTransport::sendFileSendsTheRange_data()
{
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<qint64>("last");

    QTest::addRow("whole file") << 100000 << qint64(0) << qint64(100000) << qint64(0);
    QTest::addRow("middle range") << 100000 << qint64(4097) << qint64(5000) << qint64(0);
    QTest::addRow("more than the kernel holds") << 3000000 << qint64(1) << qint64(2999999) << qint64(0);
    // Asked for more than the file has: what it has leaves, then the end is told.
    QTest::addRow("file shorter than the count") << 1000 << qint64(900) << qint64(500)
                                                 << Transport::FileEnded;
}

void TestPlainTransport::sendFileSendsTheRange()
{
    QFETCH(int, fileSize);
    QFETCH(qint64, offset);
    QFETCH(qint64, count);
    QFETCH(qint64, last);
    QVERIFY(connectPair());
    transport->setSendBufferSize(65536);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray contents = pattern(fileSize);
    QFile file(dir.filePath(QStringLiteral("f.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(contents), qint64(fileSize));
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly));

    const QByteArray expected = contents.mid(offset, count);
    QSignalSpy writable(transport.get(), &Transport::writable);
    qint64 at = offset;
    qint64 left = count;
    qint64 result = 0;
    while (left > 0) {
        result = transport->sendFile(file.handle(), &at, left);
        if (result < 0)
            break;
        left -= result;
        if (result == 0) {
            const int before = int(writable.size());
            transport->waitForRoom();
            QTRY_VERIFY_WITH_TIMEOUT(writable.size() > before, 10000);
        }
    }
    QCOMPARE(result < 0 ? result : qint64(0), last);
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), expected.size(), 10000);
    QCOMPARE(received, expected);
    QCOMPARE(at, offset + expected.size());
}

void TestPlainTransport::addressesAreTheConnections()
{
    QVERIFY(connectPair());
    QCOMPARE(transport->localAddress(), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(transport->localPort(), listener->serverPort());
    QCOMPARE(transport->peerAddress(), QHostAddress(QHostAddress::LocalHost));
    QVERIFY(!transport->isEncrypted());

    // A pipe is no connection: the kernel does not send from it, the caller sends in pieces.
    int ends[2];
    QCOMPARE(::pipe(ends), 0);
    QCOMPARE(::write(ends[1], "abc", 3), ssize_t(3));
    qint64 at = 0;
    QCOMPARE(transport->sendFile(ends[0], &at, 3), Transport::Unsupported);
    ::close(ends[0]);
    ::close(ends[1]);

    transport->close();
    QVERIFY(!transport->isOpen());
    QVERIFY(transport->peerAddress().isNull());
    QCOMPARE(transport->write(QByteArrayView("x")), Transport::Failed);
    // The peer sees the close.
    QTRY_COMPARE_WITH_TIMEOUT(client->state(), QAbstractSocket::UnconnectedState, 5000);
}

QTEST_GUILESS_MAIN(TestPlainTransport)
#include "tst_plaintransport.moc"
