#include "web/folderzip.h"

#include "config/configuration.h"
#include "responses/fileheaders.h"
#include "server/clientdata.h"
#include "server/http_request.h"
#include "server/response.h"
#include "server/servercontext.h"
#include "server/sharepath.h"
#include "server/statusline.h"
#include "web/sharewalk.h"

#include <QElapsedTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// What an entry's path in the archive may take: its length is a 16-bit field.
constexpr qsizetype MaxPathBytes = 0xffff;
// The archive carries no owner's rights: what a shared file is to the one who takes it.
constexpr quint16 FileMode = 0644;
constexpr quint16 FolderMode = 0755;

qint64 seconds(qint64 ms)
{
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

} // namespace

FolderZip::FolderZip(Response *response)
    : response(response)
{
}

FolderZip::~FolderZip() = default;

void FolderZip::reply(const QString &path, bool withBody)
{
    HTTP_Request *request = response->request;
    archive = ZipArchive();
    parents.clear();
    body = withBody;
    tooMany = false;
    broken = false;
    phase = Phase::Walk;
    index = 0;
    partSent = false;
    folder = path.endsWith(u'/') ? path : path + u'/';
    const TrafficMeter *traffic = request->socket.traffic;
    const bool limited = traffic && traffic->isLimited();
    sliceBytes = limited ? FileSender::PieceSize : SliceBytes;
    inlineBelow = limited ? 1 : Socket::DirectSendFrom;

    share = &request->context->share();
    const Configuration *config = request->context->config;
    walk = std::make_unique<ShareWalk>(*share, folder, config->isFolder(), request->getClientData()->showList);
    if (walk->failed()) {
        walk.reset();
        response->sendHeader(StatusLine::NotFound, 0);
        return;
    }
    QStringList names;
    for (const auto &[key, value] : request->params()) {
        if (key == QLatin1String("n"))
            names.append(value);
    }
    if (!names.isEmpty()) {
        const int refused = walk->select(names);
        if (refused != 0) {
            walk.reset();
            response->sendHeader(refused == 400 ? StatusLine::BadRequest : StatusLine::NotFound, 0);
            return;
        }
    }
    // Named after the folder; the shared folder after the share.
    name = QStringView(folder).chopped(1).mid(folder.lastIndexOf(u'/', folder.size() - 2) + 1).toString();
    if (name.isEmpty())
        name = QFileInfo(share->path()).fileName();
    if (name.isEmpty())
        name = QStringLiteral("archive");
    name += QLatin1String(".zip");
    request->socket.sendProduced(this);
}

bool FolderZip::produce(QByteArray *out)
{
    if (broken)
        return cut();
    if (phase == Phase::Walk) {
        if (!walkSome())
            return true;
        if (tooMany) {
            const QByteArray text = "More than " + QByteArray::number(ZipArchive::MaxEntries)
                                    + " entries: too many for one archive.\n";
            response->contentType = "text/plain; charset=UTF-8";
            *out = response->header(StatusLine::Forbidden, text.size());
            if (body)
                *out += text;
            return false;
        }
        const qint64 length = archive.layout();
        QByteArray extra = "X-Content-Type-Options: nosniff\r\n";
        FileHeaders::appendDisposition(&extra, name);
        response->contentType = "application/zip";
        *out = response->header(StatusLine::Ok, length, &extra);
        if (!body)
            return false;
        phase = Phase::Entries;
        index = 0;
    }
    while (out->size() < sliceBytes) {
        if (phase == Phase::Entries) {
            if (partSent) {
                partSent = false;
                archive.setCrc(index, crc);
                archive.appendDescriptor(out, index++);
            }
            if (index == archive.count()) {
                phase = Phase::Central;
                index = 0;
                continue;
            }
            if (!addEntries(out)) {
                // What this slice holds goes first; the connection closes after it.
                if (out->isEmpty())
                    return cut();
                broken = true;
                return true;
            }
            if (partSent)
                return true;
        } else {
            if (index == archive.count()) {
                archive.appendEnd(out);
                return false;
            }
            archive.appendCentralRecord(out, index++);
        }
    }
    return true;
}

bool FolderZip::addEntries(QByteArray *out)
{
    while (index < archive.count() && out->size() < sliceBytes) {
        const ZipArchive::Entry &entry = archive.at(index);
        archive.appendLocalHeader(out, index);
        if (entry.folder) {
            ++index;
            continue;
        }
        if (entry.size == 0) {
            archive.appendDescriptor(out, index++);
            continue;
        }
        const int fd = openEntry();
        if (fd < 0)
            return false;
        if (entry.size >= inlineBelow) {
            // The data goes out the socket's way; its descriptor when it is out.
            if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
                ::close(fd);
                return false;
            }
            crc = quint32(::crc32_z(0, nullptr, 0));
            partSent = true;
            response->request->socket.sendPart(&file, 0, entry.size, this);
            return true;
        }
        // A small file comes along with the records around it.
        const qsizetype at = out->size();
        out->resize(at + qsizetype(entry.size));
        const qint64 done = readAt(fd, out->data() + at, entry.size, 0);
        ::close(fd);
        if (done < entry.size)
            return false;
        archive.setCrc(index, quint32(::crc32_z(0, reinterpret_cast<const Bytef *>(out->constData() + at),
                                                 size_t(entry.size))));
        archive.appendDescriptor(out, index++);
    }
    return true;
}

int FolderZip::openEntry()
{
    // As any file of the share: a link the walk took leads to a file in it, never out.
    ShareRoot::Opened opened = share->open(folder + QString::fromUtf8(archive.path(index)), ShareRoot::ReadFlags);
    if (!opened.reached())
        return -1;
    struct stat status;
    if (::fstat(opened.fd.get(), &status) != 0 || !S_ISREG(status.st_mode)
        || qint64(status.st_size) < archive.at(index).size)
        return -1;
    return opened.fd.release();
}

bool FolderZip::cut()
{
    response->request->socket.closeConnection();
    return false;
}

void FolderZip::seen(const char *data, qint64 length)
{
    crc = quint32(::crc32_z(crc, reinterpret_cast<const Bytef *>(data), size_t(length)));
}

bool FolderZip::walkSome()
{
    QElapsedTimer clock;
    clock.start();
    ShareWalk::Item item;
    while (!clock.hasExpired(SliceMs)) {
        switch (walk->next(&item)) {
        case ShareWalk::Step::Done:
            walk.reset();
            return true;
        case ShareWalk::Step::Later:
            continue;
        case ShareWalk::Step::Entry:
            break;
        }
        const FolderListing::Entry &entry = item.entry;
        // A link to a folder is not entered; what it holds is not the folder's.
        if (entry.folder && entry.link)
            continue;
        const QByteArray own = entry.name.toUtf8();
        // A path too long for the archive; those below it are longer still.
        if (item.path.size() + 1 > MaxPathBytes / 3 && item.path.toUtf8().size() + 1 > MaxPathBytes)
            continue;
        const quint32 parent = item.depth == 0 ? ZipArchive::NoParent : parents[size_t(item.depth - 1)];
        if (!archive.add(own, parent, entry.size, seconds(entry.modified), entry.folder ? FolderMode : FileMode,
                         entry.folder)) {
            tooMany = true;
            walk.reset();
            return true;
        }
        if (entry.folder) {
            parents.resize(size_t(item.depth + 1));
            parents[size_t(item.depth)] = quint32(archive.count() - 1);
        }
    }
    return false;
}
