#include "server/folderlisting.h"

#include "server/sharepath.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// QFile::decodeName(), without its converter for the common names that are ASCII only (the same
// text in every local 8-bit encoding).
QString decodedName(const char *name)
{
    const size_t length = std::strlen(name);
    for (size_t i = 0; i < length; ++i) {
        if (uchar(name[i]) >= 0x80)
            return QFile::decodeName(name);
    }
    return QString::fromLatin1(name, qsizetype(length));
}

// Removes the upload file `name` of the folder `dirFd` when nothing has written it for a day.
void dropLeftover(int dirFd, const char *name, qint64 now)
{
    struct stat own;
    if (::fstatat(dirFd, name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(own.st_mode)
        && now - qint64(own.st_mtim.tv_sec) > FolderListing::LeftoverAgeSeconds)
        ::unlinkat(dirFd, name, 0);
}

} // namespace

bool FolderListing::isUpload(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (!QStringView(path).sliced(slash + 1).startsWith(QLatin1String(UploadPrefix)))
        return false;
    dropLeftover(AT_FDCWD, QFile::encodeName(path).constData(), qint64(::time(nullptr)));
    return true;
}

bool FolderListing::readEntry(const QString &root, const QString &folderPath, int fd, const char *name, bool folders,
                              bool hidden, bool readableOnly, Entry *entry, int type)
{
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
        return false;
    if (std::strncmp(name, UploadPrefix, sizeof UploadPrefix - 1) == 0) {
        dropLeftover(fd, name, qint64(::time(nullptr)));
        return false;
    }
    if (!hidden && name[0] == '.')
        return false;
    struct stat st;
    if (::fstatat(fd, name, &st, 0) != 0)
        return false; // gone, or a broken link
    const bool isFolder = S_ISDIR(st.st_mode);
    if (!isFolder && !S_ISREG(st.st_mode))
        return false;
    if (isFolder && !folders)
        return false;
    // access(2) judges by the real user: root may read everything, and an owner's read right
    // is the owner's mode bit (also with access control lists). Only other entries need asking.
    if (readableOnly) {
        const uid_t uid = ::getuid();
        const bool readable = uid == 0 || (st.st_uid == uid ? (st.st_mode & S_IRUSR) != 0
                                                            : ::faccessat(fd, name, R_OK, 0) == 0);
        if (!readable)
            return false;
    }
    entry->name = decodedName(name);
    entry->link = type == DT_LNK;
    if (type == DT_UNKNOWN) {
        struct stat own;
        entry->link = ::fstatat(fd, name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
    }
    if (!SharePath::mayWalk(root, folderPath + entry->name, entry->link))
        return false;
    entry->size = qint64(st.st_size);
    entry->modified = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    entry->folder = isFolder;
    return true;
}

QList<FolderListing::Entry> FolderListing::read(const QString &root, const QString &folder, bool folders,
                                                bool hidden, bool readableOnly, Order order, bool foldersFirst)
{
    QList<Entry> entries;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return entries;
    const int fd = ::dirfd(dir);
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    Entry entry;
    while (const dirent *d = ::readdir(dir)) {
        if (readEntry(root, prefix, fd, d->d_name, folders, hidden, readableOnly, &entry, d->d_type))
            entries.append(std::move(entry));
    }
    ::closedir(dir);

    std::sort(entries.begin(), entries.end(), [order, foldersFirst](const Entry &a, const Entry &b) {
        if (foldersFirst && a.folder != b.folder)
            return a.folder;
        if (order == ByTime && a.modified != b.modified)
            return a.modified > b.modified;
        if (order == BySize && a.size != b.size)
            return a.size > b.size;
        return a.name.compare(b.name) < 0;
    });
    return entries;
}
