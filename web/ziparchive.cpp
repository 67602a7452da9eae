#include "web/ziparchive.h"

#include <QVarLengthArray>

#include <ctime>
#include <limits>
#include <sys/stat.h>

namespace {

// The record signatures and the numbers of the format (PKWARE's APPNOTE, 4.3 and 4.5).
constexpr quint32 LocalSignature = 0x04034b50;
constexpr quint32 DescriptorSignature = 0x08074b50;
constexpr quint32 CentralSignature = 0x02014b50;
constexpr quint32 Zip64EndSignature = 0x06064b50;
constexpr quint32 Zip64LocatorSignature = 0x07064b50;
constexpr quint32 EndSignature = 0x06054b50;
constexpr quint16 Zip64Field = 0x0001;
constexpr quint16 TimestampField = 0x5455;
// Version 2.0 (folders) and 4.5 (ZIP64); made on Unix, whose mode bits the attributes carry.
constexpr quint16 PlainVersion = 20;
constexpr quint16 Zip64Version = 45;
constexpr quint16 MadeBy = (3 << 8) | Zip64Version;
constexpr quint16 Utf8Names = 1 << 11;
constexpr quint16 DataDescriptor = 1 << 3;
constexpr quint32 DosFolder = 0x10;
// A 32-bit field holding this says that the number is in the ZIP64 field.
constexpr qint64 Max32 = 0xffffffff;
constexpr qint64 Max16 = 0xffff;

constexpr int LocalHeaderSize = 30;
constexpr int CentralRecordSize = 46;
constexpr int EndSize = 22;
constexpr int Zip64EndSize = 56;
constexpr int Zip64LocatorSize = 20;
// The extended timestamp with the time of last change only: 2 + 2 + 1 + 4.
constexpr int TimestampSize = 9;
// The local ZIP64 field: both sizes.
constexpr int LocalZip64Size = 4 + 16;

bool isLarge(const ZipArchive::Entry &e)
{
    return e.size >= Max32;
}

int descriptorSize(const ZipArchive::Entry &e)
{
    return ZipArchive::hasDescriptor(e) ? (isLarge(e) ? 24 : 16) : 0;
}

int localExtraSize(const ZipArchive::Entry &e)
{
    return TimestampSize + (isLarge(e) ? LocalZip64Size : 0);
}

// The ZIP64 field of a central record holds the numbers that do not fit, in this order: the
// size, the compressed size (the same: stored), the offset.
int centralZip64Fields(const ZipArchive::Entry &e)
{
    return (isLarge(e) ? 2 : 0) + (e.offset >= Max32 ? 1 : 0);
}

int centralExtraSize(const ZipArchive::Entry &e)
{
    const int fields = centralZip64Fields(e);
    return TimestampSize + (fields > 0 ? 4 + 8 * fields : 0);
}

class Writer
{
public:
    explicit Writer(QByteArray *to)
        : out(to)
    {
    }
    void u16(quint32 v)
    {
        const char b[2] = {char(v & 0xff), char((v >> 8) & 0xff)};
        out->append(b, 2);
    }
    void u32(quint32 v)
    {
        const char b[4] = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char((v >> 24) & 0xff)};
        out->append(b, 4);
    }
    void u64(quint64 v)
    {
        u32(quint32(v & 0xffffffffu));
        u32(quint32(v >> 32));
    }
    // A number of a 32-bit field, or the mark that the ZIP64 field holds it.
    void u32or64(qint64 v) { u32(quint32(qMin(v, Max32))); }
    void bytes(QByteArrayView b) { out->append(b); }

private:
    QByteArray *out;
};

