// The event poller over real socket pairs and loopback connections: readiness reaches the watch
// that waits for it and no other, a batch survives callbacks that delete or replace watches
// (descriptor numbers reused at once included), a peer's close is seen once through the plain
// transport, a readiness no longer wanted leaves the kernel's registration once it is reported,
// edge-triggered reading misses no byte and no end, and no descriptor stays open.

#include "server/descriptorwatch.h"
#include "server/plaintransport.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The events the epoll descriptors of this process hold for `fd` (/proc/self/fdinfo); -1: none.
int registeredEvents(int fd)
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &name : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[64] = {};
        const QByteArray link = QFile::encodeName(fds.filePath(name));
        if (::readlink(link.constData(), target, sizeof target - 1) <= 0
            || qstrcmp(target, "anon_inode:[eventpoll]") != 0)
            continue;
        QFile info(QStringLiteral("/proc/self/fdinfo/") + name);
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : info.readAll().split('\n')) {
            const QList<QByteArray> words = line.simplified().split(' ');
            if (words.size() >= 4 && words.at(0) == "tfd:" && words.at(1).toInt() == fd && words.at(2) == "events:")
                return words.at(3).toInt(nullptr, 16) & (EPOLLIN | EPOLLOUT); // hang-ups and failures always count
        }
    }
    return -1;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

// Two connected ends, closed with the pair unless taken.
struct Pair
{
    int ours = -1;
    int peer = -1;
    explicit Pair(bool tcp)
    {
        int ends[2] = {-1, -1};
        if (!tcp) {
            if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) == 0) {
                ours = ends[0];
                peer = ends[1];
            }
            return;
        }
        const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto *name = reinterpret_cast<sockaddr *>(&address);
        if (::bind(listener, name, sizeof address) == 0 && ::listen(listener, 1) == 0
            && ::getsockname(listener, name, &length) == 0) {
            peer = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(peer, name, sizeof address) == 0)
                ours = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        }
        ::close(listener);
    }
    ~Pair()
    {
        closeOurs();
        closePeer();
    }
    void closeOurs()
    {
        if (ours >= 0)
            ::close(ours);
        ours = -1;
    }
    void closePeer()
    {
        if (peer >= 0)
            ::close(peer);
        peer = -1;
    }
    bool isValid() const { return ours >= 0 && peer >= 0; }
};

// A watch that counts its callbacks.
struct Counted
{
    int readable = 0;
    int writable = 0;
    std::unique_ptr<DescriptorWatch> watch;
    Counted(int fd, std::function<void()> extra = {})
        : watch(std::make_unique<DescriptorWatch>(
              fd,
              [this, extra] {
                  ++readable;
                  if (extra)
                      extra();
              },
              [this] { ++writable; }))
    {
    }
};

// A descriptor that is readable at every turn: its calls count the poller's turns.
struct Clock
{
    Pair pair{false};
    Counted counted{pair.ours};
    Clock()
    {
        (void)::write(pair.peer, "t", 1);
        counted.watch->setReading(true);
    }
    // Lets `turns` more turns of the poller pass.
    bool pass(int turns)
    {
        const int until = counted.readable + turns;
        return QTest::qWaitFor([&] { return counted.readable >= until; }, 5000);
    }
};

enum Event { Nothing, PeerSends, PeerCloses, PeerResets, SendBufferFull };

void fillSendBuffer(int fd)
{
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    const QByteArray chunk(65536, 'f');
    while (::send(fd, chunk.constData(), size_t(chunk.size()), MSG_DONTWAIT | MSG_NOSIGNAL) > 0) {
    }
}

void happen(Event event, Pair &pair)
{
    switch (event) {
    case Nothing:
        break;
    case PeerSends:
        (void)::write(pair.peer, "hello", 5);
        break;
    case PeerResets: {
        const linger off = {1, 0};
        ::setsockopt(pair.peer, SOL_SOCKET, SO_LINGER, &off, sizeof off);
        pair.closePeer();
        break;
    }
    case PeerCloses:
        pair.closePeer();
        break;
    case SendBufferFull:
        fillSendBuffer(pair.ours);
        break;
    }
}

} // namespace

