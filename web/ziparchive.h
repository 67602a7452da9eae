#ifndef ZIPARCHIVE_H
#define ZIPARCHIVE_H

#include <QByteArray>

#include <vector>

// The records of a ZIP archive of stored (uncompressed) entries that is written while it is
// sent, laid out before its first byte so that its length is known in advance.
//
// Every entry's name is UTF-8 (flag bit 11); its time of last change is kept twice, as the
// local DOS time and as seconds in the extended-timestamp field (0x5455). The data of a file
// follows its local header as it is; its CRC-32 is known only once the data has gone out, so
// it follows in a data descriptor (flag bit 3), which holds the sizes again. Folders are
// entries of their own whose names end in "/", with no data and no descriptor. Past 4 GiB (an
// entry, an offset, the central directory) or 65,535 entries the ZIP64 records take over the
// numbers that do not fit.
//
// What is kept per entry is what the central directory at the end needs: its own name (not its
// path: its folder is an earlier entry) and about 48 bytes.
class ZipArchive
{
public:
    struct Entry
    {
        qint64 size = 0;     // of the data; 0 for a folder
        qint64 offset = 0;   // of its local header, set by layout()
        qint64 modified = 0; // seconds since the epoch
        quint32 name = 0;    // where its own name starts in `names`
        quint32 parent = 0;  // the entry of its folder, or NoParent
        quint32 crc = 0;
        quint16 nameLength = 0;
        quint16 mode = 0;    // permission bits
        bool folder = false;
    };
    static constexpr quint32 NoParent = 0xffffffffu;
    // The most entries one archive holds: what bounds its memory (the entries and their names).
    static constexpr quint32 MaxEntries = 1000000;

    // Adds an entry named `name` (UTF-8, one name) in the folder entry `parent`. False, adding
    // nothing, once MaxEntries are held.
    bool add(QByteArrayView name, quint32 parent, qint64 size, qint64 modified, quint16 mode, bool folder);
    qsizetype count() const { return qsizetype(entries.size()); }
    const Entry &at(qsizetype i) const { return entries[size_t(i)]; }
    void setCrc(qsizetype i, quint32 crc) { entries[size_t(i)].crc = crc; }
    // The entry's path in the archive: the names of its folders and its own, with "/" after a
    // folder's.
    QByteArray path(qsizetype i) const;

    // Sets the offsets of the entries and returns the length of the whole archive.
    qint64 layout();

    // The local header of entry `i`, before its data.
    void appendLocalHeader(QByteArray *out, qsizetype i) const;
    // The data descriptor after a file's data (its CRC set by then).
    void appendDescriptor(QByteArray *out, qsizetype i) const;
    // Whether the data of entry `i` is followed by a descriptor.
    static bool hasDescriptor(const Entry &entry) { return !entry.folder; }
    // The central directory's record of entry `i`.
    void appendCentralRecord(QByteArray *out, qsizetype i) const;
    // The end of the central directory (with its ZIP64 records where needed).
    void appendEnd(QByteArray *out) const;

private:
    std::vector<Entry> entries;
    QByteArray names;
    qint64 centralStart = 0;
    qint64 centralSize = 0;
};

#endif
