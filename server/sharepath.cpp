#include "server/sharepath.h"

#include "config/configuration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
// Links followed while looking for the nearest existing item; more means a loop.
constexpr int MaxHops = 40;

bool within(const QString &canonical, const QString &canonicalRoot)
{
    if (canonical == canonicalRoot)
        return true;
    if (canonicalRoot == QLatin1String("/"))
        return canonical.startsWith(u'/');
    return canonical.startsWith(canonicalRoot) && canonical.at(canonicalRoot.size()) == u'/';
}
// The path with every link resolved, or an empty text when it names nothing.
QString canonical(const QString &path)
{
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(path).constData(), resolved))
        return QString();
    return QFile::decodeName(resolved);
}

enum class Walk { Inside, Undecided };

// The common case, decided with one readlink(2) per name below the root and none for the root
// itself: `relative` (clean, no "." or ".." names) is walked name by name beneath `root` (an
// absolute clean path); as long as no name on the way is a link, the nearest existing item is
// the root's own item or one below it, wherever the root itself leads. A link on the way, a
// missing root or any other error leaves the answer to the full resolution.
Walk walkBelow(const QByteArray &root, const QByteArray &relative)
{
    if (relative.isEmpty() || root.size() + relative.size() + 2 > PATH_MAX)
        return Walk::Undecided;
    char path[PATH_MAX];
    char target[8];
    std::memcpy(path, root.constData(), size_t(root.size()));
    qsizetype end = root.size();
    qsizetype from = 0;
    bool first = true;
    while (from <= relative.size()) {
        qsizetype slash = relative.indexOf('/', from);
        if (slash < 0)
            slash = relative.size();
        const qsizetype length = slash - from;
        if (length == 0 || (length == 1 && relative.at(from) == '.')
            || (length == 2 && relative.at(from) == '.' && relative.at(from + 1) == '.'))
            return Walk::Undecided;
        path[end++] = '/';
        std::memcpy(path + end, relative.constData() + from, size_t(length));
        end += length;
        path[end] = '\0';
        if (::readlink(path, target, sizeof target) >= 0)
            return Walk::Undecided; // a link: resolved the full way
        if (errno == ENOENT || errno == ENOTDIR) {
            // The item before this name is the nearest existing item, and it is no link; right
            // below the root, the root has to exist.
            if (!first)
                return Walk::Inside;
            path[root.size()] = '\0';
            struct stat status;
            return ::stat(path, &status) == 0 ? Walk::Inside : Walk::Undecided;
        }
        if (errno != EINVAL)
            return Walk::Undecided;
        first = false;
        from = slash + 1;
    }
    return Walk::Inside;
}

// What the walk needs to know of a root, kept for the root asked about last (it is mostly the
// same one): its name as the file system takes it, when it is absolute and clean.
struct RootName
{
    QString root;
    QByteArray encoded; // empty: the walk does not apply
};

const QByteArray &walkableRoot(const QString &root)
{
    thread_local RootName last;
    if (last.root != root || last.root.isNull()) {
        last.root = root;
        last.encoded = root.size() > 1 && root.startsWith(u'/') && QDir::cleanPath(root) == root
                           ? QFile::encodeName(root)
                           : QByteArray();
    }
    return last.encoded;
}

// The nearest existing item on the way to `target`, every link resolved; a dangling link counts
// as where it points. Empty when there is none.
QString nearestExisting(const QString &target)
{
    QString probe = QDir::cleanPath(target);
    if (!QDir::isAbsolutePath(probe))
        return QString();
    // Mostly the item exists.
    const QString found = canonical(probe);
    if (!found.isEmpty())
        return found;
    for (int hop = 0; hop < MaxHops; ++hop) {
        const QFileInfo info(probe);
        if (info.exists())
            return info.canonicalFilePath();
        if (info.isSymLink()) {
            probe = QDir::cleanPath(info.symLinkTarget());
            if (probe.isEmpty())
                return QString();
            continue;
        }
        const QString parent = info.path();
        if (parent == probe || parent.isEmpty())
            return QString();
        probe = parent;
    }
    return QString();
}

} // namespace

