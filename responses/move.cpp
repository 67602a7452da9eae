#include "responses/move.h"

#include "server/http_request.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

Move::Move(HTTP_Request *request)
    : Dav(request)
{
    setObjectName(QStringLiteral("MV"));
}

void Move::reply(QFileInfo *root, Configuration *config)
{
    QString destinationPath;
    if (const int refused = destination(root, &destinationPath)) {
        sendHeader(refused == 403 ? "403 Forbidden" : "400 Bad Request", 0);
        return;
    }
    const QString sourcePath = addressed(root);
    const QString targetPath = mapped(root, destinationPath);
    if (guard(root, sourcePath, targetPath)) {
        sendHeader("403 Forbidden", 0);
        return;
    }
    const QFileInfo source(sourcePath);
    const QFileInfo target(targetPath);
    if (target.exists() || target.isSymLink()) {
        // Only a file takes the place of a file; folders are never replaced.
        const bool replace = overwriteAllowed(config) && !target.isDir()
                             && (source.isFile() || source.isSymLink());
        if (!replace) {
            sendHeader("412 Name exists", 0);
            return;
        }
        // rename() puts the source in the target's place in one step.
        const bool moved = std::rename(QFile::encodeName(sourcePath).constData(),
                                       QFile::encodeName(targetPath).constData()) == 0;
        sendHeader(moved ? "204 No Content" : "500 Rename Failed", 0);
        return;
    }
    sendHeader(QDir().rename(sourcePath, targetPath) ? "201 Created" : "500 Rename Failed", 0);
}
