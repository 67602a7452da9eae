#include "responses/propfind.h"

#include "config/configuration.h"
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
    QDir::Filters filters = QDir::Files | QDir::Readable | QDir::NoDotAndDotDot;
    if (listFolders)
        filters |= QDir::Dirs;
    const QFileInfoList entries = QDir(folder->absoluteFilePath()).entryInfoList(filters, QDir::Name);
    for (QFileInfo entry : entries) {
        if (entry.isReadable())
            addEnty(rootDir, &entry, prefix);
    }
}

void PropFind::addEnty(QDir *rootDir, QFileInfo *entry, const QByteArray &prefix)
{
    QString relative = rootDir->relativeFilePath(entry->absoluteFilePath());
    if (relative == QLatin1String("."))
        relative.clear();
    const QByteArray &p = prefix;

    body += '<' + p + "response><" + p + "href>";
    body += href(u'/' + relative);
    body += "</" + p + "href><" + p + "propstat><" + p + "prop><" + p + "getlastmodified>";
    body += httpDate(entry->lastModified());
    body += "</" + p + "getlastmodified>";
    if (entry->isDir())
        body += '<' + p + "resourcetype><" + p + "collection/></" + p + "resourcetype>";
    body += '<' + p + "getcontentlength>" + QByteArray::number(entry->size()) + "</" + p
            + "getcontentlength>";
    body += "</" + p + "prop><" + p + "status>HTTP/1.1 200 OK</" + p + "status></" + p
            + "propstat></" + p + "response>";
}
