#ifndef DESCRIPTORWATCH_H
#define DESCRIPTORWATCH_H

#include <QtGlobal>

#include <functional>

class EventPoller;

// Waits for one descriptor to become readable or writable through the event poller of the
// thread that first turns it on, and calls back while the descriptor stays so (level-triggered,
// like a socket notifier). A failure or hang-up of the descriptor counts as readable, and as
// writable while writing is on, so that the owner's next read or write sees it.
//
// A callback may delete or stop any watch, its own included; a watch stopped or deleted is
// never called again, not even for readiness found in the same turn. The owner stops the watch
// before it closes the descriptor, so that a number reused for another descriptor is not
// watched for this one.
class DescriptorWatch
{
public:
    using Callback = std::function<void()>;

    DescriptorWatch(int descriptor, Callback readable, Callback writable);
    ~DescriptorWatch();
    DescriptorWatch(const DescriptorWatch &) = delete;
    DescriptorWatch &operator=(const DescriptorWatch &) = delete;

    int descriptor() const { return fd; }
    bool isReading() const { return reading; }
    bool isWriting() const { return writing; }

    void setReading(bool on);
    void setWriting(bool on);
    // Ends the watching for good; later calls to setReading() and setWriting() do nothing.
    void stop();

private:
    friend class EventPoller;

    quint32 wanted() const;
    // Hands the poller a readiness newly wanted; one no longer wanted stays registered until
    // the poller reports it (or the watch stops), which saves the change when it is soon
    // wanted again.
    void update();
    // Hands the poller exactly the wanted events.
    void settle();
    // The poller is going away: nothing is registered any more.
    void detach();

    int fd;
    bool reading = false;
    bool writing = false;
    bool stopped = false;
    // The events the poller holds for the descriptor (0: not registered); more than are wanted
    // while the poller has not reported the others.
    quint32 registered = 0;
    // Where the poller keeps this watch; set from the first registration on.
    EventPoller *poller = nullptr;
    quint64 key = 0;
    Callback onReadable;
    Callback onWritable;
};

#endif
