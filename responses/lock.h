#ifndef LOCK_H
#define LOCK_H

#include "responses/dav.h"
#include "server/lockmanager.h"

#include <optional>

// Answers LOCK (RFC 4918 9.10): a new write lock on an item, or on a name not taken, which
// becomes an empty file (201), so that clients can lock before they write; or, without a body,
// a new time for a lock held, named by its token in the If header. The listener's LockManager
// keeps the locks; the connection handler refuses changes that meet them (Preconditions).
class Lock : public Dav
{
    Q_OBJECT

public:
    explicit Lock(HTTP_Request *request);

    using Dav::reply;
    void reply(QFileInfo *root) override;

    // What a LOCK body (a DAV:lockinfo document) asks for; nothing when it is no such document.
    struct Info
    {
        bool exclusive = true;
        QByteArray owner; // the DAV:owner element as XML (prefix "D"), or nothing
    };
    static std::optional<Info> infoOf(const QByteArray &requestBody);
    // The seconds a Timeout header asks for (its first well-formed value), at most
    // LockManager::MaxTimeoutSeconds, which is also what "Infinite" and nothing give.
    static qint64 timeoutOf(const QByteArray &header);
    // Appends the DAV:activelock element of `lock`, its element names with `prefix` ("D:" or
    // nothing), its lockroot under the connection's URL `base` (percent-encoded).
    static void appendActiveLock(QByteArray *out, const LockManager::Lock &lock, const QByteArray &prefix,
                                 const QByteArray &base);

    QByteArray body;

private:
    // The answer that tells the lock: its token and the lockdiscovery property with it.
    void answer(const char *status, const LockManager::Lock &lock);
};

#endif
