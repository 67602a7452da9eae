#include "web/deletedir.h"

#include "server/sharepath.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

DeleteDir::DeleteDir(const QString &path)
    : path(path)
{
}

DeleteDir::DeleteDir(int folder, const QByteArray &name, const ShareRoot *share)
    : folder(folder)
    , name(name)
    , share(share)
{
}

bool DeleteDir::deleteDir()
{
    Descriptor parent;
    QByteArray item = name;
    int at = folder;
    if (share == nullptr) {
        QString given = path;
        while (given.size() > 1 && given.endsWith(u'/'))
            given.chop(1);
        const qsizetype slash = given.lastIndexOf(u'/');
        item = QFile::encodeName(given.mid(slash + 1));
        parent = Descriptor(::open(slash > 0 ? QFile::encodeName(given.left(slash)).constData() : slash == 0 ? "/" : ".",
                                   O_PATH | O_DIRECTORY | O_CLOEXEC));
        at = parent.get();
    }
    struct stat status;
    if (item.isEmpty() || item == "." || item == ".." || at < 0
        || ::fstatat(at, item.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return ok; // nothing there
    if (S_ISLNK(status.st_mode)) {
        // Named directly (a ticked item): only the link goes.
        if (::unlinkat(at, item.constData(), 0) != 0)
            ok = false;
        return ok;
    }
    if (!S_ISDIR(status.st_mode)) {
        ok = false;
        return ok;
    }
    return deleteDir(at, item.constData());
}

bool DeleteDir::deleteDir(int parent, const char *folderName)
{
    struct stat status;
    if (::fstatat(parent, folderName, &status, AT_SYMLINK_NOFOLLOW) != 0 || (share && share->isProfileFolder(status))) {
        ok = false;
        return ok;
    }
    const int fd = ::openat(parent, folderName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ok = false;
        return ok;
    }
    // Every name first: the folder changes while its entries go.
    QList<QByteArray> names;
    if (DIR *dir = ::fdopendir(fd)) {
        while (const dirent *d = ::readdir(dir)) {
            const char *entry = d->d_name;
            if (entry[0] == '.' && (entry[1] == 0 || (entry[1] == '.' && entry[2] == 0)))
                continue;
            names.append(QByteArray(entry));
        }
        // The descriptor stays open for the entries: closedir() would close it.
        const int kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        ::closedir(dir);
        if (kept < 0) {
            ok = false;
            return ok;
        }
        const Descriptor own(kept);
        for (const QByteArray &entry : names) {
            bool removed;
            if (::fstatat(own.get(), entry.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode))
                removed = deleteDir(own.get(), entry.constData());
            else
                removed = ::unlinkat(own.get(), entry.constData(), 0) == 0;
            if (removed)
                ++deleted;
            else
                ok = false;
        }
    } else {
        ::close(fd);
        ok = false;
        return ok;
    }
    if (::unlinkat(parent, folderName, AT_REMOVEDIR) != 0 && errno != ENOENT)
        ok = false;
    return ok;
}
