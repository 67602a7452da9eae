#ifndef FOLDERLISTING_H
#define FOLDERLISTING_H

#include <QList>
#include <QString>

#include <dirent.h>

// The entries of one folder, read with one stat per entry and sorted, for the answers that list
// whole folders. Selection and order are those of QDir::entryInfoList with the same filters
// and sort flags, without a QFileInfo per entry.
class FolderListing
{
public:
    struct Entry
    {
        QString name;
        qint64 size = 0;      // as stat reports it, for folders too
        qint64 modified = 0;  // milliseconds since the epoch
        bool folder = false;
        bool link = false; // the entry is a link (the other fields describe where it leads)
    };
    enum Order { ByName, ByTime, BySize };
    // An upload is received under a hidden name that starts so, next to the name it gets.
    static constexpr char UploadPrefix[] = ".upload-";
    // One that nothing has written for this long was left by a server that was stopped dead.
    static constexpr qint64 LeftoverAgeSeconds = 24 * 60 * 60;

    // Files always; folders when `folders`; hidden entries (a name that starts with ".") when
    // `hidden`; only readable entries when `readableOnly`. Links count as what they point at;
    // broken links, devices, sockets and pipes are left out, as are "." and "..", and so is what
    // a walk of the share `root` may not take (links out of it, the profile folder; see
    // SharePath::mayWalk) and the hidden files of uploads in progress; such a file left over
    // from a server that was stopped dead is removed. Name order
    // compares names case-sensitively by character code; time order puts the newest first and
    // size order the largest; ties go by name. A folder that cannot be read lists as empty.
    // Whether the entry at `path` is the hidden file of an upload, which no listing shows; one
    // left over from a server that was stopped dead is removed.
    static bool isUpload(const QString &path);
    static QList<Entry> read(const QString &root, const QString &folder, bool folders, bool hidden,
                             bool readableOnly, Order order, bool foldersFirst);
    // The rule of read() for the one entry `name` of the folder open at `fd`, whose path ends in
    // "/" (`folderPath`): false when the listing leaves it out, else `*entry` is what it shows.
    // `type` is the entry's type as the folder told it (dirent's d_type), when known.
    static bool readEntry(const QString &root, const QString &folderPath, int fd, const char *name, bool folders,
                          bool hidden, bool readableOnly, Entry *entry, int type = DT_UNKNOWN);
};

#endif
