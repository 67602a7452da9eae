#include "web/html_element.h"

#include "config/configuration.h"
#include "responses/http_response.h"

#include <QDateTime>
#include <QFile>
#include <QImageReader>
#include <QLocale>
#include <QTemporaryFile>
#include <QUrl>

namespace {

const char IconPrefix[] = "/_i/";
const char ThumbnailPrefix[] = "/_t/";
const char ImgOpen[] = "<img src=\"";
const char ImgClose[] = "\" vspace=\"8\" align=\"center\" border=\"0\">";

struct IconRow
{
    const char *extension;
    const char *icon;
};

const IconRow Icons[] = {
    {"html", "html.png"},
    {"doc", "doc.png"}, {"rtf", "doc.png"}, {"pdf", "doc.png"}, {"pps", "doc.png"},
    {"mp3", "music.png"}, {"wav", "music.png"}, {"ogg", "music.png"}, {"aac", "music.png"},
    {"avi", "media.png"}, {"mov", "media.png"}, {"mp4", "media.png"}, {"3gp", "media.png"},
    {"flv", "media.png"}, {"vob", "media.png"}, {"wmv", "media.png"}, {"m4a", "media.png"},
    {"zip", "folder_tar.png"}, {"rar", "folder_tar.png"}, {"gz", "folder_tar.png"},
    {"txt", "txt.png"},
    {"xls", "sheet.png"},
    {"exe", "application.png"}, {"bat", "application.png"}, {"cmd", "application.png"},
    {"sh", "application.png"},
};

} // namespace

void addSize(QByteArray *out, qint64 size)
{
    constexpr qint64 GB = 1073741824;
    constexpr qint64 MB = 1048576;
    constexpr qint64 KB = 1024;
    if (size > GB)
        *out += QByteArray::number(size / GB) + "GB";
    else if (size > MB)
        *out += QByteArray::number(size / MB) + "MB";
    else if (size > KB)
        *out += QByteArray::number(size / KB) + "KB";
    else
        *out += QByteArray::number(size) + "Byte";
}

HTML_Element::HTML_Element(const QFileInfo &entry)
    : fileInfo(entry)
    , path(entry.absoluteFilePath())
{
    const QString name = entry.fileName();
    extension = name;
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 1)
        return;
    extension = name.mid(dot + 1).toLower();
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
    QImageReader reader(path);
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
    reader.setQuality(ReaderQuality);
    const QSize size = reader.size();
    if (!size.isValid())
        return QImage();
    if (!reader.supportsOption(QImageIOHandler::ScaledSize)
        && (size.width() > UnscaledLimit || size.height() > UnscaledLimit))
        return QImage();
    reader.setScaledSize(size.scaled(ThumbnailBox, ThumbnailBox, Qt::KeepAspectRatio));
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
    const char *format = extension == QLatin1String("png") ? "PNG" : "JPEG";
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
    for (const IconRow &row : Icons) {
        if (extension == QLatin1String(row.extension))
            return QByteArray(row.icon);
    }
    return QByteArray();
}

QByteArray HTML_Element::link(const QString &path)
{
    return HTTP_Response::escape(QByteArrayView(QUrl::toPercentEncoding(path, "/")));
}

void HTML_Element::addCheckbox(QByteArray *page, const QFileInfo &entry)
{
    *page += "<input type=\"checkbox\" name=\"";
    *page += entry.isDir() ? "d" : "f";
    *page += "\" value=\"";
    *page += HTTP_Response::escape(entry.fileName());
    *page += "\"> ";
}

void HTML_Element::addDate(QByteArray *page, const QFileInfo &entry)
{
    *page += HTTP_Response::escape(QLocale().toString(entry.lastModified(), QLocale::ShortFormat));
}

void HTML_Element::toHTML(QByteArray *page, const QString &prefix, bool checkbox) const
{
    const QString name = fileInfo.fileName();
    const QByteArray href = link(prefix + name);
    *page += "<td align=\"center\" width=\"200\">";
    if (checkbox)
        addCheckbox(page, fileInfo);
    *page += "<a href=\"";
    *page += href;
    *page += "\">";
    if (!icon.isNull()) {
        *page += ImgOpen;
        if (icon.isEmpty()) {
            *page += href;
        } else if (!ready || !tmpFile) {
            *page += IconPrefix;
            *page += icon;
        } else {
            *page += ThumbnailPrefix;
            *page += link(path);
        }
        *page += ImgClose;
    }
    *page += "<br>";
    *page += HTTP_Response::escape(name);
    *page += "<br>";
    if (fileInfo.isDir()) {
        *page += ImgOpen;
        *page += IconPrefix;
        *page += "folder.png";
        *page += ImgClose;
        *page += "</a>";
    } else {
        *page += "</a>";
        addSize(page, fileInfo.size());
        *page += "<br>";
        addDate(page, fileInfo);
    }
    *page += "</td>";
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
    if (ready)
        *out += path.toUtf8();
}
