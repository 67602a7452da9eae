#ifndef EVENTPOLLER_H
#define EVENTPOLLER_H

#include <QtGlobal>

#include <memory>
#include <vector>

class DescriptorWatch;
class QSocketNotifier;

// One epoll descriptor per thread for the descriptors of its connections. The event loop
// watches only the epoll descriptor (one read notifier); when it becomes ready, one
// epoll_wait() without waiting takes a batch of ready descriptors and each goes to its watch.
// The cost of a turn thus depends on the descriptors that are ready, not on those registered.
//
// Events are keyed by a slot and its generation, never by the descriptor number alone: a watch
// stopped within a batch (and its number perhaps reused at once) is not called for what was
// found before.
class EventPoller
{
public:
    // The poller of the calling thread, made on first use; it goes with the thread (for the
    // main thread: with the application object). The thread needs an event loop.
    static EventPoller *forCurrentThread();
    ~EventPoller();
    EventPoller(const EventPoller &) = delete;
    EventPoller &operator=(const EventPoller &) = delete;

private:
    friend class DescriptorWatch;
    struct Slot
    {
        DescriptorWatch *watch = nullptr;
        quint32 generation = 0;
    };

    EventPoller();

    // A key for the watch, kept until release().
    quint64 attach(DescriptorWatch *watch);
    void release(quint64 key);
    // Registers, changes or removes the events waited for on `descriptor`; false on failure.
    // The same events again have the kernel look at the descriptor afresh.
    bool change(int descriptor, quint32 from, quint32 to, quint64 key, bool edge);
    void dispatch();
    // The watch of `key` while it is still there, else null.
    DescriptorWatch *watchOf(quint64 key) const;
    // Calls the watch of `key` back if it is still there and still waits for that readiness.
    void deliver(quint64 key, bool writable);

    int epollDescriptor = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    std::vector<Slot> table;
    std::vector<quint32> freeSlots;
};

#endif
