#ifndef MKCOL_H
#define MKCOL_H

#include "responses/dav.h"

// Answers MKCOL: creates a folder together with every missing parent. A request with a body is
// refused.
class MkCol : public Dav
{
    Q_OBJECT

public:
    explicit MkCol(HTTP_Request *request);

    using Dav::reply;
    void reply(QFileInfo *root) override;
};

#endif