class TestEventPoller : public QObject
{
    Q_OBJECT

private slots:
    void readinessReachesTheWatchWaitingForIt_data();
    void readinessReachesTheWatchWaitingForIt();
    void aFullSendBufferIsWaitedOut();
    void oneActiveAmongManyIdleIsServed_data();
    void oneActiveAmongManyIdleIsServed();
    void callbacksChangingLaterWatchesInTheBatch_data();
    void callbacksChangingLaterWatchesInTheBatch();
    void peerCloseIsSeenOnce_data();
    void peerCloseIsSeenOnce();
    void noDescriptorStaysOpen_data();
    void noDescriptorStaysOpen();
    void aReadinessNoLongerWantedIsDropped_data();
    void aReadinessNoLongerWantedIsDropped();
    void everyByteAndTheEndAreRead_data();
    void everyByteAndTheEndAreRead();
};

void TestEventPoller::readinessReachesTheWatchWaitingForIt_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<int>("event");
    QTest::addColumn<bool>("reading");
    QTest::addColumn<bool>("writing");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<bool>("writable");

    QTest::addRow("idle, reading") << true << int(Nothing) << true << false << false << false;
    QTest::addRow("bytes waiting, reading") << true << int(PeerSends) << true << false << true << false;
    QTest::addRow("bytes waiting, reading off") << true << int(PeerSends) << false << false << false << false;
    QTest::addRow("room, writing") << true << int(Nothing) << false << true << false << true;
    QTest::addRow("bytes and room, both") << false << int(PeerSends) << true << true << true << true;
    QTest::addRow("send buffer full, writing") << true << int(SendBufferFull) << false << true << false << false;
    QTest::addRow("peer closed, reading") << true << int(PeerCloses) << true << false << true << false;
    QTest::addRow("peer reset, reading") << true << int(PeerResets) << true << false << true << false;
    QTest::addRow("peer reset, writing only") << true << int(PeerResets) << false << true << false << true;
    // A hang-up reported whatever the mask must not reach a watch that waits for nothing.
    QTest::addRow("peer reset, neither") << true << int(PeerResets) << false << false << false << false;
    QTest::addRow("pair peer closed, reading") << false << int(PeerCloses) << true << false << true << false;
    QTest::addRow("pair peer closed, writing only") << false << int(PeerCloses) << false << true << false << true;
}

void TestEventPoller::readinessReachesTheWatchWaitingForIt()
{
    QFETCH(bool, tcp);
    QFETCH(int, event);
    QFETCH(bool, reading);
    QFETCH(bool, writing);
    QFETCH(bool, readable);
    QFETCH(bool, writable);

    Clock clock;
    Pair pair(tcp);
    QVERIFY(pair.isValid());
    Counted counted(pair.ours);
    // Registered for everything first, then narrowed: the change is what the kernel holds.
    counted.watch->setReading(true);
    counted.watch->setWriting(true);
    counted.watch->setReading(reading);
    counted.watch->setWriting(writing);
    QCOMPARE(counted.watch->isReading(), reading);
    happen(Event(event), pair);

    QVERIFY(clock.pass(4));
    // Level-triggered: what stays ready is announced at every turn, the rest never.
    if (readable)
        QVERIFY(counted.readable >= 3);
    else
        QCOMPARE(counted.readable, 0);
    if (writable)
        QVERIFY(counted.writable >= 3);
    else
        QCOMPARE(counted.writable, 0);
}

