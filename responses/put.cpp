#include "responses/put.h"

#include "config/configuration.h"
#include "responses/accesspolicy.h"
#include "responses/deadproperties.h"
#include "server/http_request.h"
#include "server/httpdate.h"
#include "server/sharepath.h"
#include "server/statusline.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

Put::Put(HTTP_Request *request)
    : Dav(request)
{
}

void Put::reply(QFileInfo *root, Configuration *config)
{
    Q_UNUSED(root);
    file.discard();
    // A piece of a file would be stored as the whole file (RFC 9110 14.5).
    if (!request->contentRange.isEmpty()) {
        sendHeader(StatusLine::BadRequest, 0);
        return;
    }
    ShareRoot &items = share();
    // What the name leads to, a folder above all (the shared folder too).
    const ShareRoot::Opened existing = items.open(request->path, O_PATH);
    struct stat status;
    const bool isFolder = existing.reached() && ::fstat(existing.fd.get(), &status) == 0 && S_ISDIR(status.st_mode);
    ShareRoot::Place target = items.place(request->path);
    if (!isFolder && (target.refusal == ShareRoot::Outside || target.refusal == ShareRoot::Private)) {
        sendHeader(StatusLine::Forbidden, 0);
        return;
    }
    // The name itself, a link too: it is replaced by the new file, never written through.
    replacing = target.reached()
                && ::fstatat(target.folder.get(), target.name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0;
    if (isFolder || replacing) {
        // A folder is never replaced, and a client that asked for a new file never replaces one.
        if (isFolder || request->ifNoneMatch == "*" || !AccessPolicy::mayReplace(*config)) {
            sendHeader(StatusLine::PreconditionFailed, 0);
            return;
        }
    }
    if (request->contentLength == 1 && request->userAgent == "ezdavplugin") {
        sendHeader(StatusLine::Created, 0);
        return;
    }
    if (!target.reached() || !file.create(target.folder.get())) {
        sendHeader(StatusLine::Locked, 0);
        return;
    }
    // A file that is replaced keeps its permissions and its properties.
    if (replacing && S_ISREG(status.st_mode)) {
        ::fchmod(file.file().handle(), status.st_mode & 07777);
        const Descriptor old(::openat(target.folder.get(), target.name.constData(),
                                      ShareRoot::ReadFlags | O_NOFOLLOW | O_CLOEXEC));
        if (old.isOpen())
            DeadProperties::copy(old.get(), file.file().handle());
    }
    name = target.name;
    Socket &socket = request->socket;
    connect(&socket, &Socket::startReply, this, qOverload<int>(&Put::reply), Qt::UniqueConnection);
    socket.saveFile(&file.file(), request->contentLength);
}

void Put::reply(int code)
{
    disconnect(&request->socket, &Socket::startReply, this, qOverload<int>(&Put::reply));
    if (code != Socket::Saved) {
        file.discard();
        sendHeader(code == Socket::WriteFailed ? StatusLine::InsufficientStorage : StatusLine::NetworkReadError, 0);
        return;
    }
    // The file is on the disk before it takes the target's name: once 201 is answered the new
    // content is whole and stays so across a crash of this program or of the system. Dropping
    // the sync would still keep the file whole across a crash of the program (the system's
    // cache survives it) but not across a power loss. Measured on a 256 MiB PUT, a sync of the
    // whole file at the end took about 0.3 s of the 0.7 s the request took; the socket therefore
    // hands the file to the disk stretch by stretch while it arrives, and the sync here waits
    // only for the last stretch (about 10 ms). What the sync still costs is the time the disk
    // needs to write the file, where it is slower than the network.
    // The time the client's copy of the file has (ownCloud's clients and rclone send it).
    struct timespec modified;
    const bool timed = !request->ocMtime.isEmpty() && HttpDate::parseTime(request->ocMtime, &modified);
    if (timed) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, modified};
        ::futimens(file.file().handle(), times);
    }
    static const QByteArray accepted = "X-OC-Mtime: accepted\r\n";
    switch (file.place(name, replacing, true)) {
    case NewFile::Placed:
        sendHeader(StatusLine::Created, 0, timed ? &accepted : nullptr);
        break;
    case NewFile::Taken:
        // Made by somebody else meanwhile: a client that asked for a new file keeps theirs.
        sendHeader(StatusLine::PreconditionFailed, 0);
        break;
    case NewFile::Failed:
        sendHeader(StatusLine::InsufficientStorage, 0);
        break;
    }
}
