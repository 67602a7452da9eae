#include "web/deletedir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

DeleteDir::DeleteDir(const QString &path)
    : path(path)
{
}

bool DeleteDir::deleteDir()
{
    return deleteDir(path);
}

bool DeleteDir::deleteDir(const QString &folder)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const bool done = entry.isDir() && !entry.isSymLink() ? deleteDir(entry.absoluteFilePath())
                                                              : QFile::remove(entry.absoluteFilePath());
        if (done)
            ++deleted;
        else
            ok = false;
    }
    QDir dir(folder);
    if (dir.exists() && !dir.rmdir(folder))
        ok = false;
    return ok;
}
