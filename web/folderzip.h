#ifndef FOLDERZIP_H
#define FOLDERZIP_H

#include "server/socket.h"
#include "web/ziparchive.h"

#include <QFile>
#include <QString>

#include <memory>
#include <vector>

class Response;
class ShareRoot;
class ShareWalk;

// A folder of the share, or some of its entries, as one ZIP archive of stored entries, made
// while it goes out: "GET folder/?a=zip" (all of it) or "?a=zip&n=NAME&n=NAME" (the entries
// named, files or folders), and HEAD the same without the body.
//
// First the tree is walked, a slice at a time between the other connections' turns, taking
// what the folder listing shows (ShareWalk); that gives every name and size, and so the
// archive's length, before the head goes out. Then each entry: its local header, the file's
// data the socket's way (the kernel sends it on a plain connection; its bytes are read once
// more, from the page cache, for the CRC-32), its data descriptor; then the central directory.
// Memory: the archive's entries (ZipArchive: about 48 bytes and the own name of each, at most
// ZipArchive::MaxEntries of them; more are refused before anything is sent), the folders on the
// way down, and a slice of output.
//
// A file is sent as long as it was when the tree was walked. Has it grown since, only those
// bytes go; has it shrunk, gone or become something else, the archive cannot be completed: the
// connection is closed, and the client sees the download fail.
class FolderZip final : private Socket::Producer, private FileSender::Tap
{
public:
    // The most bytes one slice writes, and the longest it runs.
    static constexpr qsizetype SliceBytes = 64 * 1024;
    static constexpr int SliceMs = 4;

    // The answers of `response` (its head, its content type).
    explicit FolderZip(Response *response);
    ~FolderZip();
    FolderZip(const FolderZip &) = delete;
    FolderZip &operator=(const FolderZip &) = delete;

    // Answers with the archive of the folder at the share path `path`; `body` false: the head
    // alone.
    void reply(const QString &path, bool body);

private:
    enum class Phase { Walk, Entries, Central };

    bool produce(QByteArray *out) override;
    void seen(const char *data, qint64 length) override;
    // Walks on for a slice; true once the walk is over.
    bool walkSome();
    // Appends the entries from `index` on, until a file's data goes out as a part of its own;
    // false when the archive cannot be completed.
    bool addEntries(QByteArray *out);
    // The file of entry `index`, opened and checked against the size it had; -1 when it cannot be.
    int openEntry();
    // The archive cannot be completed: the connection closes.
    bool cut();

    Response *response;
    std::unique_ptr<ShareWalk> walk;
    ZipArchive archive;
    // The entries of the folders on the way down, by depth.
    std::vector<quint32> parents;
    ShareRoot *share = nullptr;
    QString folder; // the share path of the archived folder, ending in "/"
    QString name;   // of the archive's file
    bool body = true;
    bool tooMany = false;
    bool broken = false; // the archive cannot be completed: the connection closes
    // Under a traffic limit every file's data goes out as a part, in pieces that stop at the
    // limit, and the records in slices of a piece's size.
    qsizetype sliceBytes = SliceBytes;
    qint64 inlineBelow = Socket::DirectSendFrom;
    Phase phase = Phase::Walk;
    qsizetype index = 0;
    // The data of entry `index` is going out as a part.
    bool partSent = false;
    quint32 crc = 0;
    QFile file;
};

#endif
