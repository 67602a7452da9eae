#ifndef DESCRIPTORWATCH_H
#define DESCRIPTORWATCH_H

#include <QtGlobal>

#include <functional>

class EventPoller;

// Waits for one descriptor to become readable or writable through the event poller of the
// thread that first turns it on. A failure or hang-up of the descriptor counts as readable, and
// as writable while writing is on, so that the owner's next read or write sees it.
//
// Level-triggered (like a socket notifier), the watch calls back while the descriptor stays
// ready. Edge-triggered, it calls back when something new arrives or room is made, which serves
// the ready connections in the order they became ready. The owner of an edge-triggered watch then
// reads until a read takes less than it asked for (the rest is announced when it arrives), or
// says with mayHoldMore() that it stopped after a read that filled its buffer; and it waits for
// room only after a write the kernel refused.
//
// A callback may delete or stop any watch, its own included; a watch stopped or deleted is
// never called again, not even for readiness found in the same turn. The owner stops the watch
// before it closes the descriptor, so that a number reused for another descriptor is not
// watched for this one.
class DescriptorWatch
{
public:
    using Callback = std::function<void()>;
    enum class Trigger { Level, Edge };

    DescriptorWatch(int descriptor, Callback readable, Callback writable, Trigger trigger = Trigger::Level);
    ~DescriptorWatch();
    DescriptorWatch(const DescriptorWatch &) = delete;
    DescriptorWatch &operator=(const DescriptorWatch &) = delete;

    int descriptor() const { return fd; }
    bool isReading() const { return reading; }
    bool isWriting() const { return writing; }

    void setReading(bool on);
    void setWriting(bool on);
    // Edge-triggered: the last read filled what it asked for, so bytes may wait that nothing
    // new will announce. They are announced while reading is on.
    void mayHoldMore();
    // The peer has closed its side or the descriptor failed: the end waits behind any bytes,
    // and nothing new will announce it.
    bool sawHangUp() const { return hangUp; }
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
    // Edge-triggered: has the poller look at the descriptor afresh, so that bytes already
    // waiting are announced once more.
    void announceWaiting();
    // The poller is going away: nothing is registered any more.
    void detach();

    int fd;
    bool reading = false;
    bool writing = false;
    bool stopped = false;
    bool edge = false;
    // Edge-triggered: bytes may wait that no readiness announces yet (after mayHoldMore()).
    bool bytesMayWait = false;
    // Edge-triggered: since the poller last reported readable, it was asked to look afresh;
    // whatever waits is announced without asking again.
    bool lookPending = false;
    bool hangUp = false;
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
