#include "server/sharepath.h"

#include <QDir>
#include <QFileInfo>

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
} // namespace

bool SharePath::contains(const QString &root, const QString &target)
{
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    if (canonicalRoot.isEmpty())
        return false;
    QString probe = QDir::cleanPath(target);
    if (!QDir::isAbsolutePath(probe))
        return false;
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
