#ifndef OPTIONS_H
#define OPTIONS_H

#include "responses/dav.h"

// Answers OPTIONS: WebDAV classes 1 and 2 and the methods this server accepts.
class Options : public Dav
{
    Q_OBJECT

public:
    explicit Options(HTTP_Request *request);

    using Dav::reply;
    void reply() override;
};

#endif
