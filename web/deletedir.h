#ifndef DELETEDIR_H
#define DELETEDIR_H

#include <QString>

// Removes a folder with everything in it and counts the items removed inside it (the folder
// itself is not counted). Symbolic links are never followed: a link, to a file or to a folder,
// broken or not, is removed as a link. Given the share it deletes in, it leaves the profile
// folder alone (and so fails) wherever the folder holds it.
class DeleteDir
{
public:
    explicit DeleteDir(const QString &path, const QString &shareRoot = QString());

    bool deleteDir();
    bool deleteDir(const QString &folder);
    int getDeleted() const { return deleted; }

private:
    int deleted = 0;
    bool ok = true;
    QString path;
    QString shareRoot;
};

#endif
