#include "responses/formupload.h"

#include "server/http_request.h"
#include "server/newfile.h"
#include "server/servercontext.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FormUpload::FormUpload(HTTP_Request *request)
    : request(request)
{
}

FormUpload::~FormUpload() = default;

UploadResult FormUpload::open(const QString &folder)
{
    upload.reset();
    const qsizetype at = request->contentType.indexOf("boundary=");
    if (at < 0)
        return UploadResult::NoFile;
    delimiter = "\r\n--" + request->contentType.mid(at + 9);

    // The first part's headers: the delimiter line, the header lines, an empty line.
    QByteArray partHeader;
    for (;;) {
        const QByteArray line = request->socket.readLine();
        request->contentLength -= line.size() + 2;
        if (const std::optional<QByteArray> parameters = dispositionParameters(line))
            partHeader = *parameters;
        if (line.isEmpty())
            break;
    }
    const QString fileName = partFileName(partHeader, withFolders);
    if (!isPartPath(fileName))
        return UploadResult::NoFile;
    // A shared single file has no folder to receive files.
    if (request->singleFile || !request->context)
        return UploadResult::NotOpened;
    ShareRoot::Opened into = request->context->share().open(folder, O_PATH | O_DIRECTORY);
    if (!into.reached())
        return UploadResult::NotOpened;
    uploadFolder = std::move(into.fd);
    // The first file decides before the body is read: refused, the rest of the form is not.
    partsResult = UploadResult::Sent;
    const UploadResult opened = openPart(fileName);
    if (opened != UploadResult::Sent)
        uploadFolder.reset();
    return opened;
}

void FormUpload::receive()
{
    Socket &socket = request->socket;
    socket.saveFile(&upload->file(), delimiter, socket.unreadBody(), this);
}

QString FormUpload::partFileName(const QByteArray &disposition, bool withFolders)
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

bool FormUpload::isPartPath(const QString &path)
{
    const QList<QStringView> names = QStringView(path).split(u'/');
    return std::all_of(names.begin(), names.end(), [](QStringView name) { return ShareRoot::isPlainName(name.toString()); });
}

UploadResult FormUpload::openPartFolder(QStringView path, Descriptor *folder)
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

UploadResult FormUpload::openPart(const QString &fileName)
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

void FormUpload::partEnded(QFileDevice *, bool written)
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

QFileDevice *FormUpload::nextPart(QByteArrayView headers)
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
    const QString fileName = partFileName(partHeader, withFolders);
    const UploadResult opened = isPartPath(fileName) ? openPart(fileName) : UploadResult::NoFile;
    if (opened != UploadResult::Sent) {
        notePart(opened);
        return nullptr;
    }
    return &upload->file();
}

void FormUpload::notePart(UploadResult result)
{
    // The page tells the first file that was not kept.
    if (partsResult == UploadResult::Sent)
        partsResult = result;
}

UploadResult FormUpload::finish(int code)
{
    // Any other number from the socket is a failed read.
    UploadResult result = code >= 0 && code <= int(UploadResult::NoDelimiter) ? UploadResult(code)
                                                                              : UploadResult::ReadFailed;
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

const char *FormUpload::message(UploadResult result)
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

std::optional<QByteArray> FormUpload::dispositionParameters(QByteArrayView headerLine)
{
    const qsizetype colon = headerLine.indexOf(':');
    if (colon < 0 || headerLine.first(colon).compare("Content-Disposition", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    // After the disposition type ("form-data").
    const QByteArrayView value = headerLine.sliced(colon + 1);
    const qsizetype semicolon = value.indexOf(';');
    return semicolon < 0 ? QByteArray() : value.sliced(semicolon + 1).toByteArray();
}

QByteArray FormUpload::uploadFileName(const QByteArray &disposition)
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
