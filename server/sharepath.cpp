#include "server/sharepath.h"

#include "config/configuration.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

void Descriptor::reset(int other)
{
    if (fd >= 0)
        ::close(fd);
    fd = other;
}

qint64 readAt(int fd, char *to, qint64 count, qint64 offset)
{
    qint64 got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd, to + got, size_t(count - got), off_t(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    return got;
}

namespace {

// Links followed on one way; more is taken for a loop (the kernel's own bound).
constexpr int MaxLinks = 40;
// Folders climbed from an item to the shared folder at most.
constexpr int MaxDepth = 4096;
// How long a look at the shared path holds.
constexpr std::chrono::seconds RecheckAfter(1);

// Set once openat2() turned out to be missing (kernels before 5.6): every way is walked by hand.
bool noOpenat2 = false;

ShareRoot::Refusal refusalOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ShareRoot::Missing;
    case EXDEV:
    case ELOOP:
        return ShareRoot::Outside;
    default:
        return ShareRoot::Failed;
    }
}

ShareRoot::Opened refused(int error)
{
    ShareRoot::Opened opened;
    opened.refusal = refusalOf(error);
    opened.error = error;
    return opened;
}

// Calls `take` with each name of a path in turn (QStringView or QByteArrayView), leaving out
// empty names and ".".
template <typename View, typename Take>
void eachName(View path, Take take)
{
    qsizetype from = 0;
    for (qsizetype end = 0; end <= path.size(); ++end) {
        if (end < path.size() && path.at(end) != u'/')
            continue;
        const View name = path.sliced(from, end - from);
        if (!name.isEmpty() && !(name.size() == 1 && name.at(0) == u'.'))
            take(name);
        from = end + 1;
    }
}

QList<QByteArray> namesOf(QByteArrayView path)
{
    QList<QByteArray> names;
    eachName(path, [&names](QByteArrayView name) { names.append(name.toByteArray()); });
    return names;
}

// Where the item open at `fd` is, every link resolved; empty when that cannot be told.
QByteArray realPath(int fd)
{
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link, target, sizeof target);
    if (n <= 0 || n >= ssize_t(sizeof target) || target[0] != '/')
        return QByteArray();
    return QByteArray(target, n);
}

bool within(const QByteArray &path, const QByteArray &folder)
{
    if (folder == "/")
        return true;
    return path.startsWith(folder) && (path.size() == folder.size() || path.at(folder.size()) == '/');
}

QByteArray canonical(const QString &path)
{
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), resolved))
        return QByteArray();
    return QByteArray(resolved);
}

long openBeneath(int folder, const char *name, int flags)
{
#ifdef SYS_openat2
    open_how how = {};
    how.flags = quint64(flags | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    // EAGAIN: a rename elsewhere in the tree raced with a "..".
    for (int attempt = 0; attempt < 8; ++attempt) {
        const long fd = ::syscall(SYS_openat2, folder, name, &how, sizeof how);
        if (fd >= 0 || (errno != EINTR && errno != EAGAIN))
            return fd;
    }
    return -1;
#else
    Q_UNUSED(folder);
    Q_UNUSED(name);
    Q_UNUSED(flags);
    errno = ENOSYS;
    return -1;
#endif
}

} // namespace

QByteArray ShareRoot::relativeName(QStringView path)
{
    while (path.startsWith(u'/'))
        path = path.sliced(1);
    // Empty names and "." go, as a file's path spelled "a.txt/." or "//a.txt" has always named
    // it; a slash at the end stays (a folder, then).
    if (path.contains(u"//") || path.contains(u"/.") || path.startsWith(u'.')) {
        QString clean;
        eachName(path, [&clean](QStringView name) {
            if (!clean.isEmpty())
                clean += u'/';
            clean += name;
        });
        if (!clean.isEmpty() && path.endsWith(u'/'))
            clean += u'/';
        return clean.isEmpty() ? QByteArrayLiteral(".") : clean.toLocal8Bit();
    }
    if (path.isEmpty())
        return QByteArrayLiteral(".");
    // The same bytes as QFile::encodeName().
    return path.toLocal8Bit();
}

