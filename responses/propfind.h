#ifndef PROPFIND_H
#define PROPFIND_H

#include "responses/dav.h"

struct stat;

// Answers PROPFIND with a "207 Multi-Status" document describing a file, a folder, or a folder
// and its entries: last modification time, collection type and size of each.
class PropFind : public Dav
{
    Q_OBJECT

public:
    explicit PropFind(HTTP_Request *request);

    using Dav::reply;
    void reply(QFileInfo *root, Configuration *config) override;

    // One response element for the item at the share path `path`, of status `status`.
    void addEnty(const QString &path, const struct stat &status, const QByteArray &prefix);
    // One response element for each listed entry of the folder at `path`, open at `folder`.
    void addDir(const QString &path, int folder, const QByteArray &prefix);

    // The namespace prefix a request body uses ("D:"), or nothing: only a letter before the
    // colon that precedes "propfind " counts.
    static QByteArray prefixOf(const QByteArray &requestBody);

    QByteArray body;
    bool listFolders = true;

private:
    // The fixed pieces of a response element, with the request's prefix.
    void makePieces(const QByteArray &prefix);
    // One response element: its href is `href` followed by `name` (UTF-8) encoded as appendHref()
    // encodes paths.
    void addResponse(const QByteArray &href, QByteArrayView name, qint64 modified, bool folder,
                     qint64 size);
    QByteArray base; // connectionUrl(), percent-encoded, for the current request
    QByteArray piecesPrefix;
    QByteArray pieces[6];
};

#endif
