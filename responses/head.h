#ifndef HEAD_H
#define HEAD_H

#include "responses/dav.h"

// Answers HEAD: for a file the head a GET would carry (length, type, disposition) without the
// body; for a folder "200 OK" alone.
class Head : public Dav
{
    Q_OBJECT

public:
    explicit Head(HTTP_Request *request);

    using Dav::reply;
    void reply(QFileInfo *root) override;
};

#endif