void TestEventPoller::aFullSendBufferIsWaitedOut()
{
    Clock clock;
    Pair pair(true);
    QVERIFY(pair.isValid());
    fillSendBuffer(pair.ours);
    Counted counted(pair.ours);
    counted.watch->setWriting(true);
    QVERIFY(clock.pass(3));
    QCOMPARE(counted.writable, 0);

    // The peer reads everything: room again.
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    QTRY_VERIFY_WITH_TIMEOUT(((void)::recv(pair.peer, buffer.data(), size_t(buffer.size()), MSG_DONTWAIT),
                              counted.writable > 0), 10000);
    counted.watch->setWriting(false);
    const int seen = counted.writable;
    QVERIFY(clock.pass(3));
    QCOMPARE(counted.writable, seen);
}

void TestEventPoller::oneActiveAmongManyIdleIsServed_data()
{
    QTest::addColumn<int>("idle");
    QTest::addColumn<int>("exchanges");

    QTest::addRow("alone") << 0 << 50;
    QTest::addRow("100 idle") << 100 << 50;
    QTest::addRow("2,000 idle") << 2000 << 200;
}

void TestEventPoller::oneActiveAmongManyIdleIsServed()
{
    QFETCH(int, idle);
    QFETCH(int, exchanges);

    std::vector<std::unique_ptr<Pair>> pairs;
    std::vector<std::unique_ptr<Counted>> idleWatches;
    for (int i = 0; i < idle; ++i) {
        pairs.push_back(std::make_unique<Pair>(false));
        QVERIFY(pairs.back()->isValid());
        idleWatches.push_back(std::make_unique<Counted>(pairs.back()->ours));
        idleWatches.back()->watch->setReading(true);
    }
    // The active connection answers every byte with one; the test's side sends the next.
    Pair active(true);
    QVERIFY(active.isValid());
    int answered = 0;
    DescriptorWatch watch(active.ours, [&] {
        char byte;
        while (::read(active.ours, &byte, 1) == 1) {
            (void)::write(active.ours, &byte, 1);
            ++answered;
        }
    }, {});
    watch.setReading(true);
    for (int i = 0; i < exchanges; ++i) {
        const char sent = char('a' + i % 26);
        QCOMPARE(::write(active.peer, &sent, 1), ssize_t(1));
        QTRY_COMPARE_WITH_TIMEOUT(answered, i + 1, 5000);
        char back = 0;
        QCOMPARE(::read(active.peer, &back, 1), ssize_t(1));
        QCOMPARE(back, sent);
    }
    for (const auto &counted : idleWatches)
        QCOMPARE(counted->readable + counted->writable, 0);
}

enum Change { DeleteOthers, StopOthers, ReadingOffOthers, DeleteAll, ReplaceOthersOnTheirNumbers };

void TestEventPoller::callbacksChangingLaterWatchesInTheBatch_data()
{
    QTest::addColumn<int>("change");

    QTest::addRow("the first deletes the others") << int(DeleteOthers);
    QTest::addRow("the first stops the others") << int(StopOthers);
    QTest::addRow("the first turns the others' reading off") << int(ReadingOffOthers);
    QTest::addRow("the first deletes the others and itself") << int(DeleteAll);
    QTest::addRow("the others' numbers reused at once") << int(ReplaceOthersOnTheirNumbers);
}

