#include "responses/delete.h"

#include "config/configuration.h"
#include "server/http_request.h"
#include "web/deletedir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

Delete::Delete(HTTP_Request *request)
    : Dav(request)
{
}

void Delete::reply(QFileInfo *root, Configuration *)
{
    const QString path = addressed(root);
    if (QDir::cleanPath(path) == QDir::cleanPath(root->absoluteFilePath())) {
        sendHeader("403 Forbidden", 0);
        return;
    }
    const QFileInfo target(path);
    if (!target.exists() && !target.isSymLink()) {
        sendHeader("200 Not exists", 0);
        return;
    }
    // A link goes as a link, even when it points at a folder.
    if (!target.isDir() || target.isSymLink()) {
        sendHeader(QFile::remove(target.absoluteFilePath()) ? "200 File deleted" : "423 Locked", 0);
        return;
    }
    sendHeader(DeleteDir(target.absoluteFilePath(), root->absoluteFilePath()).deleteDir() ? "200 Dir deleted" : "423 Locked", 0);
}
