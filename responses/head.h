#ifndef HEAD_H
#define HEAD_H

#include "responses/dav.h"

#include <memory>

class FolderZip;

// Answers HEAD: for a file the head a GET would carry (length, type, disposition) without the
// body; for a folder "200 OK" alone, or the head of its archive ("a=zip").
class Head : public Dav
{
    Q_OBJECT

public:
    explicit Head(HTTP_Request *request);
    ~Head() override;

    using Dav::reply;
    void reply(QFileInfo *root) override;

private:
    std::unique_ptr<FolderZip> zip;
};

#endif
