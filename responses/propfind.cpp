#include "responses/propfind.h"

#include "config/configuration.h"
#include "responses/deadproperties.h"
#include "responses/filetypes.h"
#include "responses/preconditions.h"
#include "responses/lock.h"
#include "server/folderlisting.h"
#include "server/http_request.h"
#include "server/httpdate.h"
#include "server/servercontext.h"
#include "server/sharepath.h"
#include "server/statusline.h"

#include <QDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <utility>

namespace {

using DavProperties::Live;
using DavProperties::Name;

qint64 milliseconds(const struct timespec &time)
{
    return qint64(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
}

// The live properties every item has, in the order all of them are listed.
const Name DavName(const char *local)
{
    return Name{QByteArray("DAV:"), QByteArray(local)};
}

} // namespace

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
    quotaFree = quotaUsed = -1;

    // The whole tree in one answer is refused (RFC 4918 9.1): the client asks folder by folder.
    if (request->depth.trimmed().compare("infinity", Qt::CaseInsensitive) == 0) {
        body += "D:error xmlns:D=\"DAV:\"><D:propfind-finite-depth/></D:error>";
        sendHeader(StatusLine::Forbidden, body.size());
        request->socket.write(body, true);
        return;
    }
    // A body that is not a propfind document is refused, never taken for another request.
    if (!DavProperties::readPropFind(request->body, &asked)) {
        body.clear();
        sendHeader("400 Bad Request", 0);
        return;
    }
    plain = asked.kind == DavProperties::Request::AllProp && asked.names.isEmpty();

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
    base = connectionUrl();

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
        sendHeader(StatusLine::Forbidden, 0);
        return;
    }
    if (found && S_ISDIR(status.st_mode) && path.endsWith(u'/')) {
        if (withEntries)
            addEnty(path, status, target.fd.get(), prefix);
        addDir(path, target.fd.get(), prefix);
    } else if (found && (S_ISDIR(status.st_mode) || S_ISREG(status.st_mode))) {
        addEnty(path, status, target.fd.get(), prefix);
    } else {
        body.clear();
        sendHeader(StatusLine::NotFound, 0);
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
    pieces[2] = "</" + p + "getlastmodified><" + p + "creationdate>";
    pieces[3] = "</" + p + "creationdate>";
    pieces[4] = '<' + p + "resourcetype><" + p + "collection/></" + p + "resourcetype>";
    pieces[5] = '<' + p + "getcontentlength>";
    pieces[6] = "</" + p + "getcontentlength>";
    pieces[7] = "</" + p + "prop><" + p + "status>HTTP/1.1 " + StatusLine::Ok + "</" + p + "status></" + p
                + "propstat></" + p + "response>";
    livePieces[0] = '<' + p + "getetag>";
    livePieces[1] = "</" + p + "getetag>";
    livePieces[2] = '<' + p + "getcontenttype>";
    livePieces[3] = "</" + p + "getcontenttype>";
    livePieces[4] = '<' + p + "lockdiscovery/>";
    livePieces[5] = '<' + p + "supportedlock><" + p + "lockentry><" + p + "lockscope><" + p + "exclusive/></" + p
              + "lockscope><" + p + "locktype><" + p + "write/></" + p + "locktype></" + p + "lockentry><" + p
              + "lockentry><" + p + "lockscope><" + p + "shared/></" + p + "lockscope><" + p + "locktype><" + p
              + "write/></" + p + "locktype></" + p + "lockentry></" + p + "supportedlock>";
}

void PropFind::appendContentAndLocks(QByteArray *out, const Item &item, Live only)
{
    const auto wanted = [only](Live kind) { return only == Live::None || only == kind; };
    if (!item.folder && wanted(Live::ETag)) {
        char tag[Preconditions::EntityTagSize];
        append(out, {livePieces[0], QByteArrayView(tag, Preconditions::writeEntityTag(tag, item.size, item.modified) - tag),
                     livePieces[1]});
    }
    // A file's type is the one GET sends; a type GET does not send is not told.
    const FileTypes::Row *type = item.folder ? nullptr : FileTypes::ofName(item.fileName);
    if (type && type->contentType && *type->contentType && wanted(Live::ContentType))
        append(out, {livePieces[2], QByteArrayView(type->contentType), livePieces[3]});
    if (wanted(Live::LockDiscovery)) {
        QList<const LockManager::Lock *> active;
        if (!item.itemPath.isNull())
            active = request->context->locks().covering(item.itemPath);
        if (active.isEmpty()) {
            *out += livePieces[4];
        } else {
            const QByteArray &p = piecesPrefix;
            *out += '<' + p + "lockdiscovery>";
            for (const LockManager::Lock *lock : std::as_const(active))
                Lock::appendActiveLock(out, *lock, p, base);
            *out += "</" + p + "lockdiscovery>";
        }
    }
    if (wanted(Live::SupportedLock))
        *out += livePieces[5];
}

