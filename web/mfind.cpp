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
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

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
    const ShareRoot::Opened target = request->context->share().open(path, O_PATH);
    struct stat status;
    if (!target.reached() || ::fstat(target.fd.get(), &status) != 0) {
        listing = "\r\n";
    } else if (path.endsWith(u'/')) {
        sendDir(path.toUtf8(), target.fd.get(), path, true);
        listing += "\r\n";
    } else {
        sendFile(path.left(path.lastIndexOf(u'/') + 1).toUtf8(), qint64(status.st_size),
                 qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000, path);
    }
    request->socket.write(listing, true);
}

void Mfind::sendDir(QByteArray prefix, int folder, const QString &path, bool top)
{
    const QList<FolderListing::Entry> entries =
        FolderListing::read(request->context->share(), path, folder, true, request->getClientData()->showList, true,
                            FolderListing::ByNameIgnoringCase, false);
    if (!top) {
        const QStringView own = QStringView(path).chopped(1);
        prefix += own.sliced(own.lastIndexOf(u'/') + 1).toUtf8() + '/';
    }

    for (const FolderListing::Entry &entry : entries) {
        const QByteArray name = entry.name.toUtf8();
        // A line break in a name would end its record early.
        if (name.contains('\r') || name.contains('\n') || !filter.accept(entry.folder, entry.size, entry.modified, entry.name))
            continue;
        if (!entry.folder) {
            listing += prefix + name + "\r\n";
            sendFile(prefix, entry.size, entry.modified, path + entry.name);
        } else if (!filter.recursive) {
            listing += prefix + name + "/\r\n";
            listing += QByteArray::number(QDateTime::fromMSecsSinceEpoch(entry.modified).toSecsSinceEpoch()) + "\r\n";
        } else if (!entry.link) {
            // A link to a folder may lead back up the tree: never followed.
            const Descriptor sub(::openat(folder, QFile::encodeName(entry.name).constData(),
                                          O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (sub.isOpen())
                sendDir(prefix, sub.get(), path + entry.name + u'/', false);
        }
    }
}

void Mfind::sendFile(const QByteArray &prefix, qint64 size, qint64 modifiedMs, const QString &path)
{
    listing += QByteArray::number(size) + "\r\n";
    listing += QByteArray::number(QDateTime::fromMSecsSinceEpoch(modifiedMs).toSecsSinceEpoch()) + "\r\n";
    if (thumbnails)
        addPicture(prefix, path);
    listing += "\r\n";
}

void Mfind::addPicture(const QByteArray &prefix, const QString &path)
{
    HTML_Element_Manager *manager = request->context->thumbnails;
    if (!manager)
        return;
    QMutexLocker locker(&manager->lock);
    manager->toHTML(QDir::cleanPath(rootPath + u'/' + path))->toMC(&listing, prefix);
}
