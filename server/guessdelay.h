#ifndef GUESSDELAY_H
#define GUESSDELAY_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>

class QHostAddress;

// Slows down password guessing, per client address: after FreeFailures failed attempts (a login
// or Basic credentials), each further attempt of that address is checked only after a delay that
// doubles with every failure, from FirstDelayMs up to LongestDelayMs, one attempt at a time. A
// success forgets the address's failures. Other addresses are not affected.
//
// An IPv6 client counts by its /64 network: one machine commonly has a whole one.
class GuessDelay
{
public:
    static constexpr int FreeFailures = 10;
    // The timing (tests shorten it).
    static int firstDelayMs;
    static int longestDelayMs;
    // Most addresses remembered; beyond it the one whose last failure is oldest is forgotten.
    static constexpr int MostAddresses = 4096;

    GuessDelay();

    // Milliseconds the attempt from `client` must wait before it is checked; 0: check it now (it
    // then holds the address's turn until its outcome is told).
    qint64 wait(const QHostAddress &client);
    void failed(const QHostAddress &client);
    void succeeded(const QHostAddress &client);

private:
    struct Entry
    {
        int failures = 0;
        qint64 notBefore = 0; // on the clock, ms
        qint64 lastFailure = 0;
    };

    static QByteArray keyOf(const QHostAddress &client);
    qint64 delayAfter(int failures) const;
    void makeRoom();

    QHash<QByteArray, Entry> entries;
    QElapsedTimer clock;
};

#endif
