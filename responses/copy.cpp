#include "responses/copy.h"

#include "responses/deadproperties.h"
#include "server/http_request.h"
#include "server/newfile.h"
#include "server/sharepath.h"
#include "server/statusline.h"

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t CopyChunk = 64 * 1024;

// The names in the folder open at `folder`, hidden ones included, in name order ignoring case.
QList<QByteArray> namesIn(int folder)
{
    QList<QByteArray> names;
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return names;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return names;
    }
    while (const dirent *d = ::readdir(dir)) {
        const char *name = d->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        names.append(QByteArray(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const QByteArray &a, const QByteArray &b) {
        const QString x = QFile::decodeName(a);
        const QString y = QFile::decodeName(b);
        if (const int c = x.compare(y, Qt::CaseInsensitive))
            return c < 0;
        return x < y;
    });
    return names;
}

QString joined(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

} // namespace

Copy::Copy(HTTP_Request *request)
    : Dav(request)
{
}

void Copy::reply(QFileInfo *root, Configuration *config)
{
    QString destinationPath;
    if (const int refused = destination(root, &destinationPath)) {
        sendHeader(refused == 403 ? StatusLine::Forbidden : StatusLine::BadRequest, 0);
        return;
    }
    overwriteAllowed = Dav::overwriteAllowed(config);
    ShareRoot &items = share();
    const QString &sourcePath = request->path;

    // The source is read from what is opened here, whatever its name leads to afterwards.
    const ShareRoot::Opened source = items.open(sourcePath, ShareRoot::ReadFlags);
    struct stat sourceStatus;
    if (source.refusal == ShareRoot::Outside || source.refusal == ShareRoot::Private) {
        sendHeader(StatusLine::Forbidden, 0);
        return;
    }
    const bool sourceFound = source.reached() && ::fstat(source.fd.get(), &sourceStatus) == 0;
    // The shared folder itself is never copied into itself.
    if (sourceFound && items.isRoot(sourceStatus)) {
        sendHeader(StatusLine::Forbidden, 0);
        return;
    }
    ShareRoot::Opened target = items.open(destinationPath, O_PATH);
    struct stat targetStatus;
    const bool targetFound = target.reached() && ::fstat(target.fd.get(), &targetStatus) == 0;
    const bool targetIsFolder = targetFound && S_ISDIR(targetStatus.st_mode);
    if (sourceFound && targetFound && ShareRoot::sameItem(sourceStatus, targetStatus)) {
        sendHeader(StatusLine::Forbidden, 0);
        return;
    }
    if (targetFound && !targetIsFolder && !overwriteAllowed) {
        sendHeader(StatusLine::PreconditionFailed, 0);
        return;
    }
    if (sourceFound && S_ISDIR(sourceStatus.st_mode)) {
        if (targetFound && !targetIsFolder) {
            sendHeader(StatusLine::PreconditionFailed, 0);
            return;
        }
        // Never into the folder's own tree, which the copy would copy again: the destination's
        // nearest folder that exists.
        QString above = destinationPath;
        while (!target.reached() && above.lastIndexOf(u'/') > 0) {
            above.truncate(above.lastIndexOf(u'/'));
            target = items.open(above, O_PATH | O_DIRECTORY);
        }
        if (!target.reached())
            target = items.open(u"/", O_PATH | O_DIRECTORY);
        if (!target.reached() || items.lies(target.fd.get(), sourceStatus)) {
            sendHeader(StatusLine::Forbidden, 0);
            return;
        }
        init(&body);
        body += "multistatus xmlns=\"DAV:\">";
        if (copyDir(source.fd.get(), sourcePath, destinationPath)) {
            const ShareRoot::Place place = items.place(destinationPath);
            if (place.reached())
                DeadProperties::markFolder(place.folder.get());
        }
        body += "</multistatus>";
        sendHeader(StatusLine::MultiStatus, body.size());
        request->socket.write(body, true);
        return;
    }
    if (!sourceFound || !S_ISREG(sourceStatus.st_mode)) {
        sendHeader(StatusLine::Gone, 0);
        return;
    }
    if (targetIsFolder) {
        destinationPath = joined(destinationPath, ShareRoot::lastName(sourcePath).toString());
        target = items.open(destinationPath, O_PATH);
        if (target.reached() && ::fstat(target.fd.get(), &targetStatus) == 0
            && ShareRoot::sameItem(sourceStatus, targetStatus)) {
            sendHeader(StatusLine::Forbidden, 0);
            return;
        }
    }
    const ShareRoot::Place place = items.place(destinationPath);
    if (place.refusal == ShareRoot::Outside || place.refusal == ShareRoot::Private) {
        sendHeader(StatusLine::Forbidden, 0);
        return;
    }
    const char *status = StatusLine::Created;
    struct stat existing;
    const bool exists = place.reached()
                        && ::fstatat(place.folder.get(), place.name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists) {
        if (!S_ISDIR(existing.st_mode) && !overwriteAllowed) {
            sendHeader(StatusLine::PreconditionFailed, 0);
            return;
        }
        status = StatusLine::NoContent;
    }
    if (!place.reached() || !copyContent(source.fd.get(), place.folder.get(), place.name, exists))
        status = StatusLine::FileCopyFailed;
    sendHeader(status, 0);
}

