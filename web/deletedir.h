#ifndef DELETEDIR_H
#define DELETEDIR_H

#include <QByteArray>
#include <QString>

class ShareRoot;

// Removes a folder with everything in it and counts the items removed inside it (the folder
// itself is not counted). It works down from descriptors, one name at a time, and never follows
// a symbolic link: a link, to a file or to a folder, broken or not, is removed as a link. In a
// share it leaves the profile folder alone (and so fails) wherever it finds it.
class DeleteDir
{
public:
    // The folder at the absolute `path` (the program's own folders).
    explicit DeleteDir(const QString &path);
    // The item `name` of the folder open at `folder`, in the share `share`.
    DeleteDir(int folder, const QByteArray &name, const ShareRoot *share);

    bool deleteDir();
    int getDeleted() const { return deleted; }

private:
    // Deletes the folder `name` of the folder open at `parent` with everything in it.
    bool deleteDir(int parent, const char *name);

    int deleted = 0;
    bool ok = true;
    QString path;
    int folder = -1;
    QByteArray name;
    const ShareRoot *share = nullptr;
};

#endif
