#include "server/folderlisting.h"

#include "server/newfile.h"
#include "server/sharepath.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

// Whether this process may read the entry of status `st`, asked by faccessat(at, name, flags).
// access(2) judges by the real user: root may read everything, and an owner's read right is the
// owner's mode bit (also with access control lists). Only other entries need asking.
bool isReadable(int at, const char *name, int flags, const struct stat &st)
{
    static const uid_t uid = ::getuid();
    if (uid == 0)
        return true;
    if (st.st_uid == uid)
        return (st.st_mode & S_IRUSR) != 0;
    if (::faccessat(at, name, R_OK, flags) == 0)
        return true;
    // Without faccessat2() (AT_EMPTY_PATH): the bit for others.
    return errno == EINVAL && (st.st_mode & S_IROTH) != 0;
}

} // namespace

bool FolderListing::look(ShareRoot &share, QStringView path, int folder, const char *name, Entry *entry)
{
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
        return false;
    if (name[0] == '.' && NewFile::isHiddenName(name)) {
        NewFile::dropLeftover(folder, name);
        return false;
    }
    struct stat st;
    if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false; // gone
    entry->name = decodedName(name);
    entry->link = S_ISLNK(st.st_mode);
    Descriptor target;
    if (entry->link) {
        // Where it leads, reached as any item of the share: never out of it.
        ShareRoot::Opened opened = share.open(path.toString() + entry->name, O_PATH);
        if (!opened.reached() || ::fstat(opened.fd.get(), &st) != 0)
            return false;
        target = std::move(opened.fd);
    } else if (share.isProfileFolder(st)) {
        return false;
    }
    entry->folder = S_ISDIR(st.st_mode);
    if (!entry->folder && !S_ISREG(st.st_mode))
        return false;
    entry->readable = target.isOpen() ? isReadable(target.get(), "", AT_EMPTY_PATH, st) : isReadable(folder, name, 0, st);
    entry->size = qint64(st.st_size);
    entry->modified = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    entry->created = qint64(st.st_ctim.tv_sec) * 1000 + st.st_ctim.tv_nsec / 1000000;
    return true;
}

bool FolderListing::take(ShareRoot &share, QStringView path, int folder, const char *name, bool folders, bool hidden,
                        bool readableOnly, Entry *entry)
{
    if (!hidden && name[0] == '.' && !NewFile::isHiddenName(name))
        return false;
    if (!look(share, path, folder, name, entry))
        return false;
    if (entry->folder && !folders)
        return false;
    return !readableOnly || entry->readable;
}

QList<FolderListing::Entry> FolderListing::read(ShareRoot &share, QStringView path, int folder, const Options &options)
{
    QList<Entry> entries;
    // The folder itself, opened for reading without a name.
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return entries;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return entries;
    }
    QString folderPath = path.toString();
    if (!folderPath.endsWith(u'/'))
        folderPath += u'/';
    while (const dirent *d = ::readdir(dir)) {
        Entry entry;
        if (take(share, folderPath, fd, d->d_name, options.folders, options.hidden, options.readableOnly, &entry))
            entries.append(std::move(entry));
    }
    ::closedir(dir);

    std::sort(entries.begin(), entries.end(), [&options](const Entry &a, const Entry &b) {
        if (options.foldersFirst && a.folder != b.folder)
            return a.folder;
        if (options.order == ByTime && a.modified != b.modified)
            return a.modified > b.modified;
        if (options.order == BySize && a.size != b.size)
            return a.size > b.size;
        if (options.order == ByNameIgnoringCase) {
            if (const int c = a.name.compare(b.name, Qt::CaseInsensitive))
                return c < 0;
        }
        return a.name.compare(b.name) < 0;
    });
    return entries;
}
