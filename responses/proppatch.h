#ifndef PROPPATCH_H
#define PROPPATCH_H

#include "responses/dav.h"

// Answers PROPPATCH (RFC 4918 9.2) with a "207 Multi-Status" document of one propstat per
// property, in the order of the body. The instructions are applied all or none: when one is
// refused, nothing changes and the others are answered "424 Failed Dependency". The properties
// that set the modification time (getlastmodified, rclone's lastmodified, Windows'
// Win32LastModifiedTime) set it; the other live ones are protected (403); every other property
// is stored in the item's extended attributes (DeadProperties), and a file system that refuses
// them gets 507.
class PropPatch : public Dav
{
    Q_OBJECT

public:
    explicit PropPatch(HTTP_Request *request);

    using Dav::reply;
    void reply(QFileInfo *root, Configuration *config) override;

private:
    QByteArray body;
};

#endif
