#include "server/eventpoller.h"

#include "server/descriptorwatch.h"

#include <QSocketNotifier>
#include <QThreadStorage>
#include <cerrno>
#include <cstring>

#include <sys/epoll.h>
#include <unistd.h>

namespace {

// Ready descriptors taken per turn of the event loop; more stay ready for the next turn, so
// that timers and other sources are not starved by a burst.
constexpr int BatchSize = 128;

quint32 slotOf(quint64 key)
{
    return quint32(key);
}

quint32 generationOf(quint64 key)
{
    return quint32(key >> 32);
}

} // namespace

EventPoller *EventPoller::forCurrentThread()
{
    // The storage deletes each thread's poller as the thread finishes, while its event
    // dispatcher still exists.
    static QThreadStorage<EventPoller *> pollers;
    if (!pollers.hasLocalData())
        pollers.setLocalData(new EventPoller);
    return pollers.localData();
}

EventPoller::EventPoller()
{
    epollDescriptor = ::epoll_create1(EPOLL_CLOEXEC);
    if (epollDescriptor < 0) {
        qWarning("EventPoller: epoll_create1 failed: %s", std::strerror(errno));
        return;
    }
    notifier = std::make_unique<QSocketNotifier>(qintptr(epollDescriptor), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] { dispatch(); });
}

EventPoller::~EventPoller()
{
    for (const Slot &slot : table) {
        if (slot.watch)
            slot.watch->detach();
    }
    notifier.reset();
    if (epollDescriptor >= 0)
        ::close(epollDescriptor);
}

quint64 EventPoller::attach(DescriptorWatch *watch)
{
    quint32 index;
    if (freeSlots.empty()) {
        index = quint32(table.size());
        table.push_back({});
    } else {
        index = freeSlots.back();
        freeSlots.pop_back();
    }
    table[index].watch = watch;
    return quint64(table[index].generation) << 32 | index;
}

void EventPoller::release(quint64 key)
{
    Slot &slot = table[slotOf(key)];
    slot.watch = nullptr;
    // Events of the old holder still in a batch no longer match.
    ++slot.generation;
    freeSlots.push_back(slotOf(key));
}

bool EventPoller::change(int descriptor, quint32 from, quint32 to, quint64 key, bool edge)
{
    if (epollDescriptor < 0)
        return false;
    // Nothing waited for means not registered: the kernel reports failures and hang-ups of a
    // registered descriptor whatever its mask, and level-triggered that would be every turn.
    int operation = from == 0 ? EPOLL_CTL_ADD : to == 0 ? EPOLL_CTL_DEL : EPOLL_CTL_MOD;
    epoll_event event = {};
    // Edge-triggered, a close of the peer's side is told apart: the read that takes the last
    // bytes does not take the end behind them.
    event.events = to | (edge ? quint32(EPOLLET) | (to & EPOLLIN ? quint32(EPOLLRDHUP) : 0) : 0);
    event.data.u64 = key;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::epoll_ctl(epollDescriptor, operation, descriptor, &event) == 0)
            return true;
        // The registration was not what this side thought (a descriptor closed and reused
        // behind the watch): take the kernel's view and try once more.
        if (operation == EPOLL_CTL_MOD && errno == ENOENT)
            operation = EPOLL_CTL_ADD;
        else if (operation == EPOLL_CTL_ADD && errno == EEXIST)
            operation = EPOLL_CTL_MOD;
        else if (operation == EPOLL_CTL_DEL && (errno == ENOENT || errno == EBADF))
            return true;
        else
            break;
    }
    qWarning("EventPoller: epoll_ctl on descriptor %d failed: %s", descriptor, std::strerror(errno));
    return false;
}

void EventPoller::dispatch()
{
    epoll_event ready[BatchSize];
    int count;
    do
        count = ::epoll_wait(epollDescriptor, ready, BatchSize, 0);
    while (count < 0 && errno == EINTR);
    for (int i = 0; i < count; ++i) {
        const quint32 events = ready[i].events;
        const bool failed = events & (EPOLLERR | EPOLLHUP);
        if (failed || (events & EPOLLIN)) {
            // What the owner reads now was announced; an end behind it is not announced again.
            if (DescriptorWatch *reported = watchOf(ready[i].data.u64)) {
                reported->lookPending = false;
                reported->hangUp = reported->hangUp || failed || (events & EPOLLRDHUP);
            }
            deliver(ready[i].data.u64, false);
        }
        if (failed || (events & EPOLLOUT))
            deliver(ready[i].data.u64, true);
        // A readiness reported that is no longer wanted (or a failure of a descriptor that waits
        // for nothing) would come back every turn: now the registration drops it.
        DescriptorWatch *watch = watchOf(ready[i].data.u64);
        if (watch && (events & (failed ? ~0u : watch->registered) & ~watch->wanted()))
            watch->settle();
    }
}

DescriptorWatch *EventPoller::watchOf(quint64 key) const
{
    const quint32 index = slotOf(key);
    if (index >= table.size() || table[index].generation != generationOf(key))
        return nullptr;
    return table[index].watch;
}

void EventPoller::deliver(quint64 key, bool writable)
{
    // Looked up afresh for every call: an earlier callback may have stopped this watch, or
    // registered new ones and so moved the table.
    const DescriptorWatch *watch = watchOf(key);
    if (!watch || !(writable ? watch->writing : watch->reading))
        return;
    // A copy: the callback may delete the watch that holds it.
    const DescriptorWatch::Callback callback = writable ? watch->onWritable : watch->onReadable;
    if (callback)
        callback();
}
