#ifndef COPY_H
#define COPY_H

#include "responses/dav.h"

// Answers COPY: duplicates a file, or a folder with everything in it, at the Destination.
// A folder copy is answered with a "207 Multi-Status" document holding one status per file.
class Copy : public Dav
{
    Q_OBJECT

public:
    explicit Copy(HTTP_Request *request);

    using Dav::reply;
    void reply(QFileInfo *root, Configuration *config) override;

    void copyDir(const QFileInfo &source, const QFileInfo &targetFolder);
    void copyFile(const QFileInfo &source, const QFileInfo &destinationFolder);

    // Writes a copy of the file `from` at `to`. The copy takes the name `to` only once it is
    // complete, replacing a file that was there.
    static bool copyContent(const QString &from, const QString &to);

    QByteArray body;
    bool overwriteAllowed = true;

private:
    // Opens the response element of the entry at `path`; its href names it as the share does.
    void openResponse(const QString &path);
    // Closes it with `status`.
    void closeResponse(const char *status);

    QString rootPath;
};

#endif
