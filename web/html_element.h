#ifndef HTML_ELEMENT_H
#define HTML_ELEMENT_H

#include <QByteArray>
#include <QByteArrayView>
#include <QFileInfo>
#include <QImage>
#include <QString>

class QFile;
class QTemporaryFile;
class ShortDates;

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
    // The URL space of the icon folder and of the thumbnails ("/_t/" + the file's path in the
    // share).
    static constexpr char IconPrefix[] = "/_i/";
    static constexpr char ThumbnailPrefix[] = "/_t/";
    static constexpr qsizetype IconPrefixLength = sizeof(IconPrefix) - 1;
    static constexpr qsizetype ThumbnailPrefixLength = sizeof(ThumbnailPrefix) - 1;

    // Images of this size or larger are shown by a thumbnail.
    static constexpr qint64 ThumbnailFrom = 20000;
    // The box a thumbnail fits in.
    static constexpr int ThumbnailBox = 124;
    // Without scaled decoding, only images that fit in this box are decoded.
    static constexpr int UnscaledLimit = 128;
    // A png whose thumbnail would be taller than this is not made.
    static constexpr int MaxThumbnailHeight = 1024;
    static constexpr int ReaderQuality = 25;
    // Images up to this size are read into memory whole before decoding.
    static constexpr qint64 InMemoryLimit = 32 * 1024 * 1024;
    // The box of the larger thumbnails of the responsive pages (made from as little of a photo
    // as a classic one: a JPEG decoded at an eighth of a camera's size still fills it).
    static constexpr int LargeBox = 360;
    // Pictures whose format cannot be decoded scaled are decoded whole up to this many pixels.
    static constexpr qint64 MaxWholePixels = 24 * 1000 * 1000;

    // Which files get a thumbnail. Classic pages show jpg and png files from ThumbnailFrom bytes
    // on by a thumbnail (smaller ones by themselves); the responsive pages show every picture the
    // worker can decode by a larger one.
    enum class Rule { Classic, EveryPicture };

    // What the cell of one entry shows besides its picture, as the folder listing read it.
    struct Cell
    {
        QByteArrayView linkPrefix; // the page's link prefix, percent-encoded
        QByteArrayView name;       // the entry's name in UTF-8
        qint64 size = 0;
        qint64 modified = 0;       // milliseconds since the epoch
        bool folder = false;
    };

    explicit HTML_Element(const QFileInfo &entry, Rule rule = Rule::Classic, const QString &shareRoot = QString());
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

    // The picture cell of a folder page.
    void toHTML(QByteArray *page, const Cell &cell, bool checkbox, ShortDates *dates) const;
    // The picture reference of the listing service, with no line end.
    void toMC(QByteArray *out, const QByteArray &prefix) const;
    // The full name of the finished thumbnail file, or an empty text.
    QString thumbnailFile() const;

    // The icon of the FileTypes row of `extension`; null when it has none.
    static QByteArray getIcon(const QString &extension);
    // A link to `path` as it may stand in an attribute: UTF-8, percent-encoded as
    // TextCoding::Kept::PageLink says ("/" kept). The result holds nothing HTML would have to escape.
    static QByteArray link(const QString &path);
    // The text cell of a folder page: name, then `folderText` for a folder or size and date for
    // a file; with the delete check box ("d" for a folder, "f" for a file) when asked for.
    static void writeTextCell(QByteArray *page, const Cell &cell, bool checkbox,
                              QByteArrayView folderText, ShortDates *dates);

    QTemporaryFile *tmpFile = nullptr;
    // The entry as first seen (refreshed by the manager's lookup by file information while the
    // element is not pending); folder pages take size and date from their own listing.
    QFileInfo fileInfo;
    bool ready = true;
    // Null: no picture; empty: the file is its own picture; else an icon file name under "/_i/".
    QByteArray icon;
    QString extension;

private:
    // The box the thumbnail fits in.
    int box() const { return rule == Rule::EveryPicture ? LargeBox : ThumbnailBox; }
    // The thumbnail's picture: scaled into the box and, for a photo, turned upright.
    QImage scaledImage() const;
    // The image of the open `file` decoded at thumbnail size.
    QImage decodedImage(QFile *file) const;

    // The absolute path, fixed at construction (the worker reads only this).
    const QString path;
    const Rule rule;
    // The shared folder the file lies in: the worker opens the file beneath it, never by its
    // path, so that a link changed meanwhile cannot make it read a file outside. Empty: by path.
    const QString shareRoot;
};

#endif
