#ifndef DELETE_H
#define DELETE_H

#include "responses/dav.h"

// Answers DELETE: removes a file, a symbolic link or a whole folder. The shared folder itself is
// never removed.
class Delete : public Dav
{
    Q_OBJECT

public:
    explicit Delete(HTTP_Request *request);

    using Dav::reply;
    void reply(QFileInfo *root, Configuration *config) override;
};

#endif
