#ifndef LOCKMANAGER_H
#define LOCKMANAGER_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <chrono>

// The WebDAV write locks of one listener, in memory only: a stopped server, or one that shares
// something else, has none (RFC 4918 6, 7). A lock is on a path of the share; with depth
// infinity it covers everything below it too. Exclusive locks exclude every other lock on what
// they cover, shared ones only exclusive locks. A lock ends when its time is up, by UNLOCK, or
// when what it is on is deleted or moved away; nothing of it follows the item on the disk.
//
// Paths are share paths as requests name them ("/docs/a.txt"); "//" and "." names and a final
// "/" make no difference.
class LockManager
{
public:
    using Clock = std::chrono::steady_clock;
    // The longest a lock is granted for, also when a client asks for longer or for "Infinite".
    static constexpr qint64 MaxTimeoutSeconds = 3600;
    // More locks than this are not granted (423), so that clients cannot fill the memory.
    static constexpr int MostLocks = 10000;

    struct Lock
    {
        QByteArray token;   // "opaquelocktoken:" and a random UUID
        QString root;       // the path locked, in the form normalized() gives
        bool exclusive = true;
        bool infinite = false; // depth infinity: what lies below `root` too
        QByteArray owner;   // the lock's DAV:owner element as XML, or nothing
        QString principal;  // who took it: the Basic user name, or nothing
        qint64 timeoutSeconds = MaxTimeoutSeconds;
        Clock::time_point expires;

        // Whether the lock covers the (normalized) `path`.
        bool covers(QStringView path) const;
        qint64 secondsLeft(Clock::time_point now) const;
    };

    // What a change does to an item, for mayChange(): its content and properties (Content), its
    // name in its folder (Member: the item is made, removed or renamed, which changes its folder)
    // and what lies below it (Tree: a folder that goes).
    enum Touch { Content = 1, Member = 2, Tree = 4 };

    // The path in the form locks keep: no "//" or "." names, no final "/", "/" for the share.
    static QString normalized(QStringView path);
    // The folder a normalized path lies in ("/" for "/a"; "/" for "/").
    static QString parentOf(QStringView normalized);

    bool isEmpty() const { return locks.isEmpty(); }
    void clear() { locks.clear(); }

    // The locks that cover `path` (on it, or with depth infinity above it).
    QList<const Lock *> covering(QStringView path);
    // The lock of `token`, or null.
    const Lock *find(QByteArrayView token);
    // Whether a new lock (`exclusive`, with depth infinity when `infinite`) on `path` would
    // conflict with one held: an exclusive one on or above it, or any one when the new lock is
    // exclusive; with depth infinity also those below it.
    bool conflicts(QStringView path, bool exclusive, bool infinite);
    // Grants a lock for `timeoutSeconds` (capped at MaxTimeoutSeconds); null when there are too
    // many. No check for conflicts: conflicts() is asked first.
    const Lock *add(QStringView path, bool exclusive, bool infinite, const QByteArray &owner,
                    const QString &principal, qint64 timeoutSeconds);
    // Gives the lock of `token` a new time; false when there is none.
    bool refresh(QByteArrayView token, qint64 timeoutSeconds);
    // Ends the lock of `token`; false when there is none.
    bool remove(QByteArrayView token);
    // Ends the locks on `path` and below it: what they are on is gone.
    void dropWithin(QStringView path);

    // Whether `principal` may change the item at `path` in the ways of `touch` with the lock
    // tokens `tokens` submitted. Each group of locks the change meets needs one of its locks
    // held (its token submitted, taken by the same principal): the locks that cover the item
    // (Content), those that cover the folder whose names change (Member: the item's folder, or
    // `memberOf`, the folder a folder is made in with its missing parents), and for each item
    // below the path (Tree) the locks on that item. Shared locks on one item make one group, so
    // one of them is enough.
    bool mayChange(QStringView path, int touch, const QList<QByteArray> &tokens, const QString &principal,
                   QStringView memberOf = QStringView());

    // A new lock token.
    static QByteArray newToken();

private:
    // Drops the locks whose time is up.
    void expire(Clock::time_point now);
    static bool held(const Lock &lock, const QList<QByteArray> &tokens, const QString &principal);

    QList<Lock> locks;
};

#endif
