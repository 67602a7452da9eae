#ifndef DELETEDIR_H
#define DELETEDIR_H

#include <QString>

// Removes a folder with everything in it and counts what it removed. Symbolic links are removed
// as links: the deletion never descends into what they point at.
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
