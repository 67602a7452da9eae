#include "server/descriptorwatch.h"

#include "server/eventpoller.h"

#include <sys/epoll.h>

DescriptorWatch::DescriptorWatch(int descriptor, Callback readable, Callback writable, Trigger trigger)
    : fd(descriptor), edge(trigger == Trigger::Edge), onReadable(std::move(readable)), onWritable(std::move(writable))
{
}

DescriptorWatch::~DescriptorWatch()
{
    stop();
}

void DescriptorWatch::setReading(bool on)
{
    if (reading == on || stopped)
        return;
    reading = on;
    update();
}

void DescriptorWatch::setWriting(bool on)
{
    if (writing == on || stopped)
        return;
    writing = on;
    update();
}

void DescriptorWatch::mayHoldMore()
{
    if (!edge || stopped)
        return;
    bytesMayWait = true;
    if (reading)
        announceWaiting();
}

void DescriptorWatch::announceWaiting()
{
    // Not yet registered for reading: registering looks at the descriptor anyway.
    if (!(registered & EPOLLIN) || fd < 0) {
        settle();
        return;
    }
    bytesMayWait = false;
    if (lookPending)
        return;
    // The same events once more: the kernel queues the descriptor if it is ready now.
    if (poller->change(fd, registered, registered, key, edge))
        lookPending = true;
}

void DescriptorWatch::stop()
{
    if (stopped)
        return;
    reading = false;
    writing = false;
    settle();
    stopped = true;
    if (poller)
        poller->release(key);
    poller = nullptr;
}

quint32 DescriptorWatch::wanted() const
{
    return (reading ? quint32(EPOLLIN) : 0) | (writing ? quint32(EPOLLOUT) : 0);
}

void DescriptorWatch::update()
{
    // Mostly a readiness turned off is wanted again soon (reading pauses while an answer goes
    // out): the registration keeps it until the poller reports it unwanted.
    if ((wanted() & ~registered) == 0) {
        if (reading && bytesMayWait)
            announceWaiting();
        return;
    }
    settle();
}

void DescriptorWatch::settle()
{
    const quint32 wanted = this->wanted();
    if (wanted == registered || fd < 0)
        return;
    if (!poller) {
        poller = EventPoller::forCurrentThread();
        key = poller->attach(this);
    }
    if (!poller->change(fd, registered, wanted, key, edge))
        return;
    // A registration for reading looks at the descriptor: what waits is announced.
    if ((wanted & ~registered) & EPOLLIN) {
        bytesMayWait = false;
        lookPending = true;
    }
    registered = wanted;
}

void DescriptorWatch::detach()
{
    poller = nullptr;
    registered = 0;
    reading = false;
    writing = false;
    stopped = true;
}
