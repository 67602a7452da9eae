#ifndef MFIND_H
#define MFIND_H

#include "server/response.h"
#include "server/socket.h"
#include "web/filter.h"

#include <QStringList>

#include <memory>
#include <vector>

class QFileInfo;

// The listing service of the applet file manager (a PROPFIND from the client "mc"): plain CR LF
// lines without an HTTP head, one record per entry, filtered and optionally recursive.
//
//   file:    prefix + name, size, modification time (seconds since 1970 UTC), picture reference
//   folder:  prefix + name + "/", modification time (not in recursive mode)
//   end:     one empty line after all records of a folder listing
//
// A folder listing is made in slices while it goes out (Socket::Producer): a slice reads some
// names of a folder or writes some records, so that a listing of a large tree neither holds up
// the other connections nor gathers in memory. What is kept meanwhile is the walk: the sorted
// names of each folder on the way down, and a descriptor of each, opened beneath the share, in
// which its entries are looked at and its sub-folders opened (never a path by its name).
class Mfind : public Response, private Socket::Producer
{
    Q_OBJECT

public:
    // Most records written, and most names read, in one slice.
    static constexpr int SliceEntries = 512;
    static constexpr int SliceNames = 2048;
    // A slice ends once it has written this many bytes, or run this long.
    static constexpr qsizetype SliceBytes = 64 * 1024;
    static constexpr int SliceMs = 4;

    explicit Mfind(HTTP_Request *request);
    ~Mfind() override;

    using Response::reply;
    using Response::sendFile;
    void reply(QFileInfo *root, Configuration *config) override;

    // Lines 2 to 4 of a file's record: its size, time and picture (the file's name in the share
    // is `path`).
    void sendFile(const QByteArray &prefix, qint64 size, qint64 modifiedMs, const QString &path);

    QByteArray listing;
    bool thumbnails = false;
    Filter filter;

private:
    // One folder on the way down the walk.
    struct Level;

    bool produce(QByteArray *out) override;
    // Goes on reading the names of the folder at the end of the walk; true once all are read.
    bool readNames(Level &level, int *budget);
    // Appends the record of the next entry of that folder, or goes down into it.
    void nextEntry(Level &level);
    void addPicture(const QByteArray &prefix, const QString &path);

    QString rootPath; // the share of the current request
    bool hidden = false;
    std::vector<std::unique_ptr<Level>> walk;
};

#endif
