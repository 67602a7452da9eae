#include "web/deletedir.h"

#include "server/sharepath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

DeleteDir::DeleteDir(const QString &path, const QString &shareRoot)
    : path(path)
    , shareRoot(shareRoot)
{
}

bool DeleteDir::deleteDir()
{
    return deleteDir(path);
}

bool DeleteDir::deleteDir(const QString &folder)
{
    const QFileInfo self(folder);
    if (self.isSymLink()) {
        // Named directly (a ticked item): only the link goes.
        if (!QFile::remove(folder))
            ok = false;
        return ok;
    }
    if (!shareRoot.isEmpty() && !SharePath::mayWalk(shareRoot, folder, false)) {
        ok = false;
        return ok;
    }
    const QDir dir(folder);
    const QFileInfoList entries = dir.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo &entry : entries) {
        bool removed;
        if (entry.isDir() && !entry.isSymLink())
            removed = deleteDir(entry.absoluteFilePath());
        else
            removed = QFile::remove(entry.absoluteFilePath());
        if (removed)
            ++deleted;
        else
            ok = false;
    }
    if (self.exists() && !QDir().rmdir(folder))
        ok = false;
    return ok;
}
