#include "server/lockmanager.h"

#include <QRandomGenerator>
#include <QUuid>

#include <algorithm>

namespace {

// Whether `path` lies strictly below the normalized folder `folder`.
bool below(QStringView path, QStringView folder)
{
    if (folder == u"/")
        return path.size() > 1;
    return path.size() > folder.size() && path.startsWith(folder) && path.at(folder.size()) == u'/';
}

} // namespace

bool LockManager::Lock::covers(QStringView path) const
{
    return path == root || (infinite && below(path, root));
}

qint64 LockManager::Lock::secondsLeft(Clock::time_point now) const
{
    // Whole seconds, rounded up: a lock just granted for 600 seconds has 600 left.
    const qint64 left = std::chrono::ceil<std::chrono::seconds>(expires - now).count();
    return qBound<qint64>(0, left, MaxTimeoutSeconds);
}

QString LockManager::normalized(QStringView path)
{
    QString out;
    out.reserve(path.size() + 1);
    for (const QStringView name : path.tokenize(u'/', Qt::SkipEmptyParts)) {
        if (name == u".")
            continue;
        out += u'/';
        out += name;
    }
    if (out.isEmpty())
        out = QStringLiteral("/");
    return out;
}

QString LockManager::parentOf(QStringView normalized)
{
    const qsizetype slash = normalized.lastIndexOf(u'/');
    return slash <= 0 ? QStringLiteral("/") : normalized.first(slash).toString();
}

void LockManager::expire(Clock::time_point now)
{
    locks.removeIf([now](const Lock &lock) { return lock.expires <= now; });
}

QList<const LockManager::Lock *> LockManager::covering(QStringView path)
{
    QList<const Lock *> out;
    if (locks.isEmpty())
        return out;
    expire(Clock::now());
    const QString item = normalized(path);
    for (const Lock &lock : std::as_const(locks)) {
        if (lock.covers(item))
            out.append(&lock);
    }
    return out;
}

const LockManager::Lock *LockManager::find(QByteArrayView token)
{
    expire(Clock::now());
    for (const Lock &lock : std::as_const(locks)) {
        if (lock.token == token)
            return &lock;
    }
    return nullptr;
}

bool LockManager::conflicts(QStringView path, bool exclusive, bool infinite)
{
    expire(Clock::now());
    const QString item = normalized(path);
    for (const Lock &lock : std::as_const(locks)) {
        const bool meets = lock.covers(item) || (infinite && below(lock.root, item));
        if (meets && (exclusive || lock.exclusive))
            return true;
    }
    return false;
}

const LockManager::Lock *LockManager::add(QStringView path, bool exclusive, bool infinite, const QByteArray &owner,
                                          const QString &principal, qint64 timeoutSeconds)
{
    const Clock::time_point now = Clock::now();
    expire(now);
    if (locks.size() >= MostLocks)
        return nullptr;
    Lock lock;
    lock.token = newToken();
    lock.root = normalized(path);
    lock.exclusive = exclusive;
    lock.infinite = infinite;
    lock.owner = owner;
    lock.principal = principal;
    lock.timeoutSeconds = qBound<qint64>(1, timeoutSeconds, MaxTimeoutSeconds);
    lock.expires = now + std::chrono::seconds(lock.timeoutSeconds);
    locks.append(lock);
    return &locks.last();
}

bool LockManager::refresh(QByteArrayView token, qint64 timeoutSeconds)
{
    const Clock::time_point now = Clock::now();
    expire(now);
    for (Lock &lock : locks) {
        if (lock.token == token) {
            lock.timeoutSeconds = qBound<qint64>(1, timeoutSeconds, MaxTimeoutSeconds);
            lock.expires = now + std::chrono::seconds(lock.timeoutSeconds);
            return true;
        }
    }
    return false;
}

bool LockManager::remove(QByteArrayView token)
{
    return locks.removeIf([token](const Lock &lock) { return lock.token == token; }) > 0;
}

void LockManager::dropWithin(QStringView path)
{
    if (locks.isEmpty())
        return;
    const QString item = normalized(path);
    locks.removeIf([&item](const Lock &lock) { return lock.root == item || below(lock.root, item); });
}

bool LockManager::held(const Lock &lock, const QList<QByteArray> &tokens, const QString &principal)
{
    return lock.principal == principal && tokens.contains(lock.token);
}

bool LockManager::mayChange(QStringView path, int touch, const QList<QByteArray> &tokens, const QString &principal,
                            QStringView memberOf)
{
    if (locks.isEmpty())
        return true;
    expire(Clock::now());
    const QString item = normalized(path);
    const QString folder = memberOf.isNull() ? parentOf(item) : normalized(memberOf);
    // A group is satisfied when it is empty or one of its locks is held.
    const auto satisfied = [&](const auto &inGroup) {
        bool any = false;
        for (const Lock &lock : std::as_const(locks)) {
            if (!inGroup(lock))
                continue;
            if (held(lock, tokens, principal))
                return true;
            any = true;
        }
        return !any;
    };
    if ((touch & (Content | Member | Tree)) && !satisfied([&item](const Lock &l) { return l.covers(item); }))
        return false;
    if ((touch & Member) && item != u"/" && !satisfied([&folder](const Lock &l) { return l.covers(folder); }))
        return false;
    if (touch & Tree) {
        for (const Lock &lock : std::as_const(locks)) {
            if (!below(lock.root, item))
                continue;
            const QString &root = lock.root;
            if (!satisfied([&root](const Lock &l) { return l.root == root; }))
                return false;
        }
    }
    return true;
}

QByteArray LockManager::newToken()
{
    // A version 4 UUID from the system's secure generator (RFC 4122 4.4).
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    QByteArray bytes(reinterpret_cast<const char *>(words), sizeof words);
    bytes[6] = char((bytes.at(6) & 0x0f) | 0x40);
    bytes[8] = char((bytes.at(8) & 0x3f) | 0x80);
    return "opaquelocktoken:" + QUuid::fromRfc4122(bytes).toByteArray(QUuid::WithoutBraces);
}