void PropFind::addDir(const QString &path, int folder, const QByteArray &prefix)
{
    makePieces(prefix);
    FolderListing::Options listing;
    listing.folders = listFolders;
    listing.hidden = listing.readableOnly = true;
    const QList<FolderListing::Entry> entries = FolderListing::read(share(), path, folder, listing);
    QString sharePath = QDir::cleanPath(u'/' + path);
    if (!sharePath.endsWith(u'/'))
        sharePath += u'/';
    QByteArray href;
    appendHref(&href, base, sharePath);
    // The entries' own attributes are read only where some entry has properties, and only when
    // they are asked for.
    bool deadAsked = asked.kind != DavProperties::Request::Prop;
    for (const Name &name : asked.names)
        deadAsked = deadAsked || DavProperties::live(name) == Live::None;
    const bool attributes = deadAsked && DeadProperties::isMarked(folder);
    bool quota = asked.kind == DavProperties::Request::PropName;
    for (const Name &name : asked.names) {
        const Live kind = DavProperties::live(name);
        quota = quota || kind == Live::QuotaAvailable || kind == Live::QuotaUsed;
    }
    if (quota)
        readQuota(folder);
    body.reserve(body.size() + entries.size() * (640 + 32 * prefix.size() + href.size()));
    // The entries' paths are needed only for their locks.
    const bool locked = !request->context->locks().isEmpty();
    for (const FolderListing::Entry &entry : entries) {
        const QByteArray name = entry.name.toUtf8();
        const Item item{entry.modified, entry.created, entry.size, entry.folder, entry.name,
                        locked ? QString(sharePath + entry.name) : QString()};
        if (plain && !attributes) {
            addResponse(href, name, item);
            continue;
        }
        const Descriptor fd(attributes ? ::openat(folder, name.constData(),
                                                  ShareRoot::ReadFlags | O_NOFOLLOW | O_CLOEXEC)
                                       : -1);
        addAsked(href, name, item, fd.get());
    }
}

void PropFind::addEnty(const QString &path, const struct stat &status, int fd, const QByteArray &prefix)
{
    makePieces(prefix);
    QString sharePath = QDir::cleanPath(u'/' + path);
    if (sharePath.size() > 1 && sharePath.endsWith(u'/'))
        sharePath.chop(1);
    QByteArray href;
    appendHref(&href, base.isEmpty() ? connectionUrl() : base, sharePath == u"/" ? QString() : sharePath);
    const bool folder = S_ISDIR(status.st_mode);
    const Item item{milliseconds(status.st_mtim), milliseconds(status.st_ctim), qint64(status.st_size), folder,
                    ShareRoot::lastName(sharePath), sharePath};
    if (folder)
        readQuota(fd);
    const Descriptor attributes(DeadProperties::reopen(fd, folder));
    addAsked(href, QByteArrayView(), item, attributes.get());
}

void PropFind::readQuota(int fd)
{
    struct statvfs room;
    if (quotaFree >= 0 || ::fstatvfs(fd, &room) != 0)
        return;
    quotaFree = qint64(room.f_bavail) * qint64(room.f_frsize);
    quotaUsed = (qint64(room.f_blocks) - qint64(room.f_bfree)) * qint64(room.f_frsize);
}

void PropFind::addResponse(const QByteArray &href, QByteArrayView name, const Item &item)
{
    // The whole response is written in place; only the locks that cover an item, when some
    // are held, are appended afterwards.
    const FileTypes::Row *type = item.folder ? nullptr : FileTypes::ofName(item.fileName);
    const char *contentType = type && type->contentType ? type->contentType : "";
    const size_t typeSize = std::strlen(contentType);
    const bool locked = !item.itemPath.isNull() && !request->context->locks().covering(item.itemPath).isEmpty();
    qsizetype room = href.size() + 5 * name.size() + 40 + 32 + 24 + Preconditions::EntityTagSize + qsizetype(typeSize);
    for (const QByteArray &piece : pieces)
        room += piece.size();
    for (const QByteArray &piece : livePieces)
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
    out = HttpDate::write(out, item.modified, true);
    put(pieces[2]);
    out = HttpDate::writeIso(out, item.created);
    put(pieces[3]);
    if (item.folder)
        put(pieces[4]);
    put(pieces[5]);
    char digits[24];
    const int n = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(item.size));
    std::memcpy(out, digits, size_t(n));
    out += n;
    put(pieces[6]);
    if (!item.folder) {
        put(livePieces[0]);
        out = Preconditions::writeEntityTag(out, item.size, item.modified);
        put(livePieces[1]);
    }
    if (typeSize) {
        put(livePieces[2]);
        std::memcpy(out, contentType, typeSize);
        out += typeSize;
        put(livePieces[3]);
    }
    if (locked) {
        body.truncate(out - body.constData());
        appendContentAndLocks(&body, item, Live::LockDiscovery);
        body += livePieces[5];
        body += pieces[7];
        return;
    }
    put(livePieces[4]);
    put(livePieces[5]);
    put(pieces[7]);
    body.truncate(out - body.constData());
}