bool SharePath::contains(const QString &root, const QString &target)
{
    // The root as given is already clean and absolute (it is kept that way), and the target
    // lies below it by its name: then only the names below the root need a look.
    if (root.size() < target.size() && target.startsWith(root) && target.at(root.size()) == u'/') {
        const QByteArray &encodedRoot = walkableRoot(root);
        if (!encodedRoot.isEmpty()) {
            // Not cleaned: "link/.." means the parent of where the link leads, so the walk
            // takes the names as they will be opened and leaves "." and ".." to the full way.
            QStringView probe(target);
            if (probe.endsWith(u'/'))
                probe.chop(1);
            if (probe.size() > root.size() + 1 && probe.startsWith(root) && probe.at(root.size()) == u'/'
                // (the same bytes as QFile::encodeName() of that part)
                && walkBelow(encodedRoot, probe.sliced(root.size() + 1).toLocal8Bit())
                       == Walk::Inside)
                return true;
        }
    }
    const QString canonicalRoot = canonical(root);
    if (canonicalRoot.isEmpty())
        return false;
    const QString found = nearestExisting(target);
    return !found.isEmpty() && within(found, canonicalRoot);
}

int SharePath::openInside(const QString &root, const QString &target)
{
#ifdef SYS_openat2
    if (root.size() < 2 || target.size() <= root.size() + 1 || !target.startsWith(root)
        || target.at(root.size()) != u'/' || !walkableRoot(root).size())
        return -1;
    for (const QStringView name : QStringView(target).sliced(root.size() + 1).tokenize(u'/')) {
        if (name == u"..")
            return -1;
    }
    const QByteArray name = QFile::encodeName(target);
    open_how how = {};
    how.flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd;
    do
        fd = ::syscall(SYS_openat2, AT_FDCWD, name.constData(), &how, sizeof how);
    while (fd < 0 && errno == EINTR);
    return fd >= 0 ? int(fd) : -1;
#else
    Q_UNUSED(root);
    Q_UNUSED(target);
    return -1;
#endif
}

namespace {

// The profile folder with every link resolved, when it lies in the share `root`; else empty.
// Decided once per share: mostly the profile folder is not inside it, and nothing more is looked
// at.
struct Profiles
{
    QString canonical;
    QString name; // its last name
};

const Profiles &profilesIn(const QString &root)
{
    thread_local QString lastRoot;
    thread_local QString lastProfiles;
    thread_local Profiles profiles;
    const QString &configDir = Configuration::ConfigDir;
    if (lastRoot != root || lastProfiles != configDir || lastRoot.isNull()) {
        lastRoot = root;
        lastProfiles = configDir;
        profiles.canonical = configDir.isEmpty() ? QString() : canonical(configDir);
        const QString canonicalRoot = canonical(root);
        if (canonicalRoot.isEmpty() || profiles.canonical.isEmpty() || !within(profiles.canonical, canonicalRoot))
            profiles.canonical.clear();
        profiles.name = profiles.canonical.mid(profiles.canonical.lastIndexOf(u'/') + 1);
    }
    return profiles;
}

} // namespace

bool SharePath::isPrivate(const QString &root, const QString &target)
{
    const Profiles &profiles = profilesIn(root);
    if (profiles.canonical.isEmpty())
        return false;
    const QString found = nearestExisting(target);
    return found.isEmpty() || within(found, profiles.canonical);
}

bool SharePath::holdsPrivate(const QString &root, const QString &path)
{
    const Profiles &profiles = profilesIn(root);
    if (profiles.canonical.isEmpty())
        return false;
    const QString found = canonical(path);
    return !found.isEmpty() && within(profiles.canonical, found);
}

bool SharePath::mayWalk(const QString &root, const QString &path, bool link)
{
    if (link)
        return contains(root, path) && !isPrivate(root, path);
    // An entry that is no link is the profile folder only when it bears the folder's own name,
    // and it cannot lie inside it: the walk never enters it.
    const Profiles &profiles = profilesIn(root);
    if (profiles.canonical.isEmpty() || !QStringView(path).endsWith(profiles.name))
        return true;
    return !isPrivate(root, path);
}