QStringView ShareRoot::lastName(QStringView path)
{
    for (;;) {
        if (path.endsWith(u'/'))
            path.chop(1);
        else if (path.endsWith(u"/."))
            path.chop(2);
        else
            break;
    }
    return path.sliced(path.lastIndexOf(u'/') + 1);
}

bool ShareRoot::isPlainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(u'/') && !name.contains(QChar(0));
}

void ShareRoot::use(const QString &path, bool single)
{
    if (!used || path != rootPath || single != singleFile || Configuration::ConfigDir != profilesPath) {
        used = true;
        rootPath = path;
        singleFile = single;
        profilesPath = Configuration::ConfigDir;
        reopen();
        return;
    }
    if (std::chrono::steady_clock::now() - checked >= RecheckAfter)
        recheck();
}

void ShareRoot::reopen()
{
    checked = std::chrono::steady_clock::now();
    root.reset();
    profiles.reset();
    rootNames.clear();
    privateShare = false;
    rootStatus = {};
    if (rootPath.isEmpty())
        return;

    QByteArray rootCanonical;
    if (!singleFile) {
        // The shared path itself is the owner's: links on it are followed.
        root = Descriptor(::open(QFile::encodeName(rootPath).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!root.isOpen() || ::fstat(root.get(), &rootStatus) != 0) {
            root.reset();
            return;
        }
        rootCanonical = realPath(root.get());
    }
    if (rootCanonical.isEmpty())
        rootCanonical = canonical(rootPath);
    // An absolute link into the share names it by its own path, or by the path it is shared at.
    rootNames = {namesOf(rootCanonical)};
    const QByteArray given = QFile::encodeName(QDir::cleanPath(rootPath));
    if (given.startsWith('/') && !given.contains("/..") && given != rootCanonical)
        rootNames.append(namesOf(given));

    const QByteArray profilesCanonical = profilesPath.isEmpty() ? QByteArray() : canonical(profilesPath);
    if (profilesCanonical.isEmpty() || rootCanonical.isEmpty())
        return;
    if (within(rootCanonical, profilesCanonical)) {
        privateShare = true;
        return;
    }
    if (singleFile || !within(profilesCanonical, rootCanonical))
        return;
    profiles = Descriptor(::open(profilesCanonical.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (profiles.isOpen() && ::fstat(profiles.get(), &profilesStatus) != 0)
        profiles.reset();
    // A profile folder in the share that cannot be held: nothing of the share is safe to give.
    if (!profiles.isOpen())
        privateShare = true;
}

bool ShareRoot::recheck()
{
    checked = std::chrono::steady_clock::now();
    if (singleFile || rootPath.isEmpty())
        return false;
    struct stat now;
    if (::stat(QFile::encodeName(rootPath).constData(), &now) != 0 || !S_ISDIR(now.st_mode)) {
        if (!root.isOpen())
            return false;
        root.reset();
        return true;
    }
    if (root.isOpen() && sameItem(now, rootStatus))
        return false;
    reopen();
    return true;
}

ShareRoot::Opened ShareRoot::open(QStringView path, int flags)
{
    // A share that is gone may be back.
    if (!singleFile && !root.isOpen())
        recheck();
    if (privateShare) {
        Opened opened;
        opened.refusal = Private;
        opened.error = EACCES;
        return opened;
    }
    if (singleFile || !root.isOpen())
        return refused(ENOENT);
    const QByteArray name = relativeName(path);
    Opened opened = resolve(name, flags);
    // Not found: the shared folder may have been replaced since it was opened.
    if (opened.refusal == Missing && recheck())
        opened = root.isOpen() && !privateShare ? resolve(name, flags) : refused(ENOENT);
    if (opened.refusal == Missing && profiles.isOpen()) {
        // Nothing is told of what the profile folder does not hold either.
        for (qsizetype slash = name.lastIndexOf('/'); slash > 0; slash = name.lastIndexOf('/', slash - 1)) {
            const Opened above = resolve(name.first(slash), O_PATH);
            if (above.reached()) {
                if (isPrivate(above.fd.get())) {
                    opened.refusal = Private;
                    opened.error = EACCES;
                }
                break;
            }
        }
    }
    if (!opened.reached())
        return opened;
    if (name == ".") {
        // The shared folder itself, deleted while it is served, still opens.
        struct stat status;
        if (::fstat(opened.fd.get(), &status) == 0 && status.st_nlink == 0) {
            recheck();
            opened = root.isOpen() ? resolve(name, flags) : refused(ENOENT);
            if (!opened.reached())
                return opened;
        }
    }
    if (profiles.isOpen() && isPrivate(opened.fd.get())) {
        opened.fd.reset();
        opened.refusal = Private;
        opened.error = EACCES;
    }
    return opened;
}

ShareRoot::Opened ShareRoot::resolve(const QByteArray &relative, int flags) const
{
    if (!noOpenat2) {
        Opened opened;
        opened.fd = Descriptor(int(openBeneath(root.get(), relative.constData(), flags)));
        if (opened.fd.isOpen()) {
            opened.refusal = Reached;
            return opened;
        }
        if (errno == ENOSYS)
            noOpenat2 = true;
        else if (errno != EXDEV)
            return refused(errno);
    }
    return walk(relative, flags);
}

ShareRoot::Opened ShareRoot::walk(const QByteArray &relative, int flags) const
{
    // The way down as descriptors: each name is looked up in the folder before it, never by a
    // path again, and ".." goes back to the folder the way came from.
    std::vector<Descriptor> folders;
    folders.emplace_back(::openat(root.get(), ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folders.back().isOpen())
        return refused(errno);
    QList<QByteArray> names = namesOf(relative);
    if (relative.endsWith('/'))
        flags |= O_DIRECTORY;
    int links = 0;
    while (!names.isEmpty()) {
        const QByteArray name = names.takeFirst();
        if (name == "..") {
            if (folders.size() == 1)
                return refused(EXDEV);
            folders.pop_back();
            continue;
        }
        const int at = folders.back().get();
        Descriptor item(::openat(at, name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat status;
        if (!item.isOpen() || ::fstat(item.get(), &status) != 0)
            return refused(errno);
        if (S_ISLNK(status.st_mode)) {
            if (++links > MaxLinks)
                return refused(ELOOP);
            char target[PATH_MAX];
            const ssize_t n = ::readlinkat(item.get(), "", target, sizeof target);
            if (n <= 0 || n >= ssize_t(sizeof target))
                return refused(n < 0 ? errno : ENAMETOOLONG);
            const QByteArrayView text(target, n);
            QList<QByteArray> more = namesOf(text);
            if (text.startsWith('/')) {
                // Absolute: only a path through the shared folder's own path.
                const auto through = std::find_if(rootNames.cbegin(), rootNames.cend(), [&more](const QList<QByteArray> &top) {
                    return more.size() >= top.size() && more.first(top.size()) == top;
                });
                if (through == rootNames.cend())
                    return refused(EXDEV);
                more.remove(0, through->size());
                folders.resize(1);
            }
            names = more + names;
            continue;
        }
        if (!names.isEmpty()) {
            if (!S_ISDIR(status.st_mode))
                return refused(ENOTDIR);
            folders.push_back(std::move(item));
            continue;
        }
        // The last name: opened as asked, and not if it has become a link meanwhile.
        Opened opened;
        opened.fd = Descriptor(::openat(at, name.constData(), flags | O_NOFOLLOW | O_CLOEXEC));
        if (!opened.fd.isOpen())
            return refused(errno);
        if (flags & O_PATH) {
            if (::fstat(opened.fd.get(), &status) != 0 || S_ISLNK(status.st_mode))
                return refused(ELOOP);
        }
        opened.refusal = Reached;
        return opened;
    }
    // The way ended in a folder ("." or ".." last).
    Opened opened;
    opened.fd = Descriptor(::openat(folders.back().get(), ".", flags | O_CLOEXEC));
    if (!opened.fd.isOpen())
        return refused(errno);
    opened.refusal = Reached;
    return opened;
}

ShareRoot::Place ShareRoot::place(QStringView given)
{
    Place result;
    const QString clean = QDir::cleanPath(QLatin1Char('/') + given.toString());
    QStringView path(clean);
    while (path.endsWith(u'/'))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(u'/');
    const QStringView last = path.sliced(slash + 1);
    if (last.isEmpty() || last == u"." || last == u"..") {
        result.refusal = Outside;
        result.error = EBUSY;
        return result;
    }
    Opened folder = open(path.first(slash + 1), O_PATH | O_DIRECTORY);
    result.refusal = folder.refusal;
    result.error = folder.error;
    if (!folder.reached())
        return result;
    result.folder = std::move(folder.fd);
    result.name = last.toLocal8Bit();
    struct stat status;
    if (profiles.isOpen() && ::fstatat(result.folder.get(), result.name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
        && isProfileFolder(status)) {
        result.folder.reset();
        result.refusal = Private;
        result.error = EACCES;
    }
    return result;
}

ShareRoot::Refusal ShareRoot::makeFolders(QStringView path)
{
    qsizetype from = 0;
    while (from < path.size()) {
        qsizetype end = path.indexOf(u'/', from);
        if (end < 0)
            end = path.size();
        const QStringView name = path.sliced(from, end - from);
        if (!name.isEmpty() && name != u".") {
            Place folder = place(path.first(end));
            if (!folder.reached())
                return folder.refusal;
            if (::mkdirat(folder.folder.get(), folder.name.constData(), 0777) != 0 && errno != EEXIST)
                return refusalOf(errno);
        }
        from = end + 1;
    }
    return open(path, O_PATH | O_DIRECTORY).refusal;
}

bool ShareRoot::isPrivate(int fd) const
{
    if (privateShare)
        return true;
    if (!profiles.isOpen())
        return false;
    // Its place now, whatever names led there; when it cannot be told, it is not given.
    const QByteArray item = realPath(fd);
    const QByteArray folder = realPath(profiles.get());
    return item.isEmpty() || folder.isEmpty() || within(item, folder);
}

bool ShareRoot::isProfileFolder(const struct stat &status) const
{
    return profiles.isOpen() && S_ISDIR(status.st_mode) && sameItem(status, profilesStatus);
}

bool ShareRoot::holdsProfiles(const struct stat &folder) const
{
    return profiles.isOpen() && lies(profiles.get(), folder);
}

bool ShareRoot::isRoot(const struct stat &status) const
{
    return root.isOpen() && sameItem(status, rootStatus);
}

bool ShareRoot::lies(int folder, const struct stat &ancestor) const
{
    // Up by "..", which is where the folder really is, to the shared folder or the top.
    Descriptor at(::openat(folder, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat status;
    for (int depth = 0; depth < MaxDepth; ++depth) {
        if (!at.isOpen() || ::fstat(at.get(), &status) != 0)
            return true; // cannot be told: taken as the answer that refuses
        if (sameItem(status, ancestor))
            return true;
        if (isRoot(status))
            return false;
        Descriptor up(::openat(at.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat above;
        if (!up.isOpen() || ::fstat(up.get(), &above) != 0)
            return true;
        if (sameItem(above, status))
            return false; // the top of the file system
        at = std::move(up);
    }
    return true;
}
