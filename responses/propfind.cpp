#include "responses/propfind.h"

#include "config/configuration.h"
#include "server/folderlisting.h"
#include "server/http_request.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

PropFind::PropFind(HTTP_Request *request)
    : Dav(request)
{
    body.reserve(6000);
}

QByteArray PropFind::prefixOf(const QByteArray &requestBody)
{
    const qsizetype at = requestBody.indexOf("propfind ");
    if (at < 2 || requestBody.at(at - 1) != ':')
        return QByteArray();
    const char letter = requestBody.at(at - 2);
    if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')))
        return QByteArray();
    return QByteArray(1, letter) + ':';
}

void PropFind::reply(QFileInfo *root, Configuration *config)
{
    init(&body);
    QString path = request->path;
    listFolders = config->isFolder();

    // Depth 0 names the item itself; any other Depth its entries as well.
    bool withEntries = false;
    if (!request->depth.isEmpty()) {
        if (request->depth.contains('0')) {
            if (path.endsWith(u'/'))
                path.chop(1);
        } else {
            withEntries = true;
            if (!path.endsWith(u'/'))
                path += u'/';
        }
    }

    QDir rootDir(root->absoluteFilePath());
    const QByteArray prefix = prefixOf(request->body);
    base = connectionUrl().toEncoded();

    body += prefix + "multistatus xmlns";
    if (!prefix.isEmpty())
        body += ':' + prefix.left(1);
    body += "=\"DAV:\">";

    // A file is described whatever the Depth: the "/" appended above is not part of its name.
    QFileInfo target(mapped(root, path));
    if (withEntries && !request->path.endsWith(u'/')) {
        const QFileInfo named(mapped(root, request->path));
        if (named.isFile())
            target = named;
    }
    if (target.isDir() && path.endsWith(u'/')) {
        if (withEntries)
            addEnty(&rootDir, &target, prefix);
        addDir(&rootDir, &target, prefix);
    } else if (target.isDir() || target.isFile()) {
        addEnty(&rootDir, &target, prefix);
    } else {
        body.clear();
        sendHeader("404 Not Found", 0);
        return;
    }
    body += "</" + prefix + "multistatus>";
    sendHeader("207 Multi-Status", body.size());
    request->socket.write(body, true);
}

void PropFind::makePieces(const QByteArray &p)
{
    if (piecesPrefix == p && !pieces[0].isEmpty())
        return;
    piecesPrefix = p;
    pieces[0] = '<' + p + "response><" + p + "href>";
    pieces[1] = "</" + p + "href><" + p + "propstat><" + p + "prop><" + p + "getlastmodified>";
    pieces[2] = "</" + p + "getlastmodified>";
    pieces[3] = '<' + p + "resourcetype><" + p + "collection/></" + p + "resourcetype>";
    pieces[4] = '<' + p + "getcontentlength>";
    pieces[5] = "</" + p + "getcontentlength></" + p + "prop><" + p + "status>HTTP/1.1 200 OK</" + p
                + "status></" + p + "propstat></" + p + "response>";
}

void PropFind::addDir(QDir *rootDir, QFileInfo *folder, const QByteArray &prefix)
{
    makePieces(prefix);
    const QString path = folder->absoluteFilePath();
    const QList<FolderListing::Entry> entries = FolderListing::read(
        rootDir->absolutePath(), path, listFolders, false, true, FolderListing::ByName, false);
    QString sharePath = rootDir->relativeFilePath(path);
    if (sharePath == QLatin1String("."))
        sharePath.clear();
    sharePath.prepend(u'/');
    if (!sharePath.endsWith(u'/'))
        sharePath += u'/';
    QByteArray href;
    appendHref(&href, base, sharePath);
    body.reserve(body.size() + entries.size() * (300 + 14 * prefix.size() + href.size()));
    for (const FolderListing::Entry &entry : entries)
        addResponse(href, entry.name.toUtf8(), entry.modified, entry.folder, entry.size);
}

void PropFind::addEnty(QDir *rootDir, QFileInfo *entry, const QByteArray &prefix)
{
    makePieces(prefix);
    QString relative = rootDir->relativeFilePath(entry->absoluteFilePath());
    if (relative == QLatin1String("."))
        relative.clear();
    QByteArray href;
    appendHref(&href, base.isEmpty() ? connectionUrl().toEncoded() : base, QString(u'/' + relative));
    addResponse(href, QByteArrayView(), entry->lastModified().toMSecsSinceEpoch(), entry->isDir(),
                entry->size());
}

void PropFind::addResponse(const QByteArray &href, QByteArrayView name, qint64 modified, bool folder,
                           qint64 size)
{
    qsizetype room = href.size() + 5 * name.size() + 40 + 24;
    for (const QByteArray &piece : pieces)
        room += piece.size();
    const qsizetype at = body.size();
    body.resize(at + room);
    char *out = body.data() + at;
    const auto put = [&out](const QByteArray &bytes) {
        std::memcpy(out, bytes.constData(), size_t(bytes.size()));
        out += bytes.size();
    };
    put(pieces[0]);
    put(href);
    out = writeHrefPath(out, name);
    put(pieces[1]);
    out = writeDate(out, modified);
    put(pieces[2]);
    if (folder)
        put(pieces[3]);
    put(pieces[4]);
    char digits[24];
    const int n = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(size));
    std::memcpy(out, digits, size_t(n));
    out += n;
    put(pieces[5]);
    body.truncate(out - body.constData());
}