// The local time as MS-DOS keeps it: two-second steps, the years 1980 to 2107.
void dosTime(qint64 seconds, quint16 *time, quint16 *date)
{
    const time_t t = time_t(seconds);
    struct tm local = {};
    if (!::localtime_r(&t, &local) || local.tm_year < 80) {
        *time = 0;
        *date = (1 << 5) | 1;
        return;
    }
    if (local.tm_year > 207) {
        *time = quint16((23 << 11) | (59 << 5) | 29);
        *date = quint16((127 << 9) | (12 << 5) | 31);
        return;
    }
    *time = quint16((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    *date = quint16(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
}

void timestampField(Writer &w, qint64 seconds)
{
    // Seconds since 1970 as a signed 32-bit number, as the readers take it.
    const qint64 t = qBound(qint64(std::numeric_limits<qint32>::min()), seconds, qint64(std::numeric_limits<qint32>::max()));
    w.u16(TimestampField);
    w.u16(5);
    w.bytes("\x01"); // the time of last change only
    w.u32(quint32(qint32(t)));
}

} // namespace

bool ZipArchive::add(QByteArrayView name, quint32 parent, qint64 size, qint64 modified, quint16 mode, bool folder)
{
    if (entries.size() >= MaxEntries)
        return false;
    Entry e;
    e.size = folder ? 0 : size;
    e.modified = modified;
    e.name = quint32(names.size());
    e.nameLength = quint16(name.size());
    e.parent = parent;
    e.mode = mode;
    e.folder = folder;
    names.append(name);
    entries.push_back(e);
    return true;
}

QByteArray ZipArchive::path(qsizetype i) const
{
    QVarLengthArray<quint32, 32> chain;
    qsizetype length = 0;
    for (quint32 at = quint32(i); at != NoParent; at = entries[at].parent) {
        chain.append(at);
        length += entries[at].nameLength + 1;
    }
    QByteArray path;
    path.reserve(length);
    for (qsizetype k = chain.size() - 1; k >= 0; --k) {
        const Entry &e = entries[chain[k]];
        path.append(names.constData() + e.name, e.nameLength);
        if (k > 0 || e.folder)
            path.append('/');
    }
    return path;
}

qint64 ZipArchive::layout()
{
    qint64 offset = 0;
    qint64 central = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        Entry &e = entries[i];
        const qint64 pathLength = path(qsizetype(i)).size();
        e.offset = offset;
        offset += LocalHeaderSize + pathLength + localExtraSize(e) + e.size + descriptorSize(e);
        central += CentralRecordSize + pathLength + centralExtraSize(e);
    }
    centralStart = offset;
    centralSize = central;
    const bool zip64 = qint64(entries.size()) >= Max16 || centralSize >= Max32 || centralStart >= Max32;
    return centralStart + centralSize + (zip64 ? Zip64EndSize + Zip64LocatorSize : 0) + EndSize;
}

void ZipArchive::appendLocalHeader(QByteArray *out, qsizetype i) const
{
    const Entry &e = entries[size_t(i)];
    const QByteArray name = path(i);
    quint16 time = 0;
    quint16 date = 0;
    dosTime(e.modified, &time, &date);
    Writer w(out);
    w.u32(LocalSignature);
    w.u16(isLarge(e) ? Zip64Version : PlainVersion);
    w.u16(Utf8Names | (hasDescriptor(e) ? DataDescriptor : 0));
    w.u16(0); // stored
    w.u16(time);
    w.u16(date);
    // The CRC and the sizes follow the data, in its descriptor; a folder has none of them.
    w.u32(0);
    w.u32(0);
    w.u32(0);
    w.u16(quint16(name.size()));
    w.u16(quint16(localExtraSize(e)));
    w.bytes(name);
    if (isLarge(e)) {
        // Says that the descriptor holds 8-byte sizes.
        w.u16(Zip64Field);
        w.u16(16);
        w.u64(0);
        w.u64(0);
    }
    timestampField(w, e.modified);
}

void ZipArchive::appendDescriptor(QByteArray *out, qsizetype i) const
{
    const Entry &e = entries[size_t(i)];
    Writer w(out);
    w.u32(DescriptorSignature);
    w.u32(e.crc);
    if (isLarge(e)) {
        w.u64(quint64(e.size));
        w.u64(quint64(e.size));
    } else {
        w.u32(quint32(e.size));
        w.u32(quint32(e.size));
    }
}

void ZipArchive::appendCentralRecord(QByteArray *out, qsizetype i) const
{
    const Entry &e = entries[size_t(i)];
    const QByteArray name = path(i);
    quint16 time = 0;
    quint16 date = 0;
    dosTime(e.modified, &time, &date);
    const int fields = centralZip64Fields(e);
    Writer w(out);
    w.u32(CentralSignature);
    w.u16(MadeBy);
    w.u16(fields > 0 ? Zip64Version : PlainVersion);
    w.u16(Utf8Names | (hasDescriptor(e) ? DataDescriptor : 0));
    w.u16(0);
    w.u16(time);
    w.u16(date);
    w.u32(e.crc);
    w.u32or64(e.size);
    w.u32or64(e.size);
    w.u16(quint16(name.size()));
    w.u16(quint16(centralExtraSize(e)));
    w.u16(0); // no comment
    w.u16(0); // disk
    w.u16(0); // internal attributes
    const quint32 type = e.folder ? S_IFDIR : S_IFREG;
    w.u32(((type | e.mode) << 16) | (e.folder ? DosFolder : 0));
    w.u32or64(e.offset);
    w.bytes(name);
    if (fields > 0) {
        w.u16(Zip64Field);
        w.u16(quint16(8 * fields));
        if (isLarge(e)) {
            w.u64(quint64(e.size));
            w.u64(quint64(e.size));
        }
        if (e.offset >= Max32)
            w.u64(quint64(e.offset));
    }
    timestampField(w, e.modified);
}

void ZipArchive::appendEnd(QByteArray *out) const
{
    const qint64 count = qint64(entries.size());
    Writer w(out);
    if (count >= Max16 || centralSize >= Max32 || centralStart >= Max32) {
        const qint64 zip64End = centralStart + centralSize;
        w.u32(Zip64EndSignature);
        w.u64(Zip64EndSize - 12); // the size of the rest of the record
        w.u16(MadeBy);
        w.u16(Zip64Version);
        w.u32(0); // this disk
        w.u32(0); // the disk of the central directory
        w.u64(quint64(count));
        w.u64(quint64(count));
        w.u64(quint64(centralSize));
        w.u64(quint64(centralStart));
        w.u32(Zip64LocatorSignature);
        w.u32(0);
        w.u64(quint64(zip64End));
        w.u32(1); // disks in all
    }
    w.u32(EndSignature);
    w.u16(0);
    w.u16(0);
    w.u16(quint16(qMin(count, Max16)));
    w.u16(quint16(qMin(count, Max16)));
    w.u32or64(centralSize);
    w.u32or64(centralStart);
    w.u16(0); // no comment
}