void TestEventPoller::callbacksChangingLaterWatchesInTheBatch()
{
    QFETCH(int, change);
    constexpr int Count = 8;
    Clock clock;

    std::vector<std::unique_ptr<Pair>> pairs;
    std::vector<std::unique_ptr<DescriptorWatch>> watches(Count);
    std::vector<std::unique_ptr<Pair>> newPairs;
    std::vector<std::unique_ptr<Counted>> newWatches;
    QList<int> calls(Count, 0);
    int firstCalled = -1;
    for (int i = 0; i < Count; ++i) {
        pairs.push_back(std::make_unique<Pair>(false));
        QVERIFY(pairs.back()->isValid());
        // All readable and all writable: each turn reports all of them in one batch.
        (void)::write(pairs.back()->peer, "x", 1);
    }
    for (int i = 0; i < Count; ++i) {
        const auto onReady = [&, i] {
            ++calls[i];
            if (firstCalled >= 0)
                return;
            firstCalled = i;
            for (int j = 0; j < Count; ++j) {
                if (j == i)
                    continue;
                switch (Change(change)) {
                case DeleteOthers:
                case DeleteAll:
                    watches[j].reset();
                    break;
                case StopOthers:
                    watches[j]->stop();
                    break;
                case ReadingOffOthers:
                    watches[j]->setReading(false);
                    watches[j]->setWriting(false);
                    break;
                case ReplaceOthersOnTheirNumbers: {
                    const int number = pairs[j]->ours;
                    watches[j].reset();
                    pairs[j]->closeOurs();
                    // A fresh idle pair takes the lowest free numbers: the one just closed.
                    newPairs.push_back(std::make_unique<Pair>(false));
                    newWatches.push_back(std::make_unique<Counted>(newPairs.back()->ours));
                    newWatches.back()->watch->setReading(true);
                    QCOMPARE(newPairs.back()->ours, number);
                    break;
                }
                }
            }
            if (Change(change) == DeleteAll)
                watches[i].reset();
        };
        watches[i] = std::make_unique<DescriptorWatch>(pairs[i]->ours, onReady, onReady);
        watches[i]->setReading(true);
        watches[i]->setWriting(true);
    }
    QVERIFY(clock.pass(3));
    QVERIFY(firstCalled >= 0);
    for (int j = 0; j < Count; ++j) {
        if (j != firstCalled)
            QCOMPARE(calls[j], 0);
    }
    // Deleted within its own readable call: its writable readiness of the same batch is dropped.
    if (Change(change) == DeleteAll)
        QCOMPARE(calls[firstCalled], 1);
    else
        QVERIFY(calls[firstCalled] >= 3);
    // The new holders of the numbers have nothing to read: the old batch never reached them.
    for (const auto &counted : newWatches)
        QCOMPARE(counted->readable + counted->writable, 0);
}

void TestEventPoller::peerCloseIsSeenOnce_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("reset");

    QTest::addRow("tcp close") << true << QByteArray() << false;
    QTest::addRow("tcp close after a request") << true << QByteArray("GET / HTTP/1.1\r\n\r\n") << false;
    QTest::addRow("tcp reset") << true << QByteArray() << true;
    QTest::addRow("pair close after bytes") << false << QByteArray("abc") << false;
}

void TestEventPoller::peerCloseIsSeenOnce()
{
    QFETCH(bool, tcp);
    QFETCH(QByteArray, before);
    QFETCH(bool, reset);

    Clock clock;
    Pair pair(tcp);
    QVERIFY(pair.isValid());
    PlainTransport transport(pair.ours);
    pair.ours = -1;
    QVERIFY(transport.isOpen());
    int readable = 0;
    QByteArray got;
    qint64 last = 0;
    connect(&transport, &Transport::readable, this, [&] {
        ++readable;
        char buffer[2048];
        while ((last = transport.read(buffer, sizeof buffer)) > 0)
            got.append(buffer, int(last));
    });
    if (!before.isEmpty())
        QCOMPARE(::write(pair.peer, before.constData(), size_t(before.size())), ssize_t(before.size()));
    happen(reset ? PeerResets : PeerCloses, pair);
    QTRY_COMPARE_WITH_TIMEOUT(last, Transport::Failed, 5000);
    QVERIFY(clock.pass(3));
    QCOMPARE(readable, 1);
    QCOMPARE(got, reset ? QByteArray() : before);
    QVERIFY(!transport.isOpen());
}

void TestEventPoller::noDescriptorStaysOpen_data()
{
    QTest::addColumn<bool>("ownThread");

    QTest::addRow("on this thread") << false;
    QTest::addRow("on a thread of their own") << true;
}

