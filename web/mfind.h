#ifndef MFIND_H
#define MFIND_H

#include "server/response.h"
#include "web/filter.h"

class QFileInfo;

// The listing service of the applet file manager (a PROPFIND from the client "mc"): plain CR LF
// lines without an HTTP head, one record per entry, filtered and optionally recursive.
//
//   file:    prefix + name, size, modification time (seconds since 1970 UTC), picture reference
//   folder:  prefix + name + "/", modification time (not in recursive mode)
//   end:     one empty line after all records of a folder listing
class Mfind : public Response
{
    Q_OBJECT

public:
    explicit Mfind(HTTP_Request *request);

    using Response::reply;
    using Response::sendFile;
    void reply(QFileInfo *root, Configuration *config) override;

    // The records of the folder at the share path `path`, open at `folder`.
    void sendDir(QByteArray prefix, int folder, const QString &path, bool top);
    // Lines 2 to 4 of a file's record: its size, time and picture (the file's name in the share
    // is `path`).
    void sendFile(const QByteArray &prefix, qint64 size, qint64 modifiedMs, const QString &path);

    QByteArray listing;
    bool thumbnails = false;
    Filter filter;

private:
    void addPicture(const QByteArray &prefix, const QString &path);

    QString rootPath; // the share of the current request
};

#endif
