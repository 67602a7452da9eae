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
    // True when `target` lies in the profile folder (Configuration::ConfigDir), which holds
    // passwords: never served, whatever is shared, even when the share holds it.
    static bool isPrivate(const QString &root, const QString &target);
};

#endif
