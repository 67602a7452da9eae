#ifndef PROPFIND_H
#define PROPFIND_H

#include "responses/dav.h"
#include "responses/davproperties.h"

struct stat;

// Answers PROPFIND with a "207 Multi-Status" document describing a file, a folder, or a folder
// and its entries (hidden ones too: what a client stored it finds again). The body asks for all
// properties (none at all does too), their names, or some by name; the live ones come from one
// status per item, the dead ones from the item's extended attributes, read only where they can
// be asked for. "Depth: infinity" is refused: the client walks the tree one folder at a time.
class PropFind : public Dav
{
    Q_OBJECT

public:
    explicit PropFind(HTTP_Request *request);

    using Dav::reply;
    void reply(QFileInfo *root, Configuration *config) override;

    // What one response element describes.
    struct Item
    {
        qint64 modified = 0; // milliseconds since the epoch
        qint64 created = 0;
        qint64 size = 0;
        bool folder = false;
        QStringView fileName; // for the content type
        QString itemPath;     // its path in the share, for its locks; null when no lock is held
    };

    // One response element for the item at the share path `path`, of status `status`, open at
    // `fd` (O_PATH will do).
    void addEnty(const QString &path, const struct stat &status, int fd, const QByteArray &prefix);
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
    // One response element of all live properties: its href is `href` followed by `name`
    // (UTF-8) encoded as appendHref() encodes paths.
    void addResponse(const QByteArray &href, QByteArrayView name, const Item &item);
    // One response element for any other request; `attributes` is a descriptor of the item for
    // its extended attributes (-1: it has none to read).
    void addAsked(const QByteArray &href, QByteArrayView name, const Item &item, int attributes);
    // The live properties of the content and of locking, appended to `out` for every item by
    // this one function: getetag and getcontenttype of a file (what GET sends as ETag and
    // Content-Type; no type where GET sends none), lockdiscovery (the locks that cover the item)
    // and supportedlock. `only` picks one of them; Live::None writes all four.
    void appendContentAndLocks(QByteArray *out, const Item &item, DavProperties::Live only);
    // The live property `name` of `item`, appended to `out`; false when the item has none.
    bool appendLive(QByteArray *out, const DavProperties::Name &name, const Item &item);
    // The room on the file system of the folder open at `fd` (bytes free, bytes used).
    void readQuota(int fd);

    QByteArray base; // connectionUrl() of the current request
    QByteArray piecesPrefix;
    QByteArray pieces[8];
    QByteArray livePieces[6];
    DavProperties::Request asked;
    bool plain = true; // all live properties and nothing else: the pieces serve
    qint64 quotaFree = -1;
    qint64 quotaUsed = -1;
};

#endif
