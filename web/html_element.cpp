#include "web/html_element.h"

#include "config/configuration.h"
#include "responses/filetypes.h"
#include "responses/textcoding.h"
#include "server/sharepath.h"
#include "web/photoexif.h"
#include "web/shortdates.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryFile>

#include <charconv>
#include <cstring>

namespace {

const char ImgOpen[] = "<img src=\"";
const char ImgClose[] = "\" vspace=\"8\" align=\"center\" border=\"0\">";

using TextCoding::Kept;
// Upper bounds of the bytes one byte of a name becomes.
constexpr qsizetype Encoded = TextCoding::EncodedSize;
constexpr qsizetype Escaped = TextCoding::EscapedSize;
// Upper bound of the fixed text of one cell (markup, icon name, size text).
constexpr qsizetype CellMarkup = 512;

// The writers of one cell put their pieces into room made for the whole cell beforehand.
template <std::size_t N>
char *put(char *to, const char (&text)[N])
{
    std::memcpy(to, text, N - 1);
    return to + N - 1;
}

char *put(char *to, QByteArrayView bytes)
{
    if (!bytes.isEmpty())
        std::memcpy(to, bytes.data(), size_t(bytes.size()));
    return to + bytes.size();
}

// The size text of addSize().
char *putSize(char *to, qint64 size)
{
    constexpr qint64 GB = 1073741824;
    constexpr qint64 MB = 1048576;
    constexpr qint64 KB = 1024;
    if (size > GB)
        return put(std::to_chars(to, to + 24, size / GB).ptr, "GB");
    if (size > MB)
        return put(std::to_chars(to, to + 24, size / MB).ptr, "MB");
    if (size > KB)
        return put(std::to_chars(to, to + 24, size / KB).ptr, "KB");
    return put(std::to_chars(to, to + 24, size).ptr, "Byte");
}

// Room for one cell at the end of `page`; returns where its first byte goes.
char *makeRoom(QByteArray *page, qsizetype bytes)
{
    const qsizetype at = page->size();
    page->resize(at + bytes);
    return page->data() + at;
}

// Gives back the room a cell did not use; `end` is just after its last byte.
void endCell(QByteArray *page, const char *end)
{
    page->resize(end - page->constData());
}

// The opening of an entry's cell, up to the opening of its link; `name` and `link` receive
// where the escaped name and the link were written, for the pieces that repeat them.
char *putCellStart(char *to, const HTML_Element::Cell &cell, bool checkbox, QByteArrayView *name,
                   QByteArrayView *link)
{
    to = put(to, "<td align=\"center\" width=\"200\">");
    char *nameAt = nullptr;
    if (checkbox) {
        to = put(to, "<input type=\"checkbox\" name=\"");
        *to++ = cell.folder ? 'd' : 'f';
        to = put(to, "\" value=\"");
        nameAt = to;
        to = TextCoding::writeEscaped(to, cell.name);
        *name = QByteArrayView(nameAt, to - nameAt);
        to = put(to, "\"> ");
    }
    to = put(to, "<a href=\"");
    char *const linkAt = to;
    to = put(to, cell.linkPrefix);
    to = TextCoding::writePercentEncoded(to, cell.name, Kept::PageLink);
    *link = QByteArrayView(linkAt, to - linkAt);
    to = put(to, "\">");
    if (!nameAt)
        *name = QByteArrayView();
    return to;
}

// The escaped name; written afresh when the check box did not write it already.
char *putName(char *to, const HTML_Element::Cell &cell, QByteArrayView written)
{
    return written.data() ? put(to, written) : TextCoding::writeEscaped(to, cell.name);
}

// The end of a file's link with its size and date.
char *putFileDetails(char *to, const HTML_Element::Cell &cell, const QByteArray &date)
{
    to = put(to, "</a>");
    to = putSize(to, cell.size);
    to = put(to, "<br>");
    return put(to, date);
}

qsizetype cellRoom(const HTML_Element::Cell &cell, qsizetype more)
{
    return CellMarkup + 2 * cell.linkPrefix.size() + cell.name.size() * (2 * Encoded + 2 * Escaped)
           + more;
}

} // namespace

void addSize(QByteArray *out, qint64 size)
{
    char text[32];
    out->append(text, putSize(text, size) - text);
}

