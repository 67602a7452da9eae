#include "responses/propfind.h"

#include "config/configuration.h"
#include "server/folderlisting.h"
#include "server/http_request.h"
#include "server/sharepath.h"

#include <QDir>

#include <fcntl.h>
#include <sys/stat.h>

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
    Q_UNUSED(root);
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

    const QByteArray prefix = prefixOf(request->body);
    base = connectionUrl().toEncoded();

    body += prefix + "multistatus xmlns";
    if (!prefix.isEmpty())
        body += ':' + prefix.left(1);
    body += "=\"DAV:\">";

    // A file is described whatever the Depth: the "/" appended above is not part of its name.
    ShareRoot &items = share();
    ShareRoot::Opened target = items.open(path, O_PATH);
    struct stat status;
    bool found = target.reached() && ::fstat(target.fd.get(), &status) == 0;
    if (!found && withEntries && !request->path.endsWith(u'/')) {
        target = items.open(request->path, O_PATH);
        found = target.reached() && ::fstat(target.fd.get(), &status) == 0 && !S_ISDIR(status.st_mode);
    }
    if (target.refusal == ShareRoot::Outside || target.refusal == ShareRoot::Private) {
        body.clear();
        sendHeader("403 Forbidden", 0);
        return;
    }
    if (found && S_ISDIR(status.st_mode) && path.endsWith(u'/')) {
        if (withEntries)
            addEnty(path, status, prefix);
        addDir(path, target.fd.get(), prefix);
    } else if (found && (S_ISDIR(status.st_mode) || S_ISREG(status.st_mode))) {
        addEnty(path, status, prefix);
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

void PropFind::addDir(const QString &path, int folder, const QByteArray &prefix)
{
    makePieces(prefix);
    const QList<FolderListing::Entry> entries =
        FolderListing::read(share(), path, folder, listFolders, false, true, FolderListing::ByName, false);
    QString sharePath = QDir::cleanPath(u'/' + path);
    if (!sharePath.endsWith(u'/'))
        sharePath += u'/';
    QByteArray href;
    appendHref(&href, base, sharePath);
    body.reserve(body.size() + entries.size() * (300 + 14 * prefix.size() + href.size()));
    for (const FolderListing::Entry &entry : entries)
        addResponse(href, entry.name.toUtf8(), entry.modified, entry.folder, entry.size);
}

void PropFind::addEnty(const QString &path, const struct stat &status, const QByteArray &prefix)
{
    makePieces(prefix);
    QString sharePath = QDir::cleanPath(u'/' + path);
    if (sharePath.size() > 1 && sharePath.endsWith(u'/'))
        sharePath.chop(1);
    QByteArray href;
    appendHref(&href, base.isEmpty() ? connectionUrl().toEncoded() : base, sharePath == u"/" ? QString() : sharePath);
    addResponse(href, QByteArrayView(), qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000,
                S_ISDIR(status.st_mode), qint64(status.st_size));
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
