#ifndef LOCK_H
#define LOCK_H

#include "responses/dav.h"

// Answers LOCK with a lock for an existing item or for a new name in an existing folder, so that
// clients can lock before they write. No lock is recorded or enforced: every lock is granted
// and UNLOCK always succeeds.
class Lock : public Dav
{
    Q_OBJECT

public:
    explicit Lock(HTTP_Request *request);

    using Dav::reply;
    void reply(QFileInfo *root) override;

    // "shared" when the request body asks for a shared lock, "exclusive" otherwise.
    static QByteArray scopeOf(const QByteArray &requestBody);
    // The first timeout a Timeout header asks for when it is well-formed, else an hour.
    static QByteArray timeoutOf(const QByteArray &header);

    QByteArray body;
};

#endif
