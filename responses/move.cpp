#include "responses/move.h"

#include "server/http_request.h"
#include "server/servercontext.h"
#include "server/sharepath.h"
#include "web/deletedir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cstdio>

namespace {

bool renamed(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// A name beside `path` that nothing has.
QString asideName(const QString &path)
{
    const QFileInfo info(path);
    for (;;) {
        const QString candidate = info.absolutePath() + QLatin1String("/.replaced-")
                                  + QString::number(QRandomGenerator::global()->generate64(), 36);
        const QFileInfo probe(candidate);
        if (!probe.exists() && !probe.isSymLink())
            return candidate;
    }
}

} // namespace

Move::Move(HTTP_Request *request)
    : Dav(request)
{
}

void Move::reply(QFileInfo *root, Configuration *config)
{
    QString destinationPath;
    if (const int refused = destination(root, &destinationPath)) {
        sendHeader(refused == 403 ? "403 Forbidden" : "400 Bad Request", 0);
        return;
    }
    // Without a trailing "/": a folder is renamed, not moved into itself.
    const QString sourcePath = QDir::cleanPath(addressed(root));
    const QString targetPath = QDir::cleanPath(mapped(root, destinationPath));
    const QFileInfo source(sourcePath);
    const QFileInfo target(targetPath);
    // Neither the folder that goes nor the one it replaces may take the profile folder along.
    const QString rootPath = root->absoluteFilePath();
    if (guard(root, sourcePath, targetPath)
        || (!source.isSymLink() && SharePath::holdsPrivate(rootPath, sourcePath))
        || (!target.isSymLink() && SharePath::holdsPrivate(rootPath, targetPath))) {
        sendHeader("403 Forbidden", 0);
        return;
    }
    if (!target.exists() && !target.isSymLink()) {
        sendHeader(QDir().rename(sourcePath, targetPath) ? moved("201 Created") : "500 Rename Failed", 0);
        return;
    }
    if (!overwriteAllowed(config)) {
        sendHeader("412 Name exists", 0);
        return;
    }
    // Replacing the folder that holds the source would take the source with it.
    if (resolved(sourcePath).startsWith(resolved(targetPath) + u'/')) {
        sendHeader("403 Forbidden", 0);
        return;
    }
    const bool sourceIsFile = !source.isDir() || source.isSymLink();
    const bool targetIsFile = !target.isDir() || target.isSymLink();
    if (sourceIsFile && targetIsFile) {
        // rename() puts a file in another file's place in one step.
        sendHeader(renamed(sourcePath, targetPath) ? moved("204 No Content") : "500 Rename Failed", 0);
        return;
    }
    // A folder is involved: the target steps aside first and comes back if the move fails.
    const QString aside = asideName(targetPath);
    if (!renamed(targetPath, aside)) {
        sendHeader("500 Rename Failed", 0);
        return;
    }
    if (!renamed(sourcePath, targetPath)) {
        renamed(aside, targetPath);
        sendHeader("500 Rename Failed", 0);
        return;
    }
    if (targetIsFile)
        QFile::remove(aside);
    else
        DeleteDir(aside).deleteDir();
    sendHeader(moved("204 No Content"), 0);
}

const char *Move::moved(const char *status)
{
    // Locks stay with the names they are on: those on what left the source end.
    request->context->locks().dropWithin(request->path);
    return status;
}
