#include "responses/propfind.h"

#include "config/configuration.h"
#include "server/folderlisting.h"
#include "server/http_request.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

PropFind::PropFind(HTTP_Request *request)
    : Dav(request)
{
    setObjectName(QStringLiteral("PF"));
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

void PropFind::addDir(QDir *rootDir, QFileInfo *folder, const QByteArray &prefix)
{
    const QString path = folder->absoluteFilePath();
    const QList<FolderListing::Entry> entries = FolderListing::read(
        path, listFolders, false, true, FolderListing::ByName, false);
    QString sharePath = rootDir->relativeFilePath(path);
    if (sharePath == QLatin1String("."))
        sharePath.clear();
    sharePath.prepend(u'/');
    if (!sharePath.endsWith(u'/'))
        sharePath += u'/';
    const qsizetype folderLength = sharePath.size();
    body.reserve(body.size() + entries.size() * (360 + 14 * prefix.size()));
    QByteArray href;
    for (const FolderListing::Entry &entry : entries) {
        sharePath.truncate(folderLength);
        sharePath += entry.name;
        href.clear();
        appendHref(&href, base, sharePath);
        addResponse(prefix, href, entry.modified, entry.folder, entry.size);
    }
}

void PropFind::addEnty(QDir *rootDir, QFileInfo *entry, const QByteArray &prefix)
{
    QString relative = rootDir->relativeFilePath(entry->absoluteFilePath());
    if (relative == QLatin1String("."))
        relative.clear();
    QByteArray href;
    appendHref(&href, base.isEmpty() ? connectionUrl().toEncoded() : base, QString(u'/' + relative));
    addResponse(prefix, href, entry->lastModified().toMSecsSinceEpoch(), entry->isDir(), entry->size());
}

void PropFind::addResponse(const QByteArray &p, const QByteArray &href, qint64 modified, bool folder,
                           qint64 size)
{
    const auto open = [this, &p](const char *name) {
        body += '<';
        body += p;
        body += name;
        body += '>';
    };
    const auto close = [this, &p](const char *name) {
        body += "</";
        body += p;
        body += name;
        body += '>';
    };
    open("response");
    open("href");
    body += href;
    close("href");
    open("propstat");
    open("prop");
    open("getlastmodified");
    appendDate(&body, modified);
    close("getlastmodified");
    if (folder) {
        open("resourcetype");
        open("collection/");
        close("resourcetype");
    }
    open("getcontentlength");
    body += QByteArray::number(size);
    close("getcontentlength");
    close("prop");
    open("status");
    body += "HTTP/1.1 200 OK";
    close("status");
    close("propstat");
    close("response");
}
