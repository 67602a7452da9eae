#include "responses/http_response.h"

#include "config/configuration.h"
#include "responses/filetypes.h"
#include "responses/preconditions.h"
#include "responses/textcoding.h"
#include "server/http_request.h"
#include "server/httpdate.h"
#include "server/newfile.h"
#include "server/servercontext.h"
#include "server/statusline.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

HTTP_Response::HTTP_Response(Configuration *config, HTTP_Request *request)
    : Response(request)
    , config(config)
{
}

HTTP_Response::~HTTP_Response() = default;

QByteArray HTTP_Response::getContentType(QStringView suffix)
{
    const FileTypes::Row *row = FileTypes::find(suffix);
    return row && row->contentType ? QByteArray(row->contentType) : QByteArray();
}

QByteArray HTTP_Response::describeFile(QStringView fileName, qint64 size, qint64 modifiedMs, QByteArray *extra,
                                       Disposition disposition)
{
    // The suffix in small letters, as the table of types knows them.
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const QStringView given = dot < 0 ? QStringView() : fileName.sliced(dot + 1);
    char16_t small[16];
    QString other;
    QStringView suffix;
    if (given.size() <= qsizetype(std::size(small))) {
        suffix = QStringView(small, given.size());
        for (qsizetype i = 0; i < given.size(); ++i) {
            const char16_t c = given.at(i).unicode();
            if (c > 0x7f) {
                suffix = QStringView();
                break;
            }
            small[i] = c >= 'A' && c <= 'Z' ? char16_t(c + ('a' - 'A')) : c;
        }
    }
    if (suffix.size() != given.size()) {
        other = given.toString().toLower();
        suffix = other;
    }
    const FileTypes::Row *row = FileTypes::find(suffix);

    // Classic answers show pages (html) and offer everything else as a download; the responsive
    // pages open in the browser what it can show, with the type it is shown as.
    const char *type = row ? row->contentType : nullptr;
    bool shown = false;
    switch (disposition) {
    case Disposition::Classic:
        shown = suffix == u"html";
        break;
    case Disposition::Inline:
        shown = row && row->viewType;
        if (shown)
            type = row->viewType;
        break;
    case Disposition::Download:
        if (row && row->viewType)
            type = row->viewType;
        break;
    }

    const bool named = !shown || disposition != Disposition::Classic;
    // A browser takes a file for what its name says, never for what its bytes look like; and a
    // page or picture that may hold script runs as from a site of its own, without the session.
    const bool scripted = row && row->scripted;
    const QByteArrayView none;
    appendValidators(extra, size, modifiedMs);
    append(extra, {
        "X-Content-Type-Options: nosniff\r\n",
        scripted ? QByteArrayView("Content-Security-Policy: sandbox\r\n") : none,
    });
    if (named)
        appendDisposition(extra, fileName, shown);
    return type ? QByteArray(type) : QByteArray();
}

void HTTP_Response::appendValidators(QByteArray *extra, qint64 size, qint64 modifiedMs)
{
    char date[48];
    char tag[EntityTagSize];
    append(extra, {
        "Last-Modified: ", QByteArrayView(date, HttpDate::write(date, modifiedMs, true) - date),
        "\r\nETag: ", QByteArrayView(tag, writeEntityTag(tag, size, modifiedMs) - tag), "\r\n",
    });
}

