#ifndef SHAREPATH_H
#define SHAREPATH_H

#include <QString>

// Containment of file-system paths in the shared item, symbolic links resolved.
class SharePath
{
public:
    // True when `target` (existing or not) lies in `root` or is `root` itself: the nearest
    // existing item on its way, with every link resolved, is inside the resolved root.
    static bool contains(const QString &root, const QString &target);
    // The common case of contains() and the open of the file in one step: `target`, below
    // `root` by its name (no ".." name), opened for reading (without waiting, should it be a
    // pipe) when no name on the whole way is a link; then it lies in `root`. -1 otherwise,
    // which decides nothing: contains() has the answer.
    static int openInside(const QString &root, const QString &target);
    // True when `target` lies in the profile folder (Configuration::ConfigDir), which holds
    // passwords: never served, whatever is shared, even when the share holds it.
    static bool isPrivate(const QString &root, const QString &target);
    // Whether a walk through the share (a listing, a folder copy, a recursive delete) may take
    // the entry `path` that it found in a folder of the share it walks: never the profile
    // folder, and never a link (`link`: the entry itself is one) whose target is outside the
    // share or in the profile folder. The walk never enters a link to a folder, so an entry
    // that is no link lies in the share.
    // True when `path` (links resolved) is the profile folder or a folder that holds it.
    static bool holdsPrivate(const QString &root, const QString &path);
    static bool mayWalk(const QString &root, const QString &path, bool link);
};

#endif
