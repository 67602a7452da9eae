#include "server/guessdelay.h"

#include <QHostAddress>

int GuessDelay::firstDelayMs = 1000;
int GuessDelay::longestDelayMs = 60000;

GuessDelay::GuessDelay()
{
    clock.start();
}

QByteArray GuessDelay::keyOf(const QHostAddress &client)
{
    bool v4 = false;
    const quint32 ipv4 = client.toIPv4Address(&v4);
    if (v4)
        return QByteArray::number(ipv4);
    const Q_IPV6ADDR ipv6 = client.toIPv6Address();
    return QByteArray(reinterpret_cast<const char *>(ipv6.c), 8);
}

qint64 GuessDelay::delayAfter(int failures) const
{
    if (failures < FreeFailures)
        return 0;
    qint64 delay = firstDelayMs;
    for (int n = FreeFailures; n < failures && delay < longestDelayMs; ++n)
        delay *= 2;
    return qMin<qint64>(delay, longestDelayMs);
}

qint64 GuessDelay::wait(const QHostAddress &client)
{
    const auto found = entries.find(keyOf(client));
    if (found == entries.end() || found->failures < FreeFailures)
        return 0;
    const qint64 now = clock.elapsed();
    if (now < found->notBefore)
        return found->notBefore - now;
    // This attempt takes the turn: others of the address wait until its outcome is known.
    found->notBefore = now + delayAfter(found->failures);
    return 0;
}

void GuessDelay::failed(const QHostAddress &client)
{
    const QByteArray key = keyOf(client);
    if (!entries.contains(key) && entries.size() >= MostAddresses)
        makeRoom();
    Entry &entry = entries[key];
    const qint64 now = clock.elapsed();
    ++entry.failures;
    entry.lastFailure = now;
    entry.notBefore = now + delayAfter(entry.failures);
}

void GuessDelay::succeeded(const QHostAddress &client)
{
    if (!entries.isEmpty())
        entries.remove(keyOf(client));
}

void GuessDelay::makeRoom()
{
    auto oldest = entries.begin();
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->lastFailure < oldest->lastFailure)
            oldest = it;
    }
    if (oldest != entries.end())
        entries.erase(oldest);
}