bool HTTP_Response::answerConditions(Response *response, qint64 size, qint64 modifiedMs)
{
    const HTTP_Request &request = *response->request;
    if (request.ifMatch.isEmpty() && request.ifNoneMatch.isEmpty() && request.ifModifiedSince.isEmpty()
        && request.ifUnmodifiedSince.isEmpty())
        return false;
    qint64 seconds = modifiedMs / 1000;
    if (modifiedMs % 1000 < 0)
        --seconds;
    const Preconditions::Item item{true, entityTag(size, modifiedMs), seconds};
    switch (Preconditions::evaluate(request, item, true)) {
    case Preconditions::Outcome::Go:
        return false;
    case Preconditions::Outcome::Failed:
        response->sendHeader(StatusLine::PreconditionFailed, 0);
        return true;
    case Preconditions::Outcome::NotModified:
        break;
    }
    // The validators, and no body: the length is the file's, which a 304 may tell (RFC 9110 8.6),
    // and no type, which it need not.
    QByteArray extra;
    appendValidators(&extra, size, modifiedMs);
    const QByteArray type = std::exchange(response->contentType, QByteArray());
    const QByteArray head = response->header(StatusLine::NotModified, size, &extra);
    response->contentType = type;
    response->request->socket.write(head, true);
    return true;
}

void HTTP_Response::appendDisposition(QByteArray *extra, QStringView fileName, bool shown)
{
    // A name the quoted parameter cannot carry follows in UTF-8 as well (RFC 6266 4.3).
    QByteArray extended;
    if (std::any_of(fileName.begin(), fileName.end(), [](QChar c) { return c.unicode() > 0xff; }))
        extended = "; filename*=UTF-8''" + fileName.toUtf8().toPercentEncoding("!#$&+^`|~", "'()*");
    append(extra, {shown ? "Content-Disposition: inline; filename=\"" : "Content-Disposition: attachment; filename=\"",
                   dispositionName(fileName), "\"", extended, "\r\n"});
}

char *HTTP_Response::writeEntityTag(char *out, qint64 size, qint64 modifiedMs)
{
    *out++ = '"';
    out = std::to_chars(out, out + 17, modifiedMs, 16).ptr;
    *out++ = '-';
    out = std::to_chars(out, out + 17, size, 16).ptr;
    *out++ = '"';
    return out;
}

QByteArray HTTP_Response::entityTag(qint64 size, qint64 modifiedMs)
{
    char tag[EntityTagSize];
    return QByteArray(tag, writeEntityTag(tag, size, modifiedMs) - tag);
}

bool HTTP_Response::ifRangeHolds(QByteArrayView value, qint64 size, qint64 modifiedMs)
{
    const QByteArrayView v = value.trimmed();
    // A weak tag never matches (RFC 9110 13.1.5); a tag is compared whole.
    if (v.startsWith('"'))
        return v == entityTag(size, modifiedMs);
    if (v.startsWith("W/"))
        return false;
    qint64 date = 0;
    if (!HttpDate::parse(v, &date))
        return false;
    qint64 seconds = modifiedMs / 1000;
    if (modifiedMs % 1000 < 0)
        --seconds;
    return date == seconds;
}

QByteArray HTTP_Response::dispositionName(QStringView name)
{
    QByteArray out = name.toLatin1(); // characters outside Latin-1 become '?'
    for (char &c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '"')
            c = '?';
    }
    return out;
}

QByteArray HTTP_Response::escape(QByteArrayView utf8)
{
    return TextCoding::escaped(utf8);
}

QByteArray HTTP_Response::escape(QStringView text)
{
    return escape(QByteArrayView(text.toUtf8()));
}

bool HTTP_Response::isPlainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
           && !name.contains(u'/') && !name.contains(QChar(0));
}

