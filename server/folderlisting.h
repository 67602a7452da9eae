#ifndef FOLDERLISTING_H
#define FOLDERLISTING_H

#include <QList>
#include <QString>

class ShareRoot;

// The entries of one folder of the share, read from its descriptor with one status per entry
// (not following links) and sorted, for the answers that list whole folders. Selection and
// order are those of QDir::entryInfoList with the same filters and sort flags, without a
// QFileInfo per entry and without a name ever being looked up again by its path.
class FolderListing
{
public:
    struct Entry
    {
        QString name;
        qint64 size = 0;      // as stat reports it, for folders too
        qint64 modified = 0;  // milliseconds since the epoch
        qint64 created = 0;   // the last change of the entry's status, the same
        bool folder = false;
        bool readable = true; // by this process
        bool link = false;    // the entry is a link (the other fields describe where it leads)
    };
    enum Order { ByName, ByTime, BySize, ByNameIgnoringCase };
    // What a listing takes and in which order.
    struct Options
    {
        bool folders = false;
        bool hidden = false;
        bool readableOnly = false;
        Order order = ByName;
        bool foldersFirst = false;
    };

    // The folder of the share at the share path `path`, open at `folder` (any descriptor of it,
    // O_PATH will do). Files always; folders when `folders`; hidden entries (a name that starts
    // with ".") when `hidden`; only readable entries when `readableOnly`. A link counts as
    // what it leads to, opened beneath the share like any item of it: links out of the share
    // and broken links are left out, and so are devices, sockets, pipes, "." and "..", the
    // profile folder and whatever lies in it, and the hidden files of new files being written
    // (a leftover whose writer died is removed). Name order compares names case-sensitively by
    // character code (ByNameIgnoringCase: ignoring case first); time order puts the newest
    // first and size order the largest; ties go by name. A folder that cannot be read lists as
    // empty.
    static QList<Entry> read(ShareRoot &share, QStringView path, int folder, const Options &options);
    // The entry `name` of that folder (`path` ends in '/'), looked at as read() does: false when
    // a listing leaves it out whatever it asks for (hidden names and readability are the
    // caller's to judge).
    static bool look(ShareRoot &share, QStringView path, int folder, const char *name, Entry *entry);
    // The entry `name` of that folder as read() takes it with these switches: false when the
    // listing leaves it out.
    static bool take(ShareRoot &share, QStringView path, int folder, const char *name, bool folders, bool hidden,
                     bool readableOnly, Entry *entry);
};

#endif