HTML_Element::HTML_Element(const QFileInfo &entry, Rule rule, const QString &shareRoot)
    : fileInfo(entry)
    , path(entry.absoluteFilePath())
    , rule(rule)
    , shareRoot(shareRoot)
{
    const QString name = entry.fileName();
    extension = name;
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 1)
        return;
    extension = name.mid(dot + 1).toLower();
    if (rule == Rule::EveryPicture) {
        static const QStringList decoded = {QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
                                            QStringLiteral("gif"), QStringLiteral("webp"), QStringLiteral("bmp")};
        if (!decoded.contains(extension))
            return;
        // Photos become JPEG thumbnails, other pictures PNG ones (they may be transparent).
        const bool photo = extension == QLatin1String("jpg") || extension == QLatin1String("jpeg");
        tmpFile = new QTemporaryFile(Configuration::ConfigDir + QLatin1String("tmp/") + name
                                     + QLatin1String(photo ? ".XXXXXX.jpg" : ".XXXXXX.png"));
        icon = "image.png";
        ready = false;
        return;
    }
    if (extension != QLatin1String("jpg") && extension != QLatin1String("png")) {
        icon = getIcon(extension);
        return;
    }
    if (entry.size() >= ThumbnailFrom) {
        // The suffix names the format the thumbnail is written in, so it is served as an image.
        tmpFile = new QTemporaryFile(Configuration::ConfigDir + QLatin1String("tmp/") + name
                                     + QLatin1String(".XXXXXX.") + extension);
        icon = "image.png";
        ready = false;
    } else {
        icon = QByteArray(""); // empty, not null: the image is its own picture
    }
}

HTML_Element::~HTML_Element()
{
    deleteTmpFile();
}

bool HTML_Element::operator==(const HTML_Element *other) const
{
    return other && path == other->path;
}

void HTML_Element::deleteTmpFile()
{
    if (!tmpFile)
        return;
    tmpFile->close();
    // An unopened temporary file has no name yet and nothing on disk.
    if (!tmpFile->fileName().isEmpty())
        tmpFile->remove();
    delete tmpFile;
    tmpFile = nullptr;
}

void HTML_Element::scaleFailed()
{
    deleteTmpFile();
    ready = true;
}

