#ifndef DEADLINESWEEPER_H
#define DEADLINESWEEPER_H

#include <QObject>
#include <QTimer>

class Socket;

// The deadlines of all connections of one thread, served by one timer.
//
// A connection has up to three deadlines: the idle timeout, the close that the peer has to answer
// and the retry of a send that waits for room. Deadlines of one kind are kept in a list ordered
// by when they fall due. All connections share the same timeouts, so a deadline that is set or
// moved goes to the tail in constant time, and the sweep takes the expired ones from the head.
// The timer is set for the earliest head; a deadline moved later lets it fire early once, and
// the sweep then waits for the rest.
class DeadlineSweeper : public QObject
{
    Q_OBJECT

public:
    enum Kind { Idle, Close, Retry, KindCount };

    // One deadline of one connection: a link of its kind's list while it is set.
    class Entry
    {
    public:
        Entry(Socket *owner, Kind kind)
            : owner(owner)
            , kind(kind)
        {
        }
        Entry(const Entry &) = delete;
        Entry &operator=(const Entry &) = delete;
        ~Entry() { stop(); }

        // Sets the deadline to `ms` milliseconds from now (moving it when it was set).
        void start(qint64 ms);
        void stop();
        bool isActive() const { return linked; }

    private:
        friend class DeadlineSweeper;

        Entry *prev = nullptr;
        Entry *next = nullptr;
        qint64 due = 0;
        bool linked = false;
        Socket *const owner;
        const Kind kind;
    };

    // The sweeper of the calling thread, made on first use and kept for the thread's life.
    static DeadlineSweeper *instance();
    // Monotonic milliseconds, as cheap as the system makes them.
    static qint64 now();

private:
    DeadlineSweeper();

    void insert(Entry *entry);
    void remove(Entry *entry);
    void sweep();
    void schedule();

    struct List
    {
        Entry *first = nullptr;
        Entry *last = nullptr;
    };

    List lists[KindCount];
    QTimer timer;
    qint64 scheduledFor = 0;
};

#endif