void TestEventPoller::noDescriptorStaysOpen()
{
    QFETCH(bool, ownThread);
    // This thread's poller exists before counting.
    Clock clock;
    QVERIFY(clock.pass(1));
    const int open = openDescriptors();

    const auto exercise = [] {
        std::vector<std::unique_ptr<PlainTransport>> transports;
        for (int i = 0; i < 50; ++i) {
            Pair pair(i % 2 == 0);
            transports.push_back(std::make_unique<PlainTransport>(pair.ours));
            pair.ours = -1;
            transports.back()->waitForRoom();
        }
        int rooms = 0;
        for (const auto &transport : transports)
            QObject::connect(transport.get(), &Transport::writable, [&rooms] { ++rooms; });
        (void)QTest::qWaitFor([&] { return rooms == 50; }, 5000);
        // Half closed explicitly, half with the transport.
        for (int i = 0; i < 25; ++i)
            transports[i]->close();
        return rooms;
    };
    if (ownThread) {
        int rooms = 0;
        std::unique_ptr<QThread> thread(QThread::create([&] { rooms = exercise(); }));
        thread->start();
        QVERIFY(thread->wait(10000));
        QCOMPARE(rooms, 50);
    } else {
        QCOMPARE(exercise(), 50);
    }
    // The thread's own poller went with it.
    QCOMPARE(openDescriptors(), open);
}

void TestEventPoller::aReadinessNoLongerWantedIsDropped_data()
{
    QTest::addColumn<bool>("reading");
    QTest::addColumn<bool>("writing");
    QTest::addColumn<int>("event");
    QTest::addColumn<bool>("stopWriting"); // the writable call stops writing; else the readable call stops reading
    QTest::addColumn<bool>("readAndGoOn"); // the readable call reads, stops and goes on reading
    QTest::addColumn<int>("readable");
    QTest::addColumn<int>("writable");
    QTest::addColumn<int>("registered"); // what the kernel holds at the end; -1 nothing

    const int in = EPOLLIN;
    QTest::addRow("bytes, reading stopped") << true << false << int(PeerSends) << false << false << 1 << 0 << -1;
    QTest::addRow("hang-up, reading stopped") << true << false << int(PeerCloses) << false << false << 1 << 0 << -1;
    QTest::addRow("room, writing stopped, reading on") << true << true << int(Nothing) << true << false << 0 << 1 << in;
    QTest::addRow("room, writing stopped, reading off") << false << true << int(Nothing) << true << false << 0 << 1 << -1;
    // Stopped and started again within one call: nothing to tell the kernel.
    QTest::addRow("bytes read, reading goes on") << true << false << int(PeerSends) << false << true << 1 << 0 << in;
}

void TestEventPoller::aReadinessNoLongerWantedIsDropped()
{
    QFETCH(bool, reading);
    QFETCH(bool, writing);
    QFETCH(int, event);
    QFETCH(bool, stopWriting);
    QFETCH(bool, readAndGoOn);
    QFETCH(int, readable);
    QFETCH(int, writable);
    QFETCH(int, registered);

    Clock clock;
    Pair pair(false);
    QVERIFY(pair.isValid());
    int readCalls = 0;
    int writeCalls = 0;
    std::unique_ptr<DescriptorWatch> watch;
    watch = std::make_unique<DescriptorWatch>(
        pair.ours,
        [&] {
            ++readCalls;
            watch->setReading(false);
            if (readAndGoOn) {
                char buffer[64];
                while (::read(pair.ours, buffer, sizeof buffer) > 0) {
                }
                watch->setReading(true);
            }
        },
        [&] {
            ++writeCalls;
            if (stopWriting)
                watch->setWriting(false);
        });
    watch->setReading(reading);
    watch->setWriting(writing);
    happen(Event(event), pair);

    QVERIFY(clock.pass(4));
    QCOMPARE(readCalls, readable);
    QCOMPARE(writeCalls, writable);
    QCOMPARE(registeredEvents(pair.ours), registered);
    // Wanted again, it is registered again; stopped, it is gone.
    watch->setWriting(true);
    QVERIFY(registeredEvents(pair.ours) & EPOLLOUT);
    watch.reset();
    QCOMPARE(registeredEvents(pair.ours), -1);
}

