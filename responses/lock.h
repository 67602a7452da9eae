#ifndef LOCK_H
#define LOCK_H

#include "responses/dav.h"

// Answers LOCK with a lock for an existing item or for a new name in an existing folder, so that
// clients can lock before they write. No lock is recorded or enforced: every lock is granted
// and UNLOCK always succeeds. A refresh (no body, the lock named in the If header) is answered
// with the token it names.
class Lock : public Dav
{
    Q_OBJECT

public:
    explicit Lock(HTTP_Request *request);

    using Dav::reply;
    void reply(QFileInfo *root) override;

    // "shared" when the request body asks for a shared lock, "exclusive" otherwise.
    static QByteArray scopeOf(const QByteArray &requestBody);
    // The lock token an If header names ("<opaquelocktoken:...>"), or nothing.
    static QByteArray tokenOf(const QByteArray &ifHeader);
    // The first timeout a Timeout header asks for when it is well-formed, else an hour.
    static QByteArray timeoutOf(const QByteArray &header);

    QByteArray body;
};

#endif
