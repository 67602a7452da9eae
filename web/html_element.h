#ifndef HTML_ELEMENT_H
#define HTML_ELEMENT_H

#include <QByteArray>
#include <QFileInfo>
#include <QImage>
#include <QString>

class QTemporaryFile;

// Appends the size text of a folder entry: "1024Byte", "1KB", "3MB", "2GB" (whole units,
// truncated; a unit is used only when the size is above one of it).
void addSize(QByteArray *out, qint64 size);

// One entry of a folder page in picture mode: what picture stands for the file (a type icon,
// the image itself, or a thumbnail made by the worker of HTML_Element_Manager) and how its
// cell is written. `ready` and `tmpFile` are shared with the worker thread: read and write
// them only while holding HTML_Element_Manager::lock.
class HTML_Element
{
public:
    // Images of this size or larger are shown by a thumbnail.
    static constexpr qint64 ThumbnailFrom = 20000;
    // The box a thumbnail fits in.
    static constexpr int ThumbnailBox = 124;
    // Without scaled decoding, only images that fit in this box are decoded.
    static constexpr int UnscaledLimit = 128;
    // A png whose thumbnail would be taller than this is not made.
    static constexpr int MaxThumbnailHeight = 1024;
    static constexpr int ReaderQuality = 25;

    explicit HTML_Element(const QFileInfo &entry);
    ~HTML_Element();
    HTML_Element(const HTML_Element &) = delete;
    HTML_Element &operator=(const HTML_Element &) = delete;

    // Makes the thumbnail file. Runs on the worker thread without the lock; the outcome is
    // published with publish() under the lock.
    bool init();
    void publish(bool made);
    bool isReady() const { return ready; }
    bool operator==(const HTML_Element *other) const;
    bool isFile(const QString &absolutePath) const { return path == absolutePath; }
    void deleteTmpFile();
    void scaleFailed();

    // The picture cell of a folder page; `prefix` is the page's link prefix (ends with "/").
    void toHTML(QByteArray *page, const QString &prefix, bool checkbox) const;
    // The picture reference of the listing service, with no line end.
    void toMC(QByteArray *out, const QByteArray &prefix) const;
    // The full name of the finished thumbnail file, or an empty text.
    QString thumbnailFile() const;

    static QByteArray getIcon(const QString &extension);
    // A link to `path` as it may stand in an attribute: UTF-8, percent-encoded ("/" kept),
    // then HTML-escaped.
    static QByteArray link(const QString &path);
    // The delete check box of an entry ("d" for a folder, "f" for a file), with a blank after it.
    static void addCheckbox(QByteArray *page, const QFileInfo &entry);
    // The modification time in the short date-and-time form of the current locale.
    static void addDate(QByteArray *page, const QFileInfo &entry);

    QTemporaryFile *tmpFile = nullptr;
    // Refreshed by the manager while the element is not pending (size and date of the cell).
    QFileInfo fileInfo;
    bool ready = true;
    // Null: no picture; empty: the file is its own picture; else an icon file name under "/_i/".
    QByteArray icon;
    QString extension;

private:
    QImage scaledImage() const;

    // The absolute path, fixed at construction (the worker reads only this).
    const QString path;
};

#endif