QTEST_GUILESS_MAIN(TestEventPoller)
enum Owner { ReadsOnlyInTheCallback, PausesAfterEachRead, StartsAfterTheBytes };

void TestEventPoller::everyByteAndTheEndAreRead_data()
{
    QTest::addColumn<bool>("edge");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("piece");
    QTest::addColumn<int>("owner");
    QTest::addColumn<bool>("peerCloses");

    for (const bool edge : {false, true}) {
        const char *trigger = edge ? "edge" : "level";
        QTest::addRow("%s: one short read", trigger) << edge << 100 << 2048 << int(ReadsOnlyInTheCallback) << false;
        QTest::addRow("%s: full reads, reading stays on", trigger) << edge << 20000 << 1000 << int(ReadsOnlyInTheCallback) << false;
        QTest::addRow("%s: full reads, paused between", trigger) << edge << 20000 << 1000 << int(PausesAfterEachRead) << false;
        QTest::addRow("%s: bytes came while reading was off", trigger) << edge << 5000 << 2048 << int(StartsAfterTheBytes) << false;
        QTest::addRow("%s: the end behind a short read", trigger) << edge << 100 << 2048 << int(ReadsOnlyInTheCallback) << true;
        QTest::addRow("%s: the end behind full reads", trigger) << edge << 4000 << 1000 << int(ReadsOnlyInTheCallback) << true;
        QTest::addRow("%s: the end behind a read of all there was", trigger) << edge << 1000 << 1000 << int(ReadsOnlyInTheCallback) << true;
        QTest::addRow("%s: the end came while reading was off", trigger) << edge << 3000 << 1000 << int(StartsAfterTheBytes) << true;
        QTest::addRow("%s: the end behind pauses", trigger) << edge << 3000 << 1000 << int(PausesAfterEachRead) << true;
    }
}

// The owner takes one piece per call; whatever the trigger, every byte and the peer's close
// reach it, and once all is read the calls stop.
void TestEventPoller::everyByteAndTheEndAreRead()
{
    QFETCH(bool, edge);
    QFETCH(int, size);
    QFETCH(int, piece);
    QFETCH(int, owner);
    QFETCH(bool, peerCloses);

    Clock clock;
    Pair pair(true);
    QVERIFY(pair.isValid());
    PlainTransport transport(pair.ours, nullptr, edge ? DescriptorWatch::Trigger::Edge : DescriptorWatch::Trigger::Level);
    pair.ours = -1;
    QVERIFY(transport.isOpen());
    int calls = 0;
    bool ended = false;
    QByteArray got;
    connect(&transport, &Transport::readable, this, [&] {
        ++calls;
        QByteArray buffer(piece, Qt::Uninitialized);
        const qint64 n = transport.read(buffer.data(), piece);
        if (n > 0)
            got.append(buffer.constData(), int(n));
        ended = ended || n == Transport::Failed;
        if (owner == PausesAfterEachRead && !ended) {
            transport.setReading(false);
            QTimer::singleShot(1, &transport, [&] { transport.setReading(true); });
        }
    });
    if (owner == StartsAfterTheBytes)
        transport.setReading(false);

    QByteArray sent(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        sent[i] = char('a' + i % 26);
    QCOMPARE(::write(pair.peer, sent.constData(), size_t(size)), ssize_t(size));
    if (peerCloses)
        pair.closePeer();
    if (owner == StartsAfterTheBytes) {
        QVERIFY(clock.pass(3));
        QCOMPARE(calls, 0);
        transport.setReading(true);
    }

    QTRY_COMPARE_WITH_TIMEOUT(got.size(), size, 5000);
    QCOMPARE(got, sent);
    if (peerCloses)
        QTRY_VERIFY_WITH_TIMEOUT(ended, 5000);
    QVERIFY(clock.pass(3));
    const int seen = calls;
    QVERIFY(clock.pass(3));
    QCOMPARE(calls, seen);
    QCOMPARE(ended, peerCloses);
}

#include "tst_eventpoller.moc"
