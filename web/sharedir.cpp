#include "web/sharedir.h"

#include "config/configuration.h"
#include "server/http_request.h"

#include <QFileInfo>

ShareDir::ShareDir(Configuration *config, HTTP_Request *request)
    : HTTP_Response(config, request)
{
    setObjectName(QStringLiteral("SD"));
}

void ShareDir::reply(QFileInfo *root)
{
    rootPath = root->absoluteFilePath();
    thumbnails = config->isThumbnail();
    deleteEnabled = config->isDelete();
    const QString &path = request->path;

    if (path.startsWith(QLatin1String(IconPrefix))) {
        // Only one plain name inside the icon folder.
        const QString name = path.mid(4);
        const QString icon = QString::fromLatin1(Configuration::IconDir) + name;
        if (isPlainName(name))
            sendFile(icon);
        else
            notFound(icon.toUtf8());
        return;
    }
    const QFileInfo target(rootPath + path);
    if (!target.isDir()) {
        sendFile(target.absoluteFilePath());
        return;
    }
    sendDir(target.absoluteFilePath());
}

void ShareDir::sendDir(const QString &folder)
{
    notFound(folder.toUtf8());
}

void ShareDir::reply(int code)
{
    finishUpload(code);
    sendDir(rootPath + request->path);
}
