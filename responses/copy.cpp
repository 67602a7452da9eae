#include "responses/copy.h"

#include "responses/http_response.h"
#include "server/http_request.h"
#include "server/sharepath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {
constexpr qint64 CopyChunk = 64 * 1024;
}

Copy::Copy(HTTP_Request *request)
    : Dav(request)
{
}

void Copy::reply(QFileInfo *root, Configuration *config)
{
    QString destinationPath;
    if (const int refused = destination(root, &destinationPath)) {
        sendHeader(refused == 403 ? "403 Forbidden" : "400 Bad Request", 0);
        return;
    }
    rootPath = root->absoluteFilePath();
    const QString sourcePath = addressed(root);
    const QFileInfo source(sourcePath);
    QFileInfo target(mapped(root, destinationPath));
    overwriteAllowed = Dav::overwriteAllowed(config);

    if (guard(root, sourcePath, target.absoluteFilePath())) {
        sendHeader("403 Forbidden", 0);
        return;
    }
    if (target.isFile() && !overwriteAllowed) {
        sendHeader("412 Precondition Failed", 0);
        return;
    }
    if (source.isDir()) {
        if (target.isFile()) {
            sendHeader("412 Precondition Failed", 0);
            return;
        }
        init(&body);
        body += "multistatus xmlns=\"DAV:\">";
        copyDir(source, target);
        body += "</multistatus>";
        sendHeader("207 Multi-Status", body.size());
        request->socket.write(body, true);
        return;
    }
    if (!source.isFile()) {
        sendHeader("410 Gone", 0);
        return;
    }
    if (target.isDir()) {
        target.setFile(target.absoluteFilePath() + u'/' + source.fileName());
        if (guard(root, sourcePath, target.absoluteFilePath())) {
            sendHeader("403 Forbidden", 0);
            return;
        }
    }
    const char *status = "201 Created";
    if (target.exists()) {
        if (target.isFile() && !overwriteAllowed) {
            sendHeader("412 Precondition Failed", 0);
            return;
        }
        status = "204 No Content";
    }
    if (!copyContent(source.absoluteFilePath(), target.absoluteFilePath()))
        status = "500 File Copy Failed";
    sendHeader(status, 0);
}

void Copy::copyDir(const QFileInfo &source, const QFileInfo &targetFolder)
{
    QDir().mkpath(targetFolder.absoluteFilePath());
    const QFileInfoList entries = QDir(source.absoluteFilePath())
        .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &entry : entries) {
        // Nothing is read through a link out of the share, and the profile folder stays out.
        if (!SharePath::mayWalk(rootPath, entry.absoluteFilePath(), entry.isSymLink())) {
            openResponse(entry.absoluteFilePath());
            closeResponse("403 Forbidden");
            continue;
        }
        if (entry.isDir()) {
            // A link to a folder may lead back up the tree: never followed.
            if (!entry.isSymLink())
                copyDir(entry, QFileInfo(targetFolder.absoluteFilePath() + u'/' + entry.fileName()));
        } else {
            copyFile(entry, targetFolder);
        }
    }
}

void Copy::copyFile(const QFileInfo &source, const QFileInfo &destinationFolder)
{
    openResponse(source.absoluteFilePath());
    const QString targetPath = destinationFolder.absoluteFilePath() + u'/' + source.fileName();
    const char *status;
    if (QFileInfo(targetPath).isFile() && !overwriteAllowed)
        status = "412 Precondition Failed";
    else
        status = copyContent(source.absoluteFilePath(), targetPath) ? "200 OK" : "500 File copy error";
    closeResponse(status);
}

void Copy::openResponse(const QString &path)
{
    body += "<response><href>";
    // The walk starts in the share and lists by its path: every entry's path begins with it.
    QString relative = path.mid(rootPath.size());
    if (!relative.startsWith(u'/'))
        relative.prepend(u'/'); // a share of "/"
    body += href(relative);
    body += "</href>";
}

void Copy::closeResponse(const char *status)
{
    body += "<status>HTTP/1.1 ";
    body += status;
    body += "</status></response>";
}

bool Copy::copyContent(const QString &from, const QString &to)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QSaveFile out(to);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk;
    for (;;) {
        chunk = in.read(CopyChunk);
        if (chunk.isEmpty())
            break;
        if (out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            break;
        }
    }
    if (in.error() != QFileDevice::NoError)
        out.cancelWriting();
    if (!out.commit())
        return false;
    QFile::setPermissions(to, in.permissions());
    return true;
}
