// What one turn of the event loop costs while many idle connections are registered with it: N
// connected loopback TCP sockets (their peers held by a child process) each with a read
// QSocketNotifier that never fires, and one socket pair whose two ends ping-pong one byte, so that
// every turn wakes for exactly one ready descriptor and does one read and one write. The same
// ping-pong on an epoll descriptor holding the same N idle sockets is the reference: its cost does
// not depend on N. The same ping-pong through the server's EventPoller (N idle DescriptorWatches,
// the pair's two ends watched as well) shows what the connections pay. Prints wall-clock and CPU time per turn (median of the rounds) against N, and
// the event dispatcher in use (QT_NO_GLIB=1 selects Qt's own poll-based one).
//     tessaly_dispatcher_bench [--counts 0,100,1000,10000] [--rounds R] [--ms M]

#include "server/descriptorwatch.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QStringList>
#include <QTextStream>

#include <algorithm>
#include <memory>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

qint64 cpuNs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct Cost
{
    double wallNs = 0;
    double cpuNs = 0;
};

// One round's measurement: turns counted until `ms` of wall-clock time have passed.
class Round
{
public:
    explicit Round(int ms) : ms(ms)
    {
        wall.start();
        cpu0 = cpuNs();
    }

    // Counts one turn; false once the round is over.
    bool turn()
    {
        ++turns;
        return turns % 64 != 0 || wall.elapsed() < ms;
    }

    Cost cost() const
    {
        return {double(wall.nsecsElapsed()) / turns, double(cpuNs() - cpu0) / turns};
    }

private:
    int ms;
    qint64 turns = 0;
    QElapsedTimer wall;
    qint64 cpu0 = 0;
};

// The byte going back and forth between the two ends of `pair`: whichever end reads it writes it
// on, so that the other end becomes readable in the next turn.
bool bounce(int from)
{
    char byte;
    if (::read(from, &byte, 1) != 1)
        return false;
    return ::write(from, &byte, 1) == 1;
}

// One turn's work on the ready end `fd`: false once the round is over (the byte is then taken
// out of circulation) or the byte got lost.
bool served(Round &round, int fd)
{
    if (round.turn())
        return bounce(fd);
    char byte;
    (void)::read(fd, &byte, 1);
    return false;
}

Cost qtRound(const int pair[2], int ms)
{
    QEventLoop loop;
    Round round(ms);
    QSocketNotifier a(pair[0], QSocketNotifier::Read);
    QSocketNotifier b(pair[1], QSocketNotifier::Read);
    auto onReady = [&](QSocketDescriptor fd, QSocketNotifier::Type) {
        if (!served(round, fd))
            loop.quit();
    };
    QObject::connect(&a, &QSocketNotifier::activated, &loop, onReady);
    QObject::connect(&b, &QSocketNotifier::activated, &loop, onReady);
    const char byte = 'x';
    if (::write(pair[0], &byte, 1) != 1)
        return {};
    loop.exec();
    return round.cost();
}

Cost pollerRound(const int pair[2], int ms)
{
    QEventLoop loop;
    Round round(ms);
    const auto onReady = [&](int fd) {
        if (!served(round, fd))
            loop.quit();
    };
    DescriptorWatch a(pair[0], [&] { onReady(pair[0]); }, {});
    DescriptorWatch b(pair[1], [&] { onReady(pair[1]); }, {});
    a.setReading(true);
    b.setReading(true);
    const char byte = 'x';
    if (::write(pair[0], &byte, 1) != 1)
        return {};
    loop.exec();
    return round.cost();
}

Cost epollRound(const int pair[2], const std::vector<int> &idle, int count, int ms)
{
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    epoll_event e{};
    e.events = EPOLLIN;
    for (int i = 0; i < count; ++i) {
        e.data.fd = idle[i];
        epoll_ctl(ep, EPOLL_CTL_ADD, idle[i], &e);
    }
    for (int i = 0; i < 2; ++i) {
        e.data.fd = pair[i];
        epoll_ctl(ep, EPOLL_CTL_ADD, pair[i], &e);
    }
    const char byte = 'x';
    if (::write(pair[0], &byte, 1) != 1) {
        ::close(ep);
        return {};
    }
    Round round(ms);
    epoll_event ready[64];
    for (bool going = true; going;) {
        const int n = epoll_wait(ep, ready, 64, 1000);
        if (n <= 0)
            break;
        for (int i = 0; i < n && going; ++i)
            going = served(round, ready[i].data.fd);
    }
    ::close(ep);
    return round.cost();
}

