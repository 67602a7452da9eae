#include "server/sharepath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>
#include <cstdlib>

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
} // namespace

bool SharePath::contains(const QString &root, const QString &target)
{
    const QString canonicalRoot = canonical(root);
    if (canonicalRoot.isEmpty())
        return false;
    QString probe = QDir::cleanPath(target);
    if (!QDir::isAbsolutePath(probe))
        return false;
    // Mostly the item exists.
    const QString found = canonical(probe);
    if (!found.isEmpty())
        return within(found, canonicalRoot);
    for (int hop = 0; hop < MaxHops; ++hop) {
        const QFileInfo info(probe);
        if (info.exists())
            return within(info.canonicalFilePath(), canonicalRoot);
        if (info.isSymLink()) {
            // A dangling link: what it would create is where it points.
            probe = QDir::cleanPath(info.symLinkTarget());
            if (probe.isEmpty())
                return false;
            continue;
        }
        const QString parent = info.path();
        if (parent == probe || parent.isEmpty())
            return false;
        probe = parent;
    }
    return false;
}