bool PropFind::appendLive(QByteArray *out, const Name &name, const Item &item)
{
    const QByteArray &p = piecesPrefix;
    char text[48];
    const auto element = [&](const QByteArrayView value) {
        *out += '<' + p + name.local + '>';
        *out += value;
        *out += "</" + p + name.local + '>';
    };
    switch (const Live kind = DavProperties::live(name)) {
    case Live::ETag:
    case Live::ContentType:
    case Live::LockDiscovery:
    case Live::SupportedLock: {
        const qsizetype before = out->size();
        appendContentAndLocks(out, item, kind);
        return out->size() != before;
    }
    case Live::LastModified:
        element(QByteArrayView(text, HttpDate::write(text, item.modified, true) - text));
        return true;
    case Live::CreationDate:
        element(QByteArrayView(text, HttpDate::writeIso(text, item.created) - text));
        return true;
    case Live::ResourceType:
        if (item.folder)
            element('<' + p + "collection/>");
        else
            *out += '<' + p + "resourcetype/>";
        return true;
    case Live::ContentLength:
        element(QByteArray::number(item.size));
        return true;
    case Live::QuotaAvailable:
    case Live::QuotaUsed:
        if (!item.folder || quotaFree < 0)
            return false;
        element(QByteArray::number(DavProperties::live(name) == Live::QuotaUsed ? quotaUsed : quotaFree));
        return true;
    default:
        return false;
    }
}

void PropFind::addAsked(const QByteArray &href, QByteArrayView name, const Item &item, int attributes)
{
    static const Name allLive[] = {DavName("getlastmodified"), DavName("creationdate"), DavName("resourcetype"),
                                   DavName("getcontentlength")};
    static const Name contentAndLocks[] = {DavName("getetag"), DavName("getcontenttype"), DavName("lockdiscovery"),
                                           DavName("supportedlock")};
    static const Name quotas[] = {DavName("quota-available-bytes"), DavName("quota-used-bytes")};
    const QByteArray &p = piecesPrefix;
    QByteArray found;
    QByteArray missing;
    QList<DeadProperties::Stored> dead;
    switch (asked.kind) {
    case DavProperties::Request::PropName:
        for (const Name &live : allLive)
            DavProperties::appendEmpty(&found, live, p);
        for (const Name &live : contentAndLocks) {
            QByteArray value;
            if (appendLive(&value, live, item))
                DavProperties::appendEmpty(&found, live, p);
        }
        if (item.folder) {
            for (const Name &quota : quotas)
                DavProperties::appendEmpty(&found, quota, p);
        }
        if (attributes >= 0)
            dead = DeadProperties::readAll(attributes, false);
        for (const DeadProperties::Stored &property : std::as_const(dead))
            DavProperties::appendEmpty(&found, property.name, p);
        break;
    case DavProperties::Request::AllProp:
        for (const Name &live : allLive) {
            if (item.folder || DavProperties::live(live) != Live::ResourceType)
                appendLive(&found, live, item);
        }
        appendContentAndLocks(&found, item, Live::None);
        if (attributes >= 0)
            dead = DeadProperties::readAll(attributes);
        for (const DeadProperties::Stored &property : std::as_const(dead))
            found += property.element;
        for (const Name &extra : asked.names) {
            const Live kind = DavProperties::live(extra);
            if (kind == Live::None) {
                bool stored = false;
                for (const DeadProperties::Stored &property : std::as_const(dead))
                    stored = stored || property.name == extra;
                if (!stored)
                    DavProperties::appendEmpty(&missing, extra, p);
            } else if (kind == Live::ResourceType && !item.folder) {
                appendLive(&found, extra, item);
            } else if (kind != Live::LastModified && kind != Live::CreationDate && kind != Live::ResourceType
                       && kind != Live::ContentLength && kind != Live::ETag && kind != Live::ContentType
                       && kind != Live::LockDiscovery && kind != Live::SupportedLock
                       && !appendLive(&found, extra, item)) {
                DavProperties::appendEmpty(&missing, extra, p);
            }
        }
        break;
    case DavProperties::Request::Prop:
        for (const Name &one : asked.names) {
            if (DavProperties::live(one) != Live::None) {
                if (!appendLive(&found, one, item))
                    DavProperties::appendEmpty(&missing, one, p);
                continue;
            }
            std::optional<QByteArray> element;
            if (attributes >= 0)
                element = DeadProperties::read(attributes, one);
            if (element)
                found += *element;
            else
                DavProperties::appendEmpty(&missing, one, p);
        }
        break;
    }
    body += pieces[0];
    body += href;
    if (!name.isEmpty()) {
        const qsizetype at = body.size();
        body.resize(at + 5 * name.size());
        body.truncate(writeHrefPath(body.data() + at, name) - body.constData());
    }
    body += "</" + p + "href>";
    if (!found.isEmpty() || missing.isEmpty()) {
        body += '<' + p + "propstat><" + p + "prop>";
        body += found;
        body += "</" + p + "prop><" + p + "status>HTTP/1.1 " + StatusLine::Ok + "</" + p + "status></" + p
                + "propstat>";
    }
    if (!missing.isEmpty()) {
        body += '<' + p + "propstat><" + p + "prop>";
        body += missing;
        body += "</" + p + "prop><" + p + "status>HTTP/1.1 " + StatusLine::NotFound + "</" + p + "status></" + p
                + "propstat>";
    }
    body += "</" + p + "response>";
}
