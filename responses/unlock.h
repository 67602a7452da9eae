#ifndef UNLOCK_H
#define UNLOCK_H

#include "responses/dav.h"

// Answers UNLOCK (RFC 4918 9.11): ends the lock whose token the Lock-Token header names, when
// it covers the item the request names and was taken by the same user.
class UnLock : public Dav
{
    Q_OBJECT

public:
    explicit UnLock(HTTP_Request *request);

    using Dav::reply;
    void reply() override;
};

#endif
