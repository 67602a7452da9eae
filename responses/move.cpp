#include "responses/move.h"

#include "responses/deadproperties.h"
#include "server/http_request.h"
#include "server/servercontext.h"
#include "server/sharepath.h"
#include "server/statusline.h"
#include "web/deletedir.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A name in the folder open at `folder` that nothing has, for an item that steps aside.
QByteArray asideName(int folder)
{
    for (;;) {
        const QByteArray candidate = ".replaced-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        struct stat status;
        if (::fstatat(folder, candidate.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
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
        sendHeader(refused == 403 ? StatusLine::Forbidden : StatusLine::BadRequest, 0);
        return;
    }
    // Each item by its folder and its name: the names themselves move, whatever they lead to.
    // The shared folder itself has no place and never moves.
    ShareRoot &items = share();
    const ShareRoot::Place source = items.place(request->path);
    const ShareRoot::Place target = items.place(destinationPath);
    if (source.refusal == ShareRoot::Outside || source.refusal == ShareRoot::Private
        || target.refusal == ShareRoot::Outside || target.refusal == ShareRoot::Private) {
        sendHeader(StatusLine::Forbidden, 0);
        return;
    }
    struct stat sourceStatus;
    struct stat targetStatus;
    if (!source.reached() || !target.reached()
        || ::fstatat(source.folder.get(), source.name.constData(), &sourceStatus, AT_SYMLINK_NOFOLLOW) != 0) {
        sendHeader(StatusLine::RenameFailed, 0);
        return;
    }
    const int from = source.folder.get();
    const int to = target.folder.get();
    const char *sourceName = source.name.constData();
    const char *targetName = target.name.constData();
    const bool targetExists = ::fstatat(to, targetName, &targetStatus, AT_SYMLINK_NOFOLLOW) == 0;
    const bool sourceIsFolder = S_ISDIR(sourceStatus.st_mode);
    const bool targetIsFolder = targetExists && S_ISDIR(targetStatus.st_mode);

    // One item under two names, or a folder into its own tree, would be lost; and neither the
    // folder that goes nor the one it replaces may take the profile folder along.
    const ShareRoot::Opened sourceItem = items.open(request->path, O_PATH);
    const ShareRoot::Opened targetItem = items.open(destinationPath, O_PATH);
    struct stat reached;
    struct stat other;
    const bool sourceReached = sourceItem.reached() && ::fstat(sourceItem.fd.get(), &reached) == 0;
    if ((targetExists && ShareRoot::sameItem(sourceStatus, targetStatus))
        || (sourceReached && targetItem.reached() && ::fstat(targetItem.fd.get(), &other) == 0
            && ShareRoot::sameItem(reached, other))
        || (sourceReached && S_ISDIR(reached.st_mode) && items.lies(to, reached))
        || (sourceIsFolder && (items.lies(to, sourceStatus) || items.holdsProfiles(sourceStatus)))
        || (targetIsFolder && items.holdsProfiles(targetStatus))) {
        sendHeader(StatusLine::Forbidden, 0);
        return;
    }
    // Properties move with the item; the folder it goes to lists them from now on.
    if (DeadProperties::isMarked(from))
        DeadProperties::markFolder(to);
    if (!targetExists) {
        // Taken meanwhile: nothing is replaced that the client did not see.
        const bool done = ::renameat2(from, sourceName, to, targetName, RENAME_NOREPLACE) == 0
                           || ((errno == EINVAL || errno == ENOSYS) && ::renameat(from, sourceName, to, targetName) == 0);
        sendHeader(done ? moved(StatusLine::Created) : StatusLine::RenameFailed, 0);
        return;
    }
    if (!overwriteAllowed(config)) {
        sendHeader(StatusLine::NameExists, 0);
        return;
    }
    // Replacing the folder that holds the source would take the source with it.
    if (targetIsFolder && items.lies(from, targetStatus)) {
        sendHeader(StatusLine::Forbidden, 0);
        return;
    }
    if (!sourceIsFolder && !targetIsFolder) {
        // rename() puts a file in another file's place in one step.
        sendHeader(::renameat(from, sourceName, to, targetName) == 0 ? moved(StatusLine::NoContent) : StatusLine::RenameFailed, 0);
        return;
    }
    // A folder is involved: the target steps aside first and comes back if the move fails.
    const QByteArray aside = asideName(to);
    if (::renameat(to, targetName, to, aside.constData()) != 0) {
        sendHeader(StatusLine::RenameFailed, 0);
        return;
    }
    if (::renameat(from, sourceName, to, targetName) != 0) {
        ::renameat(to, aside.constData(), to, targetName);
        sendHeader(StatusLine::RenameFailed, 0);
        return;
    }
    if (targetIsFolder)
        DeleteDir(to, aside, &items).deleteDir();
    else
        ::unlinkat(to, aside.constData(), 0);
    sendHeader(moved(StatusLine::NoContent), 0);
}

const char *Move::moved(const char *status)
{
    // Locks stay with the names they are on: those on what left the source end.
    request->context->locks().dropWithin(request->path);
    return status;
}
