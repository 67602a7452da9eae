#ifndef DELETEDIR_H
#define DELETEDIR_H

#include <QString>

// Removes a folder with everything in it and counts the items removed inside it (the folder
// itself is not counted). Symbolic links are never followed: a link, to a file or to a folder,
// broken or not, is removed as a link.
class DeleteDir
{
public:
    explicit DeleteDir(const QString &path);

    bool deleteDir();
    bool deleteDir(const QString &folder);
    int getDeleted() const { return deleted; }

private:
    int deleted = 0;
    bool ok = true;
    QString path;
};

#endif
