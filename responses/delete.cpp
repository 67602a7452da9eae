#include "responses/delete.h"

#include "config/configuration.h"
#include "server/http_request.h"
#include "server/servercontext.h"
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
    const bool file = !target.isDir() || target.isSymLink();
    const bool deleted = file ? QFile::remove(target.absoluteFilePath())
                              : DeleteDir(target.absoluteFilePath(), root->absoluteFilePath()).deleteDir();
    // The locks on what is gone end with it.
    if (deleted)
        request->context->locks().dropWithin(request->path);
    sendHeader(!deleted ? "423 Locked" : file ? "200 File deleted" : "200 Dir deleted", 0);
}
