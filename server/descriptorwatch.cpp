#include "server/descriptorwatch.h"

#include "server/eventpoller.h"

#include <sys/epoll.h>

DescriptorWatch::DescriptorWatch(int descriptor, Callback readable, Callback writable)
    : fd(descriptor), onReadable(std::move(readable)), onWritable(std::move(writable))
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
    if ((wanted() & ~registered) == 0)
        return;
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
    if (poller->change(fd, registered, wanted, key))
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
