#include "responses/lock.h"

#include "server/http_request.h"
#include "server/sharepath.h"

#include <QUuid>

#include <fcntl.h>

namespace {
const char DefaultTimeout[] = "Second-3600";
}

Lock::Lock(HTTP_Request *request)
    : Dav(request)
{
}

QByteArray Lock::scopeOf(const QByteArray &requestBody)
{
    const qsizetype scope = requestBody.indexOf("lockscope");
    if (scope < 0)
        return "exclusive";
    const qsizetype shared = requestBody.indexOf("shared", scope);
    const qsizetype exclusive = requestBody.indexOf("exclusive", scope);
    return shared >= 0 && (exclusive < 0 || shared < exclusive) ? "shared" : "exclusive";
}

QByteArray Lock::tokenOf(const QByteArray &ifHeader)
{
    const qsizetype start = ifHeader.indexOf("<opaquelocktoken:");
    if (start < 0)
        return QByteArray();
    const qsizetype end = ifHeader.indexOf('>', start);
    if (end < 0)
        return QByteArray();
    const QByteArray token = ifHeader.mid(start + 1, end - start - 1);
    // Only characters that can stand in a header and an XML text unchanged.
    for (const char c : token) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == ':'))
            return QByteArray();
    }
    return token;
}

QByteArray Lock::timeoutOf(const QByteArray &header)
{
    const QByteArray item = header.split(',').first().trimmed();
    if (item.compare("Infinite", Qt::CaseInsensitive) == 0)
        return "Infinite";
    if (item.size() > 7 && item.size() <= 17 && item.first(7).compare("Second-", Qt::CaseInsensitive) == 0) {
        bool ok = false;
        const qint64 seconds = item.mid(7).toLongLong(&ok);
        if (ok && seconds >= 0)
            return "Second-" + QByteArray::number(seconds);
    }
    return DefaultTimeout;
}

void Lock::reply(QFileInfo *root)
{
    Q_UNUSED(root);
    // The item, or a place for it in a folder that exists.
    if (!share().open(request->path, O_PATH).reached() && !share().place(request->path).reached()) {
        sendHeader("404 Not Found", 0);
        return;
    }
    QByteArray token = request->body.trimmed().isEmpty() ? tokenOf(request->ifHeader) : QByteArray();
    if (token.isEmpty())
        token = "opaquelocktoken:" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    const QByteArray depth = request->depth.trimmed() == "0" ? "0" : "infinity";

    init(&body);
    body += "D:prop xmlns:D=\"DAV:\"><D:lockdiscovery><D:activelock><D:locktype><D:write/></D:locktype>";
    body += "<D:lockscope><D:" + scopeOf(request->body) + "/></D:lockscope>";
    body += "<D:depth>" + depth + "</D:depth>";
    body += "<D:timeout>" + timeoutOf(request->timeout) + "</D:timeout>";
    body += "<D:locktoken><D:href>" + token + "</D:href></D:locktoken>";
    body += "<D:lockroot><D:href>" + href(request->path) + "</D:href></D:lockroot>";
    body += "</D:activelock></D:lockdiscovery></D:prop>";

    const QByteArray extra = "Lock-Token: <" + token + ">\r\n";
    sendHeader("200 Locked", body.size(), &extra);
    request->socket.write(body, true);
}
