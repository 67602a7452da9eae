#include "responses/http_response.h"

#include "config/configuration.h"
#include "responses/byterange.h"
#include "responses/messagepages.h"
#include "responses/preconditions.h"
#include "server/http_request.h"
#include "server/servercontext.h"
#include "server/statusline.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

HTTP_Response::HTTP_Response(Configuration *config, HTTP_Request *request)
    : Response(request)
    , config(config)
    , form(request)
{
}

HTTP_Response::~HTTP_Response() = default;

void HTTP_Response::reply(QFileInfo *root)
{
    const QString a = request->param("a");
    if (request->type == HTTP_Request::Post) {
        if (a == QLatin1String("up"))
            saveFileTo(QStringLiteral("/uploads"));
        else
            sendFile(root->absoluteFilePath());
        return;
    }
    if (request->path == QLatin1String("/"))
        sendFile(root->absoluteFilePath());
    else
        sendFile(root->absoluteFilePath() + request->path);
}

void HTTP_Response::sendFile(const QString &path)
{
    if (!sendUnlessFolder(path))
        sendHeader(StatusLine::CantReadFile, 0);
}

QFile &HTTP_Response::ownFile()
{
    // Made when first needed: a small download never needs it.
    if (!file)
        file = std::make_unique<QFile>();
    return *file;
}

bool HTTP_Response::sendUnlessFolder(const QString &path)
{
    if (file)
        file->close();
    // One open and one status serve the whole answer: type, size and the content.
    const QByteArray name = QFile::encodeName(path);
    Descriptor fd(::open(name.constData(), O_RDONLY | O_CLOEXEC));
    struct stat fileStatus;
    if (fd.isOpen() && ::fstat(fd.get(), &fileStatus) == 0) {
        if (S_ISDIR(fileStatus.st_mode))
            return false;
        sendOpened(fd.release(), fileStatus, QStringView(path).sliced(path.lastIndexOf(u'/') + 1));
        return true;
    }
    // A folder that did not open is still a folder; a file that did not is unreadable.
    if (::stat(name.constData(), &fileStatus) == 0) {
        if (S_ISDIR(fileStatus.st_mode))
            return false;
        sendHeader(StatusLine::CantReadFile, 0);
        return true;
    }
    sendMissing(path);
    return true;
}

bool HTTP_Response::sendShared(const QString &path, Descriptor *folder)
{
    if (file)
        file->close();
    ShareRoot &share = request->context->share();
    // One open and one status serve the whole answer: type, size and the content (or the
    // folder's listing). The check of the request's path may have opened it already.
    Descriptor fd(request->takeOpened(path));
    if (!fd.isOpen()) {
        ShareRoot::Opened opened = share.open(path, ShareRoot::ReadFlags);
        if (opened.refusal == ShareRoot::Failed) {
            // Not readable; a folder still is one.
            ShareRoot::Opened item = share.open(path, O_PATH);
            struct stat status;
            if (item.reached() && ::fstat(item.fd.get(), &status) == 0 && S_ISDIR(status.st_mode)) {
                *folder = std::move(item.fd);
                return false;
            }
            sendHeader(StatusLine::CantReadFile, 0);
            return true;
        }
        if (opened.refusal == ShareRoot::Outside || opened.refusal == ShareRoot::Private) {
            sendHeader(StatusLine::Forbidden, 0);
            return true;
        }
        if (!opened.reached()) {
            sendMissing(path);
            return true;
        }
        fd = std::move(opened.fd);
    }
    struct stat fileStatus;
    if (::fstat(fd.get(), &fileStatus) != 0) {
        sendHeader(StatusLine::CantReadFile, 0);
        return true;
    }
    if (S_ISDIR(fileStatus.st_mode)) {
        *folder = std::move(fd);
        return false;
    }
    sendOpened(fd.release(), fileStatus, ShareRoot::lastName(path));
    return true;
}