QImage HTML_Element::scaledImage() const
{
    QFile file;
    const qsizetype below = shareRoot.endsWith(u'/') ? shareRoot.size() - 1 : shareRoot.size();
    if (shareRoot.isEmpty() || !path.startsWith(shareRoot) || path.size() <= below || path.at(below) != u'/') {
        file.setFileName(path);
        if (!file.open(QIODevice::ReadOnly))
            return QImage();
    } else {
        // Only the worker makes thumbnails: one share descriptor of its own, opened again only
        // when the shared folder changes.
        static thread_local ShareRoot share;
        share.use(shareRoot, false);
        ShareRoot::Opened opened = share.open(QStringView(path).sliced(below), ShareRoot::ReadFlags);
        if (!opened.reached() || !file.open(opened.fd.release(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
            return QImage();
    }
    if (extension != QLatin1String("jpg") && extension != QLatin1String("jpeg"))
        return decodedImage(&file);
    // A photo is shown upright, from the preview the camera stored in its EXIF block when that
    // is large enough, which spares decoding the photo itself.
    const PhotoExif exif = PhotoExif::read(&file);
    QImage image = exif.previewFitting(box(), ReaderQuality);
    if (image.isNull() && file.seek(0))
        image = decodedImage(&file);
    return upright(image, exif.orientation);
}

QImage HTML_Element::decodedImage(QFile *file) const
{
    // An image of common size is read whole first: from memory the JPEG decoder takes the data
    // in one piece and stays on its fast path, where reading from the file gives it 4 KiB at a
    // time. Larger files are read from the file as they are decoded.
    QByteArray data;
    QBuffer buffer(&data);
    QIODevice *source = file;
    if (file->size() <= InMemoryLimit) {
        data = file->readAll();
        file->close();
        buffer.open(QIODevice::ReadOnly);
        source = &buffer;
    }
    QImageReader reader(source);
    if (rule == Rule::EveryPicture && extension != QLatin1String("jpg") && extension != QLatin1String("jpeg")) {
        // Decoded scaled where the format can, else whole when it is not too large.
        const QSize size = reader.size();
        if (!size.isValid() || size.isEmpty())
            return QImage();
        const QSize fitting = size.width() <= LargeBox && size.height() <= LargeBox
                                  ? size
                                  : size.scaled(LargeBox, LargeBox, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
        if (reader.supportsOption(QImageIOHandler::ScaledSize)) {
            reader.setScaledSize(fitting);
            return reader.read();
        }
        if (qint64(size.width()) * size.height() > MaxWholePixels)
            return QImage();
        QImage image;
        if (!reader.read(&image) || image.isNull())
            return QImage();
        return image.size() == fitting ? image : image.scaled(fitting, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (extension == QLatin1String("png")) {
        const QSize size = reader.size();
        if (size.isValid() && size.width() > 0
            && qint64(size.height()) * ThumbnailBox / size.width() > MaxThumbnailHeight)
            return QImage();
        QImage image;
        if (!reader.read(&image) || image.isNull() || image.width() < 1)
            return QImage();
        if (qint64(image.height()) * ThumbnailBox / image.width() > MaxThumbnailHeight)
            return QImage();
        return image.scaledToWidth(ThumbnailBox, Qt::FastTransformation);
    }
    // The photo's orientation is the caller's to apply, read once with its preview.
    reader.setAutoTransform(false);
    reader.setQuality(ReaderQuality);
    const QSize size = reader.size();
    if (!size.isValid())
        return QImage();
    if (!reader.supportsOption(QImageIOHandler::ScaledSize)
        && (size.width() > UnscaledLimit || size.height() > UnscaledLimit))
        return QImage();
    // A responsive thumbnail is never larger than the photo.
    const int largest = box();
    if (rule == Rule::EveryPicture && size.width() <= largest && size.height() <= largest)
        return reader.read();
    reader.setScaledSize(size.scaled(largest, largest, Qt::KeepAspectRatio));
    return reader.read();
}

bool HTML_Element::init()
{
    if (!tmpFile)
        return false;
    const QImage image = scaledImage();
    if (image.isNull())
        return false;
    tmpFile->setAutoRemove(false);
    if (!tmpFile->open())
        return false;
    const char *format = tmpFile->fileTemplate().endsWith(QLatin1String(".png")) ? "PNG" : "JPEG";
    const bool written = image.save(tmpFile, format);
    tmpFile->close();
    return written && tmpFile->error() == QFileDevice::NoError;
}

void HTML_Element::publish(bool made)
{
    if (made)
        ready = true;
    else
        scaleFailed();
}

QString HTML_Element::thumbnailFile() const
{
    return (ready && tmpFile) ? tmpFile->fileName() : QString();
}

QByteArray HTML_Element::getIcon(const QString &extension)
{
    const FileTypes::Row *row = FileTypes::find(extension);
    return row && row->icon ? QByteArray(row->icon) : QByteArray();
}

QByteArray HTML_Element::link(const QString &path)
{
    return TextCoding::percentEncoded(path.toUtf8(), Kept::PageLink);
}

void HTML_Element::writeTextCell(QByteArray *page, const Cell &cell, bool checkbox,
                                 QByteArrayView folderText, ShortDates *dates)
{
    const QByteArray &date = cell.folder ? QByteArray() : dates->text(cell.modified);
    char *to = makeRoom(page, cellRoom(cell, folderText.size() + date.size()));
    QByteArrayView name;
    QByteArrayView link;
    to = putCellStart(to, cell, checkbox, &name, &link);
    to = putName(to, cell, name);
    to = put(to, "<br>");
    if (cell.folder) {
        to = put(to, folderText);
        to = put(to, "</a>");
    } else {
        to = putFileDetails(to, cell, date);
    }
    to = put(to, "</td>");
    endCell(page, to);
}

void HTML_Element::toHTML(QByteArray *page, const Cell &cell, bool checkbox, ShortDates *dates) const
{
    const bool thumbnail = !icon.isNull() && !icon.isEmpty() && ready && tmpFile;
    const QByteArray &date = cell.folder ? QByteArray() : dates->text(cell.modified);
    char *to = makeRoom(page, cellRoom(cell, icon.size() + date.size()));
    QByteArrayView name;
    QByteArrayView link;
    to = putCellStart(to, cell, checkbox, &name, &link);
    if (!icon.isNull()) {
        to = put(to, ImgOpen);
        if (icon.isEmpty()) {
            to = put(to, link);
        } else if (!thumbnail) {
            to = put(to, IconPrefix);
            to = put(to, icon);
        } else {
            // The thumbnail is named by the file's link in the share, which brings its slash.
            to = put(to, QByteArrayView(ThumbnailPrefix, ThumbnailPrefixLength - 1));
            to = put(to, link);
        }
        to = put(to, ImgClose);
    }
    to = put(to, "<br>");
    to = putName(to, cell, name);
    to = put(to, "<br>");
    if (cell.folder) {
        to = put(to, ImgOpen);
        to = put(to, IconPrefix);
        to = put(to, "folder.png");
        to = put(to, ImgClose);
        to = put(to, "</a>");
    } else {
        to = putFileDetails(to, cell, date);
    }
    to = put(to, "</td>");
    endCell(page, to);
}

void HTML_Element::toMC(QByteArray *out, const QByteArray &prefix) const
{
    if (icon.isNull())
        return;
    if (icon.isEmpty()) {
        *out += prefix;
        *out += fileInfo.fileName().toUtf8();
        return;
    }
    if (!tmpFile)
        return;
    *out += ThumbnailPrefix;
    if (ready) {
        // The file's path in the share.
        *out += prefix.startsWith('/') ? QByteArrayView(prefix).sliced(1) : QByteArrayView(prefix);
        *out += fileInfo.fileName().toUtf8();
    }
}
