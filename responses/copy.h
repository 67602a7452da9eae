#ifndef COPY_H
#define COPY_H

#include "responses/dav.h"

struct stat;

// Answers COPY: duplicates a file, or a folder with everything in it, at the Destination.
// A folder copy is answered with a "207 Multi-Status" document holding one status per file.
// Everything is read from descriptors opened beneath the share and written through them.
class Copy : public Dav
{
    Q_OBJECT

public:
    explicit Copy(HTTP_Request *request);

    using Dav::reply;
    void reply(QFileInfo *root, Configuration *config) override;

    // Copies the content of the folder open at `source` (at the share path `sourcePath`) into
    // the folder at the share path `targetPath`, made when missing, recursively.
    void copyDir(int source, const QString &sourcePath, const QString &targetPath);
    // Copies the file open at `source` (the share path `sourcePath`) as `name` into the folder
    // open at `destinationFolder` (-1: it could not be made) and appends its response element.
    void copyFile(int source, const QString &sourcePath, int destinationFolder, const QByteArray &name);

    // Writes a copy of the file open at `from` as `name` in the folder open at `folder`. The
    // copy takes the name only once it is complete, replacing a file that was there when
    // `replace` is set.
    static bool copyContent(int from, int folder, const QByteArray &name, bool replace);

    QByteArray body;
    bool overwriteAllowed = true;

private:
    // Opens the response element of the item at the share path `path`.
    void openResponse(const QString &path);
    // Closes it with `status`.
    void closeResponse(const char *status);
};

#endif
