#include "server/deadlinesweeper.h"

#include "server/socket.h"

#include <ctime>
#include <limits>

DeadlineSweeper *DeadlineSweeper::instance()
{
    // Connections live on the thread that accepted them; each thread sweeps its own.
    static thread_local DeadlineSweeper *sweeper = nullptr;
    if (!sweeper)
        sweeper = new DeadlineSweeper;
    return sweeper;
}

qint64 DeadlineSweeper::now()
{
    // Every byte of progress moves a deadline: the coarse clock costs no system call, and its
    // few milliseconds of granularity do not matter for timeouts of seconds.
    timespec t = {};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

DeadlineSweeper::DeadlineSweeper()
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &DeadlineSweeper::sweep);
}

void DeadlineSweeper::Entry::start(qint64 ms)
{
    DeadlineSweeper *sweeper = instance();
    if (linked)
        sweeper->remove(this);
    due = now() + ms;
    sweeper->insert(this);
}

void DeadlineSweeper::Entry::stop()
{
    if (linked)
        instance()->remove(this);
}

void DeadlineSweeper::insert(Entry *entry)
{
    List &list = lists[entry->kind];
    // Deadlines of one kind mostly come in order: the walk back stops at once. Only a timeout
    // changed while connections are open (tests shorten them) puts one further ahead.
    Entry *after = list.last;
    while (after && after->due > entry->due)
        after = after->prev;
    entry->prev = after;
    entry->next = after ? after->next : list.first;
    if (entry->next)
        entry->next->prev = entry;
    else
        list.last = entry;
    if (after)
        after->next = entry;
    else
        list.first = entry;
    entry->linked = true;
    if (!timer.isActive() || entry->due < scheduledFor)
        schedule();
}

void DeadlineSweeper::remove(Entry *entry)
{
    List &list = lists[entry->kind];
    if (entry->prev)
        entry->prev->next = entry->next;
    else
        list.first = entry->next;
    if (entry->next)
        entry->next->prev = entry->prev;
    else
        list.last = entry->prev;
    entry->prev = entry->next = nullptr;
    entry->linked = false;
    // The timer stays set: firing with nothing due only sets it again.
}

void DeadlineSweeper::sweep()
{
    const qint64 at = now();
    for (List &list : lists) {
        // What a deadline does may set or clear others (a close sets the close deadline), even
        // of this list: the head is read anew each time.
        while (list.first && list.first->due <= at) {
            Entry *entry = list.first;
            remove(entry);
            entry->owner->deadlinePassed(entry->kind);
        }
    }
    schedule();
}

void DeadlineSweeper::schedule()
{
    qint64 earliest = -1;
    for (const List &list : lists) {
        if (list.first && (earliest < 0 || list.first->due < earliest))
            earliest = list.first->due;
    }
    if (earliest < 0) {
        timer.stop();
        return;
    }
    scheduledFor = earliest;
    timer.start(int(qBound<qint64>(0, earliest - now(), qint64(std::numeric_limits<int>::max()))));
}
