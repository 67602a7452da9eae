#include "responses/lock.h"

#include "responses/preconditions.h"
#include "server/http_request.h"
#include "server/servercontext.h"
#include "server/sharepath.h"
#include "server/statusline.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QLatin1String DavNamespace("DAV:");

bool isDav(const QXmlStreamReader &xml, const char *name)
{
    return xml.namespaceUri() == DavNamespace && xml.name() == QLatin1String(name);
}

// Copies the element the reader is at, with everything in it, to `out`.
void copyElement(QXmlStreamReader &xml, QXmlStreamWriter &out)
{
    int depth = 0;
    for (;;) {
        switch (xml.tokenType()) {
        case QXmlStreamReader::StartElement:
            out.writeStartElement(xml.namespaceUri().toString(), xml.name().toString());
            for (const QXmlStreamAttribute &attribute : xml.attributes())
                out.writeAttribute(attribute);
            ++depth;
            break;
        case QXmlStreamReader::EndElement:
            out.writeEndElement();
            --depth;
            break;
        case QXmlStreamReader::Characters:
            out.writeCharacters(xml.text().toString());
            break;
        default:
            break;
        }
        if (depth == 0 || xml.hasError())
            return;
        xml.readNext();
    }
}

} // namespace

Lock::Lock(HTTP_Request *request)
    : Dav(request)
{
}

std::optional<Lock::Info> Lock::infoOf(const QByteArray &requestBody)
{
    QXmlStreamReader xml(requestBody);
    if (!xml.readNextStartElement() || !isDav(xml, "lockinfo"))
        return std::nullopt;
    Info info;
    bool scoped = false;
    // Write locks are the only kind there is (RFC 4918 7): a body that names no type means one.
    bool typed = true;
    while (xml.readNextStartElement()) {
        if (isDav(xml, "lockscope")) {
            while (xml.readNextStartElement()) {
                if (isDav(xml, "exclusive") || isDav(xml, "shared")) {
                    info.exclusive = isDav(xml, "exclusive");
                    scoped = true;
                }
                xml.skipCurrentElement();
            }
        } else if (isDav(xml, "locktype")) {
            typed = false;
            while (xml.readNextStartElement()) {
                typed = typed || isDav(xml, "write");
                xml.skipCurrentElement();
            }
        } else if (isDav(xml, "owner")) {
            QXmlStreamWriter out(&info.owner);
            out.writeNamespace(DavNamespace.toString(), QStringLiteral("D"));
            copyElement(xml, out);
        } else {
            xml.skipCurrentElement();
        }
    }
    // The whole document is read: a flaw after the parts used is a flaw too.
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError() || !scoped || !typed)
        return std::nullopt;
    return info;
}

qint64 Lock::timeoutOf(const QByteArray &header)
{
    // "Infinite, Second-4100000000" (RFC 4918 10.7): the first value understood.
    for (const QByteArray &item : header.split(',')) {
        const QByteArray value = item.trimmed();
        if (value.compare("Infinite", Qt::CaseInsensitive) == 0)
            return LockManager::MaxTimeoutSeconds;
        if (value.size() > 7 && value.first(7).compare("Second-", Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const qint64 seconds = value.mid(7).toLongLong(&ok);
            if (ok && seconds > 0)
                return qMin(seconds, LockManager::MaxTimeoutSeconds);
            // A number too large for 63 bits is still a long time.
            if (value.size() > 25 && std::all_of(value.begin() + 7, value.end(), [](char c) { return c >= '0' && c <= '9'; }))
                return LockManager::MaxTimeoutSeconds;
        }
    }
    return LockManager::MaxTimeoutSeconds;
}

void Lock::appendActiveLock(QByteArray *out, const LockManager::Lock &lock, const QByteArray &p, const QByteArray &base)
{
    const LockManager::Clock::time_point now = LockManager::Clock::now();
    // In the order of RFC 4918 14.1.
    *out += '<' + p + "activelock><" + p + "lockscope><" + p + (lock.exclusive ? "exclusive" : "shared") + "/></" + p
            + "lockscope><" + p + "locktype><" + p + "write/></" + p + "locktype><" + p + "depth>"
            + (lock.infinite ? "infinity" : "0") + "</" + p + "depth>";
    *out += lock.owner;
    *out += '<' + p + "timeout>Second-" + QByteArray::number(lock.secondsLeft(now)) + "</" + p + "timeout><" + p
            + "locktoken><" + p + "href>" + lock.token + "</" + p + "href></" + p + "locktoken><" + p + "lockroot><"
            + p + "href>";
    appendHref(out, base, lock.root == u"/" ? QString() : lock.root);
    *out += "</" + p + "href></" + p + "lockroot></" + p + "activelock>";
}

void Lock::answer(const char *status, const LockManager::Lock &lock)
{
    init(&body);
    body += "D:prop xmlns:D=\"DAV:\"><D:lockdiscovery>";
    appendActiveLock(&body, lock, "D:", connectionUrl());
    body += "</D:lockdiscovery></D:prop>";
    const QByteArray extra = "Lock-Token: <" + lock.token + ">\r\n";
    sendHeader(status, body.size(), &extra);
    request->socket.write(body, true);
}

void Lock::reply(QFileInfo *root)
{
    Q_UNUSED(root);
    LockManager &locks = request->context->locks();
    const QString path = LockManager::normalized(request->path);
    const QString who = Preconditions::principal(*request, *request->context);

    if (request->body.trimmed().isEmpty()) {
        // A refresh (RFC 4918 9.10.2): the lock whose token the If header names, on this item
        // or above it.
        const QList<QByteArray> tokens = Preconditions::submittedTokens(*request);
        for (const QByteArray &token : tokens) {
            const LockManager::Lock *lock = locks.find(token);
            if (lock && lock->covers(path) && lock->principal == who) {
                locks.refresh(token, timeoutOf(request->timeout));
                answer(StatusLine::OkLocked, *locks.find(token));
                return;
            }
        }
        sendHeader(tokens.isEmpty() ? StatusLine::BadRequest : StatusLine::PreconditionFailed, 0);
        return;
    }
    const std::optional<Info> info = infoOf(request->body);
    if (!info) {
        sendHeader(StatusLine::BadRequest, 0);
        return;
    }
    // The item, or a place for it in a folder that exists.
    const bool exists = share().open(request->path, O_PATH).reached();
    const ShareRoot::Place place = exists ? ShareRoot::Place() : share().place(request->path);
    if (!exists && !place.reached()) {
        sendHeader(StatusLine::NotFound, 0);
        return;
    }
    // Depth 0, or infinity (the default, RFC 4918 9.10.3).
    const bool infinite = request->depth.trimmed() != "0";
    if (locks.conflicts(path, info->exclusive, infinite)) {
        sendHeader(StatusLine::Locked, 0);
        return;
    }
    if (!exists) {
        // A name not taken becomes an empty file, locked (RFC 4918 7.3).
        const int fd = ::openat(place.folder.get(), place.name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            sendHeader(errno == EEXIST ? StatusLine::Conflict : StatusLine::InsufficientStorage, 0);
            return;
        }
        ::close(fd);
    }
    const LockManager::Lock *lock = locks.add(path, info->exclusive, infinite, info->owner, who, timeoutOf(request->timeout));
    if (!lock) {
        if (!exists)
            ::unlinkat(place.folder.get(), place.name.constData(), 0);
        sendHeader(StatusLine::ServiceUnavailable, 0);
        return;
    }
    answer(exists ? StatusLine::OkLocked : StatusLine::Created, *lock);
}