bool Copy::copyDir(int source, const QString &sourcePath, const QString &targetPath)
{
    ShareRoot &items = share();
    items.makeFolders(targetPath);
    const ShareRoot::Opened target = items.open(targetPath, O_PATH | O_DIRECTORY);
    const int targetFolder = target.reached() ? target.fd.get() : -1;
    for (const QByteArray &name : namesIn(source)) {
        const QString entryName = QFile::decodeName(name);
        const QString entryPath = joined(sourcePath, entryName);
        struct stat status;
        if (::fstatat(source, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISLNK(status.st_mode)) {
            // Read where it leads, beneath the share: nothing through a link out of it, nothing
            // of the profile folder. A link to a folder may lead back up the tree: never followed.
            const ShareRoot::Opened linked = items.open(entryPath, ShareRoot::ReadFlags);
            if (linked.refusal == ShareRoot::Outside || linked.refusal == ShareRoot::Private) {
                openResponse(entryPath);
                closeResponse(StatusLine::Forbidden);
            } else if (!linked.reached()) {
                openResponse(entryPath);
                closeResponse(StatusLine::FileCopyError);
            } else if (::fstat(linked.fd.get(), &status) == 0 && !S_ISDIR(status.st_mode)) {
                copyFile(linked.fd.get(), entryPath, targetFolder, name);
            }
            continue;
        }
        if (items.isProfileFolder(status)) {
            openResponse(entryPath);
            closeResponse(StatusLine::Forbidden);
            continue;
        }
        const int flags = S_ISDIR(status.st_mode) ? O_RDONLY | O_DIRECTORY : ShareRoot::ReadFlags;
        const Descriptor entry(::openat(source, name.constData(), flags | O_NOFOLLOW | O_CLOEXEC));
        if (S_ISDIR(status.st_mode)) {
            if (entry.isOpen())
                copyDir(entry.get(), entryPath, joined(targetPath, entryName));
            continue;
        }
        if (entry.isOpen()) {
            copyFile(entry.get(), entryPath, targetFolder, name);
        } else {
            openResponse(entryPath);
            closeResponse(StatusLine::FileCopyError);
        }
    }
    // The folder's properties and times, once its entries no longer change it.
    const Descriptor to(targetFolder >= 0 ? DeadProperties::reopen(targetFolder, true) : -1);
    struct stat status;
    if (!to.isOpen() || ::fstat(source, &status) != 0)
        return false;
    const bool properties = DeadProperties::copy(source, to.get());
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    ::futimens(to.get(), times);
    return properties;
}

void Copy::copyFile(int source, const QString &sourcePath, int destinationFolder, const QByteArray &name)
{
    openResponse(sourcePath);
    const char *status;
    struct stat existing;
    const bool exists = destinationFolder >= 0
                        && ::fstatat(destinationFolder, name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISREG(existing.st_mode) && !overwriteAllowed)
        status = StatusLine::PreconditionFailed;
    else
        status = destinationFolder >= 0 && copyContent(source, destinationFolder, name, exists) ? StatusLine::Ok
                                                                                               : StatusLine::FileCopyError;
    closeResponse(status);
}

void Copy::openResponse(const QString &path)
{
    body += "<response><href>";
    body += href(QDir::cleanPath(u'/' + path));
    body += "</href>";
}

void Copy::closeResponse(const char *status)
{
    body += "<status>HTTP/1.1 ";
    body += status;
    body += "</status></response>";
}

bool Copy::copyContent(int from, int folder, const QByteArray &name, bool replace)
{
    struct stat status;
    if (::fstat(from, &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    NewFile out;
    if (!out.create(folder))
        return false;
    const int fd = out.file().handle();
    // The copy has the permissions of its source.
    ::fchmod(fd, status.st_mode & 07777);
    char chunk[CopyChunk];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(from, chunk, sizeof chunk, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        for (ssize_t written = 0; written < n;) {
            const ssize_t w = ::write(fd, chunk + written, size_t(n - written));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            written += w;
        }
        at += n;
    }
    // The copy has its source's properties and times.
    const bool properties = DeadProperties::copy(from, fd);
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    ::futimens(fd, times);
    if (out.place(name, replace, true) != NewFile::Placed)
        return false;
    if (properties)
        DeadProperties::markFolder(folder);
    return true;
}
