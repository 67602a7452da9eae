#ifndef SHAREWALK_H
#define SHAREWALK_H

#include "server/folderlisting.h"

#include <QString>
#include <QStringList>

#include <dirent.h>
#include <memory>
#include <vector>

// A walk through a folder of the share and everything below it, a little at a time, for the
// answers that take a whole tree (a folder as one archive, a search by name). It takes what the
// folder listing shows, by the listing's own rule (FolderListing::take): never the profile
// folder, never a link out of the share, hidden entries and folders as the switches say. A link
// to a folder is handed out but never entered (it may lead back up the tree), and neither is a
// folder when folders are not shown. Names that are not UTF-8 are left out: no request can name
// them. Each folder below is opened from the descriptor of the one above it, by its own name and
// without following a link, so that nothing put in a folder's place meanwhile leads elsewhere.
//
// The entries come folder by folder, each folder before its own entries and those by name. What
// is kept meanwhile is the folders on the way down, each with its descriptor and sorted entries;
// folders deeper than MaxDepth are handed out but not entered.
class ShareRoot;

class ShareWalk
{
public:
    struct Item
    {
        FolderListing::Entry entry;
        QString path; // below the walk's folder: "a/b.txt" (no "/" first, none after a folder)
        int depth = 0;  // 0 for the entries of the walk's folder
    };
    enum class Step {
        Entry, // `*item` is the next entry
        Later, // some names were read: ask again
        Done,  // nothing follows
    };
    // Most names read in one step.
    static constexpr int StepNames = 256;
    // Folders open at once on the way down.
    static constexpr int MaxDepth = 128;

    // The folder at the share path `folder` of `share` (which outlives the walk); `folders` and
    // `hidden` as the listing takes them.
    ShareWalk(ShareRoot &share, const QString &folder, bool folders, bool hidden);
    ~ShareWalk();
    ShareWalk(const ShareWalk &) = delete;
    ShareWalk &operator=(const ShareWalk &) = delete;

    // The folder itself could not be opened: nothing follows.
    bool failed() const { return levels.empty(); }
    // Takes only these entries of the folder (and what lies below them), in name order, each
    // once. A name that is not one plain name is refused (400); one the listing does not show
    // is missing (404). 0 when all are there.
    int select(const QStringList &names);

    Step next(Item *item);
    // Entries handed out so far.
    qint64 handed() const { return count; }

private:
    struct Level;
    // Reads more names of the folder at the end of the way; true once all are read.
    bool readNames(Level &level);

    ShareRoot &share;
    bool folders;
    bool hidden;
    std::vector<std::unique_ptr<Level>> levels;
    qint64 count = 0;
};

#endif
