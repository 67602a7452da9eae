#include "web/mfind.h"

#include "config/configuration.h"
#include "server/clientdata.h"
#include "server/folderlisting.h"
#include "server/http_request.h"
#include "server/servercontext.h"
#include "server/sharepath.h"
#include "web/html_element.h"
#include "web/html_element_manager.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

Mfind::Mfind(HTTP_Request *request)
    : Response(request)
{
}

void Mfind::reply(QFileInfo *root, Configuration *config)
{
    listing.clear();
    const QString images = request->param("i");
    ClientData *session = request->getClientData();
    if (!images.isEmpty()) {
        // Switches the pictures of this client's listings and answers with nothing at all. The
        // profile, and so every other client, keeps its setting.
        session->showImages = images == QLatin1String("1");
        request->socket.write(listing, true);
        return;
    }
    filter.init(request);
    thumbnails = session->showImages.value_or(config->isThumbnail());

    const QString &path = request->path;
    rootPath = root->absoluteFilePath();
    const QFileInfo target(rootPath + path);
    if (!target.exists()) {
        listing = "\r\n";
    } else if (path.endsWith(u'/')) {
        sendDir(path.toUtf8(), target.absoluteFilePath(), true);
        listing += "\r\n";
    } else {
        sendFile(path.left(path.lastIndexOf(u'/') + 1).toUtf8(), &target);
    }
    request->socket.write(listing, true);
}

void Mfind::sendDir(QByteArray prefix, const QString &folder, bool top)
{
    QDir::Filters filters = QDir::Dirs | QDir::Files | QDir::Readable | QDir::NoDotAndDotDot;
    if (request->getClientData()->showList)
        filters |= QDir::Hidden;
    const QFileInfoList entries = QDir(folder).entryInfoList(filters, QDir::Name | QDir::IgnoreCase);
    if (!top)
        prefix += QFileInfo(folder).fileName().toUtf8() + '/';

    for (const QFileInfo &entry : entries) {
        const QByteArray name = entry.fileName().toUtf8();
        // A line break in a name would end its record early.
        if (name.contains('\r') || name.contains('\n') || (name.startsWith(FolderListing::UploadPrefix) && FolderListing::isUpload(entry.absoluteFilePath()))
            || !SharePath::mayWalk(rootPath, entry.absoluteFilePath(), entry.isSymLink()) || !filter.accept(&entry))
            continue;
        if (!entry.isDir()) {
            listing += prefix + name + "\r\n";
            sendFile(prefix, &entry);
        } else if (!filter.recursive) {
            listing += prefix + name + "/\r\n";
            listing += QByteArray::number(entry.lastModified().toSecsSinceEpoch()) + "\r\n";
        } else if (!entry.isSymLink()) {
            // A link to a folder may lead back up the tree: never followed.
            sendDir(prefix, entry.absoluteFilePath(), false);
        }
    }
}

void Mfind::sendFile(const QByteArray &prefix, const QFileInfo *entry)
{
    listing += QByteArray::number(entry->size()) + "\r\n";
    listing += QByteArray::number(entry->lastModified().toSecsSinceEpoch()) + "\r\n";
    if (thumbnails)
        addPicture(prefix, entry);
    listing += "\r\n";
}

void Mfind::addPicture(const QByteArray &prefix, const QFileInfo *entry)
{
    HTML_Element_Manager *manager = request->context->thumbnails;
    if (!manager)
        return;
    QMutexLocker locker(&manager->lock);
    manager->toHTML(entry)->toMC(&listing, prefix);
}
