#ifndef MOVE_H
#define MOVE_H

#include "responses/dav.h"

// Answers MOVE: renames a file or a folder to the Destination inside the share.
class Move : public Dav
{
    Q_OBJECT

public:
    explicit Move(HTTP_Request *request);

    using Dav::reply;
    void reply(QFileInfo *root, Configuration *config) override;

private:
    // The status of a move that was made, once the locks on the source have ended.
    const char *moved(const char *status);
};

#endif