Cost median(std::vector<Cost> costs)
{
    Cost m;
    const size_t mid = costs.size() / 2;
    std::sort(costs.begin(), costs.end(), [](const Cost &x, const Cost &y) { return x.wallNs < y.wallNs; });
    m.wallNs = costs[mid].wallNs;
    std::sort(costs.begin(), costs.end(), [](const Cost &x, const Cost &y) { return x.cpuNs < y.cpuNs; });
    m.cpuNs = costs[mid].cpuNs;
    return m;
}

// `count` connected loopback sockets whose peers a child process holds until `hold` closes.
// Returns the server-side descriptors; `child` is the holder's pid.
std::vector<int> idleConnections(int count, int *hold, pid_t *child)
{
    std::vector<int> sockets;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 4096) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return sockets;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return sockets;
    *child = ::fork();
    if (*child == 0) {
        ::close(listener);
        ::close(pipeFds[1]);
        std::vector<int> peers;
        for (int i = 0; i < count; ++i) {
            const int s = ::socket(AF_INET, SOCK_STREAM, 0);
            if (s < 0 || ::connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
                break;
            peers.push_back(s);
        }
        char byte;
        while (::read(pipeFds[0], &byte, 1) > 0) {
        }
        ::_exit(0);
    }
    ::close(pipeFds[0]);
    *hold = pipeFds[1];
    for (int i = 0; i < count; ++i) {
        const int s = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (s < 0)
            break;
        sockets.push_back(s);
    }
    ::close(listener);
    return sockets;
}

} // namespace

int main(int argc, char *argv[])
{
    QList<int> counts = {0, 100, 1000, 10000};
    int rounds = 5;
    int ms = 300;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray option = argv[i];
        if (option == "--counts") {
            counts.clear();
            for (const QByteArray &n : QByteArray(argv[i + 1]).split(','))
                counts.append(n.toInt());
        } else if (option == "--rounds") {
            rounds = std::max(1, atoi(argv[i + 1]));
        } else if (option == "--ms") {
            ms = std::max(10, atoi(argv[i + 1]));
        }
    }
    const int most = *std::max_element(counts.cbegin(), counts.cend());
    rlimit files;
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    // The holder is forked before Qt starts any thread.
    int hold = -1;
    pid_t child = -1;
    const std::vector<int> idle = idleConnections(most, &hold, &child);
    QTextStream out(stdout);
    if (int(idle.size()) < most) {
        out << "only " << idle.size() << " of " << most << " connections could be opened (descriptor limit "
            << files.rlim_cur << ")\n";
        return 1;
    }
    QCoreApplication app(argc, argv);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0)
        return 1;

    out << "Event dispatcher: " << QAbstractEventDispatcher::instance()->metaObject()->className()
        << "; median of " << rounds << " rounds of " << ms << " ms; microseconds per turn\n\n"
        << "| idle notifiers or watches | Qt wall | Qt CPU | EventPoller wall | EventPoller CPU | epoll wall | epoll CPU |\n"
        << "|---:|---:|---:|---:|---:|---:|---:|\n";
    out.flush();
    for (const int count : counts) {
        // The watches first: Qt's Unix dispatcher walks every slot its table of notifiers ever
        // grew to, so notifiers made and deleted before would be paid for by the next loop.
        std::vector<Cost> qt, poller, epoll;
        {
            std::vector<std::unique_ptr<DescriptorWatch>> watches;
            for (int i = 0; i < count; ++i) {
                watches.push_back(std::make_unique<DescriptorWatch>(idle[i], DescriptorWatch::Callback(),
                                                                    DescriptorWatch::Callback()));
                watches.back()->setReading(true);
            }
            pollerRound(pair, 20);
            for (int r = 0; r < rounds; ++r)
                poller.push_back(pollerRound(pair, ms));
        }
        std::vector<std::unique_ptr<QSocketNotifier>> notifiers;
        for (int i = 0; i < count; ++i)
            notifiers.push_back(std::make_unique<QSocketNotifier>(idle[i], QSocketNotifier::Read));
        qtRound(pair, 20);
        for (int r = 0; r < rounds; ++r) {
            qt.push_back(qtRound(pair, ms));
            epoll.push_back(epollRound(pair, idle, count, ms));
        }
        const Cost q = median(qt);
        const Cost p = median(poller);
        const Cost e = median(epoll);
        out << "| " << count << " | " << Qt::fixed << qSetRealNumberPrecision(2) << q.wallNs / 1000 << " | "
            << q.cpuNs / 1000 << " | " << p.wallNs / 1000 << " | " << p.cpuNs / 1000 << " | "
            << e.wallNs / 1000 << " | " << e.cpuNs / 1000 << " |\n";
        out.flush();
    }
    ::close(hold);
    ::waitpid(child, nullptr, 0);
    return 0;
}