const char *HTTP_Response::uploadMessage(UploadResult result)
{
    switch (result) {
    case UploadResult::Sent: return "File sent success.";
    case UploadResult::WriteFailed: return "File send failed: Maybe insufficient storage.";
    case UploadResult::NoFile: return "File send failed: Unsupported browser or no file selected.";
    case UploadResult::Exists: return "File send failed: File exists";
    case UploadResult::NoDelimiter: return "File send failed: Network error or unsupported browser.";
    case UploadResult::NotOpened:
    case UploadResult::ReadFailed:
        break;
    }
    return "File send failed: Network read error.";
}

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
    if (config->isThumbnail() && path.endsWith(QLatin1String("/favicon.ico")))
        sendFile(request->context->iconDir + QLatin1String("n900.ico"));
    else
        notFound();
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
            if (config->isThumbnail() && path.endsWith(QLatin1String("/favicon.ico")))
                sendFile(request->context->iconDir + QLatin1String("n900.ico"));
            else
                notFound();
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
    if (answerConditions(this, size, modifiedMs)) {
        ::close(fd);
        return;
    }
    // A range of another version of the file would be stitched to the wrong bytes: the whole file.
    const bool ranged = request->ifRange.isEmpty() || ifRangeHolds(request->ifRange, size, modifiedMs);
    switch (ranged ? byteRange(request->rangeStart, request->rangeEnd, request->rangeSuffix, size, &offset, &count)
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

    contentType = describeFile(fileName, size, modifiedMs, &extra, disposition);
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
        QByteArray answer = header(status, count, &extra);
        const qsizetype headSize = answer.size();
        answer.resize(headSize + count);
        qint64 got = 0;
        while (got < count) {
            const ssize_t n = ::pread(fd, answer.data() + headSize + got, size_t(count - got), off_t(offset + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        ::close(fd);
        if (got == count) {
            socket.write(answer, true);
        } else {
            // The file ended before the length announced: only closing tells the peer.
            answer.truncate(headSize + got);
            socket.write(answer, false);
            socket.closeConnection();
        }
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

int HTTP_Response::byteRange(qint64 start, qint64 end, bool suffix, qint64 size, qint64 *offset, qint64 *count)
{
    *offset = 0;
    *count = size;
    if (suffix) {
        // The last `end` bytes, all of them when the file is shorter (RFC 9110 14.1.2).
        if (end < 1 || size < 1)
            return 416;
        *count = qMin(end, size);
        *offset = size - *count;
        return 206;
    }
    // A range that starts past its own end is ignored; one that starts past the file is refused.
    if ((start < 1 && end < 1) || (end > 0 && start > end))
        return 200;
    if (start < 0 || start >= size)
        return 416;
    const qint64 last = (end > 0 && end < size) ? end : size - 1;
    *offset = start;
    *count = last - start + 1;
    return 206;
}

void HTTP_Response::notFound()
{
    QByteArray body = "<html><title>Wrong URL</title><body><h1>Wrong URL</h1>Path=";
    body += escape(QByteArrayView(request->path.toLatin1()));
    body += "<br>or File=";
    body += escape(QStringView(request->path));
    body += "<br>Not found.</body></html>";
    contentType = "text/html";
    sendHeader(StatusLine::NotFound, body.size(), &PageHeaders);
    request->socket.write(body, true);
}

std::optional<QByteArray> HTTP_Response::dispositionParameters(QByteArrayView headerLine)
{
    const qsizetype colon = headerLine.indexOf(':');
    if (colon < 0 || headerLine.first(colon).compare("Content-Disposition", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    // After the disposition type ("form-data").
    const QByteArrayView value = headerLine.sliced(colon + 1);
    const qsizetype semicolon = value.indexOf(';');
    return semicolon < 0 ? QByteArray() : value.sliced(semicolon + 1).toByteArray();
}

QByteArray HTTP_Response::uploadFileName(const QByteArray &disposition)
{
    // The parameter itself, not the end of another one's name ("xfilename=").
    qsizetype at = -1;
    for (qsizetype from = 0; (at = disposition.indexOf("filename=", from)) > 0; from = at + 1) {
        const char before = disposition.at(at - 1);
        if (before == ';' || before == ' ' || before == '\t')
            break;
    }
    if (at < 0)
        return QByteArray();
    QByteArray value = disposition.mid(at + 9);
    if (value.startsWith('"')) {
        // A quoted string; browsers write a quote inside a name as %22 and leave '\' alone.
        value.remove(0, 1);
        const qsizetype quote = value.indexOf('"');
        if (quote >= 0)
            value.truncate(quote);
        return value;
    }
    // A token: up to the next parameter.
    const qsizetype semicolon = value.indexOf(';');
    if (semicolon >= 0)
        value.truncate(semicolon);
    return value.trimmed();
}

void HTTP_Response::sendLoginPage(const char *status)
{
    QFile page(request->context->langPath + QLatin1String("login.html"));
    if (!page.open(QIODevice::ReadOnly)) {
        notFound();
        return;
    }
    const QByteArray body = page.readAll();
    contentType = "text/html; charset=UTF-8";
    sendHeader(status, body.size(), &PageHeaders);
    request->socket.write(body, true);
}

void HTTP_Response::saveFileTo(const QString &folder)
{
    upload.reset();
    Socket &socket = request->socket;
    const qsizetype at = request->contentType.indexOf("boundary=");
    if (at < 0) {
        endUpload(UploadResult::NoFile);
        return;
    }
    const QByteArray delimiter = "\r\n--" + request->contentType.mid(at + 9);

    // The first part's headers: the delimiter line, the header lines, an empty line.
    QByteArray partHeader;
    for (;;) {
        const QByteArray line = socket.readLine();
        request->contentLength -= line.size() + 2;
        if (const std::optional<QByteArray> parameters = dispositionParameters(line))
            partHeader = *parameters;
        if (line.isEmpty())
            break;
    }
    const QString fileName = partFileName(partHeader, uploadsFolders);
    if (!isPartPath(fileName)) {
        endUpload(UploadResult::NoFile);
        return;
    }
    // A shared single file has no folder to receive files.
    if (request->singleFile || !request->context) {
        endUpload(UploadResult::NotOpened);
        return;
    }
    ShareRoot::Opened into = request->context->share().open(folder, O_PATH | O_DIRECTORY);
    if (!into.reached()) {
        endUpload(UploadResult::NotOpened);
        return;
    }
    uploadFolder = std::move(into.fd);
    // The first file decides before the body is read: refused, the rest of the form is not.
    partsResult = UploadResult::Sent;
    const UploadResult opened = openPart(fileName);
    if (opened != UploadResult::Sent) {
        uploadFolder.reset();
        endUpload(opened);
        return;
    }
    connect(&socket, &Socket::startReply, this, qOverload<int>(&HTTP_Response::reply),
            Qt::UniqueConnection);
    socket.saveFile(&upload->file(), delimiter, socket.unreadBody(), this);
}

QString HTTP_Response::partFileName(const QByteArray &disposition, bool withFolders)
{
    QByteArray name = uploadFileName(disposition);
    // Browsers may send the whole client path; a folder chosen whole names the folders in it.
    qsizetype cut = withFolders ? -1 : name.lastIndexOf('/');
    if (cut < 0)
        cut = name.lastIndexOf('\\');
    if (cut >= 0)
        name = name.mid(cut + 1);
    const qsizetype nul = name.indexOf('\0');
    if (nul >= 0)
        name.truncate(nul);
    // Browsers send the name in UTF-8, whatever the page's encoding.
    return QString::fromUtf8(name);
}

bool HTTP_Response::isPartPath(const QString &path)
{
    const QList<QStringView> names = QStringView(path).split(u'/');
    return std::all_of(names.begin(), names.end(), [](QStringView name) { return isPlainName(name.toString()); });
}

UploadResult HTTP_Response::openPartFolder(QStringView path, Descriptor *folder)
{
    ShareRoot &share = request->context->share();
    int in = uploadFolder.get();
    for (const QStringView name : path.split(u'/')) {
        const QByteArray local = name.toString().toLocal8Bit();
        if (::mkdirat(in, local.constData(), 0777) != 0 && errno != EEXIST)
            return UploadResult::NotOpened;
        // A link is not followed: the folders are the names given, below the upload's folder.
        Descriptor next(::openat(in, local.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.isOpen())
            return errno == ENOTDIR || errno == ELOOP ? UploadResult::Exists : UploadResult::NotOpened;
        // The profile folder takes no files.
        if (share.isPrivate(next.get()))
            return UploadResult::NotOpened;
        *folder = std::move(next);
        in = folder->get();
    }
    return UploadResult::Sent;
}

UploadResult HTTP_Response::openPart(const QString &fileName)
{
    // A name below folders of the upload's folder: those are made first.
    int in = uploadFolder.get();
    Descriptor below;
    const qsizetype slash = fileName.lastIndexOf(u'/');
    if (slash >= 0) {
        const UploadResult made = openPartFolder(QStringView(fileName).first(slash), &below);
        if (made != UploadResult::Sent)
            return made;
        in = below.get();
    }
    // Nothing, not even a link, may have the name; the file is created in the folder's
    // descriptor and gets its name only when it is complete: until then, and after a crash, it
    // has none.
    const QByteArray name = fileName.mid(slash + 1).toLocal8Bit();
    struct stat status;
    if (::fstatat(in, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0)
        return UploadResult::Exists;
    upload = std::make_unique<NewFile>();
    if (!upload->create(in)) {
        upload.reset();
        return UploadResult::NotOpened;
    }
    uploadName = name;
    return UploadResult::Sent;
}

void HTTP_Response::partEnded(QFileDevice *, bool written)
{
    if (!upload)
        return;
    UploadResult result = UploadResult::WriteFailed;
    if (written) {
        switch (upload->place(uploadName, false, false)) {
        case NewFile::Placed:
            result = UploadResult::Sent;
            break;
        case NewFile::Taken:
            result = UploadResult::Exists;
            break;
        case NewFile::Failed:
            break;
        }
    }
    // Placed, or nothing of it remains.
    upload.reset();
    notePart(result);
}

QFileDevice *HTTP_Response::nextPart(QByteArrayView headers)
{
    QByteArray partHeader;
    for (qsizetype from = 0; from < headers.size();) {
        qsizetype end = headers.indexOf("\r\n", from);
        if (end < 0)
            end = headers.size();
        if (const std::optional<QByteArray> parameters = dispositionParameters(headers.sliced(from, end - from)))
            partHeader = *parameters;
        from = end + 2;
    }
    // A field of the form, or a file input left empty.
    if (uploadFileName(partHeader).isEmpty())
        return nullptr;
    // Each file as if it came alone: a name that is not one, or one taken, keeps nothing.
    const QString fileName = partFileName(partHeader, uploadsFolders);
    const UploadResult opened = isPartPath(fileName) ? openPart(fileName) : UploadResult::NoFile;
    if (opened != UploadResult::Sent) {
        notePart(opened);
        return nullptr;
    }
    return &upload->file();
}

void HTTP_Response::notePart(UploadResult result)
{
    // The page tells the first file that was not kept.
    if (partsResult == UploadResult::Sent)
        partsResult = result;
}

UploadResult HTTP_Response::finishUpload(int code)
{
    // Any other number from the socket is a failed read.
    UploadResult result = code >= 0 && code <= int(UploadResult::NoDelimiter) ? UploadResult(code)
                                                                              : UploadResult::ReadFailed;
    disconnect(&request->socket, &Socket::startReply, this, qOverload<int>(&HTTP_Response::reply));
    // Each part that ended was kept or removed then; one still open, the body ended (or failed)
    // in the middle of: nothing of it remains.
    if (upload) {
        upload.reset();
        if (result == UploadResult::Sent)
            result = UploadResult::NoDelimiter;
    }
    uploadFolder.reset();
    if (result == UploadResult::Sent)
        result = partsResult;
    return result;
}

void HTTP_Response::reply(int code)
{
    const UploadResult result = finishUpload(code);
    // A shared single file has no folder page to show the result on: a short page says it.
    QByteArray body = "<html><body><h2>";
    body += uploadMessage(result);
    body += "</h2></body></html>";
    contentType = "text/html; charset=UTF-8";
    sendHeader(StatusLine::Ok, body.size(), &PageHeaders);
    request->socket.write(body, true);
}
