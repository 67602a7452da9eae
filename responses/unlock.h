#ifndef UNLOCK_H
#define UNLOCK_H

#include "responses/dav.h"

// Answers UNLOCK: always a success, as no lock is ever held.
class UnLock : public Dav
{
    Q_OBJECT

public:
    explicit UnLock(HTTP_Request *request);

    using Dav::reply;
    void reply() override;
};

#endif
