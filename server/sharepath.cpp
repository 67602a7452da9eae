#include "server/sharepath.h"

#include "config/configuration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
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

bool SharePath::isPrivate(const QString &root, const QString &target)
{
    // Decided once per share: mostly the profile folder is not inside it, and nothing more is
    // looked at.
    thread_local QString lastRoot;
    thread_local QString lastProfiles;
    thread_local QString canonicalProfiles;
    const QString &profiles = Configuration::ConfigDir;
    if (lastRoot != root || lastProfiles != profiles || lastRoot.isNull()) {
        lastRoot = root;
        lastProfiles = profiles;
        canonicalProfiles = profiles.isEmpty() ? QString() : canonical(profiles);
        const QString canonicalRoot = canonical(root);
        if (canonicalRoot.isEmpty() || canonicalProfiles.isEmpty() || !within(canonicalProfiles, canonicalRoot))
            canonicalProfiles.clear();
    }
    if (canonicalProfiles.isEmpty())
        return false;
    const QString found = nearestExisting(target);
    return found.isEmpty() || within(found, canonicalProfiles);
}
