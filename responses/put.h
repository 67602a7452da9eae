#ifndef PUT_H
#define PUT_H

#include "responses/dav.h"
#include "server/newfile.h"

// Answers PUT: stores the request body as a file. The body is written to a new file in the
// target's folder that takes the target's name only once the whole body arrived, so an upload
// that fails leaves no partial file and an existing file keeps its old content.
class Put : public Dav
{
    Q_OBJECT

public:
    explicit Put(HTTP_Request *request);

    using Dav::reply;
    void reply(QFileInfo *root, Configuration *config) override;

    NewFile file;

public slots:
    void reply(int code) override;

private:
    QByteArray name;      // the target's name in the folder `file` is made in
    bool replacing = false;
};

#endif
