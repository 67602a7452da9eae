#ifndef FOLDERLISTING_H
#define FOLDERLISTING_H

#include <QList>
#include <QString>

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
    };
    enum Order { ByName, ByTime, BySize };

    // Files always; folders when `folders`; hidden entries (a name that starts with ".") when
    // `hidden`; only readable entries when `readableOnly`. Links count as what they point at;
    // broken links, devices, sockets and pipes are left out, as are "." and "..". Name order
    // compares names case-sensitively by character code; time order puts the newest first and
    // size order the largest; ties go by name. A folder that cannot be read lists as empty.
    static QList<Entry> read(const QString &folder, bool folders, bool hidden, bool readableOnly,
                             Order order, bool foldersFirst);
};

#endif