void HTTP_Response::sendOpened(int fd, const struct stat &fileStatus, QStringView fileName)
{
    QByteArray extra;
    extra.reserve(100);
    const qint64 size = fileStatus.st_size;
    const char *status = StatusLine::Ok;
    qint64 offset = 0;
    qint64 count = size;
    const qint64 modifiedMs = qint64(fileStatus.st_mtim.tv_sec) * 1000 + fileStatus.st_mtim.tv_nsec / 1000000;
    if (Preconditions::answerConditions(this, size, modifiedMs)) {
        ::close(fd);
        return;
    }
    // A range of another version of the file would be stitched to the wrong bytes: the whole file.
    const bool ranged = request->ifRange.isEmpty() || Preconditions::ifRangeHolds(request->ifRange, size, modifiedMs);
    switch (ranged ? ByteRange::choose(request->rangeStart, request->rangeEnd, request->rangeSuffix, size, &offset, &count)
                   : 200) {
    case 416:
        ::close(fd);
        extra = "Content-Range: bytes */" + QByteArray::number(size) + "\r\n";
        sendHeader(StatusLine::RangeNotSatisfiable, 0, &extra);
        return;
    case 206:
        status = StatusLine::PartialContent;
        extra = "Content-Range: bytes " + QByteArray::number(offset) + '-' + QByteArray::number(offset + count - 1)
                + '/' + QByteArray::number(size) + "\r\n";
        break;
    default:
        break;
    }

    contentType = FileHeaders::describe(fileName, size, modifiedMs, &extra, disposition);
    if (count <= 0) {
        ::close(fd);
        sendHeader(status, count, &extra);
        return;
    }
    Socket &socket = request->socket;
    // A small body goes out with its head in one write. Not while answers wait in the socket
    // (the socket's own sending waits for room then), nor under a traffic limit (that stops a
    // send after the piece in progress).
    const bool limited = socket.traffic && socket.traffic->isLimited();
    if (!limited && count < Socket::DirectSendFrom && count <= Socket::TlsBatch
        && socket.bytesQueued() == 0) {
        sendWithHead(fd, status, offset, count, extra);
        return;
    }
    QFile &source = ownFile();
    if (!source.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        sendHeader(StatusLine::CantReadFile, 0);
        return;
    }
    sendHeader(status, count, &extra);
    socket.sendFile(&source, offset, count);
}

void HTTP_Response::sendWithHead(int fd, const char *status, qint64 offset, qint64 count, const QByteArray &extra)
{
    Socket &socket = request->socket;
    QByteArray answer = header(status, count, &extra);
    const qsizetype headSize = answer.size();
    answer.resize(headSize + count);
    const qint64 got = readAt(fd, answer.data() + headSize, count, offset);
    ::close(fd);
    if (got == count) {
        socket.write(answer, true);
    } else {
        // The file ended before the length announced: only closing tells the peer.
        answer.truncate(headSize + got);
        socket.write(answer, false);
        socket.closeConnection();
    }
}

void HTTP_Response::sendMissing(const QString &path)
{
    if (config->isThumbnail() && path.endsWith(QLatin1String("/favicon.ico")))
        sendFile(request->context->iconDir + QLatin1String("n900.ico"));
    else
        MessagePages::sendNotFound(this);
}

void HTTP_Response::saveFileTo(const QString &folder)
{
    const UploadResult opened = form.open(folder);
    if (opened != UploadResult::Sent) {
        reply(int(opened));
        return;
    }
    connect(&request->socket, &Socket::startReply, this, qOverload<int>(&HTTP_Response::reply),
            Qt::UniqueConnection);
    form.receive();
}

UploadResult HTTP_Response::finishUpload(int code)
{
    disconnect(&request->socket, &Socket::startReply, this, qOverload<int>(&HTTP_Response::reply));
    return form.finish(code);
}

void HTTP_Response::reply(int code)
{
    // A shared single file has no folder page to show the result on: a short page says it.
    MessagePages::sendMessage(this, FormUpload::message(finishUpload(code)));
}
