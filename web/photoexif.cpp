#include "web/photoexif.h"

#include <QBuffer>
#include <QIODevice>
#include <QImageReader>
#include <QTransform>

#include <libexif/exif-data.h>
#include <libexif/exif-loader.h>

#include <memory>

namespace {

// The head is handed to the loader in pieces of this size; it says when it has the block.
constexpr qint64 HeadPiece = 16 * 1024;

struct LoaderUnref
{
    void operator()(ExifLoader *loader) const { exif_loader_unref(loader); }
};
struct DataUnref
{
    void operator()(ExifData *data) const { exif_data_unref(data); }
};

int readOrientation(ExifData *data)
{
    ExifEntry *entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (!entry || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 || !entry->data
        || entry->size < 2)
        return 1;
    const int value = exif_get_short(entry->data, exif_data_get_byte_order(data));
    return value >= 1 && value <= 8 ? value : 1;
}

} // namespace

PhotoExif PhotoExif::read(QIODevice *file)
{
    PhotoExif exif;
    const std::unique_ptr<ExifLoader, LoaderUnref> loader(exif_loader_new());
    if (!loader)
        return exif;
    unsigned char piece[HeadPiece];
    for (qint64 total = 0; total < HeadLimit;) {
        const qint64 got = file->read(reinterpret_cast<char *>(piece), qMin(HeadPiece, HeadLimit - total));
        if (got <= 0)
            break;
        total += got;
        if (!exif_loader_write(loader.get(), piece, static_cast<unsigned int>(got)))
            break;
    }
    const unsigned char *block = nullptr;
    unsigned int size = 0;
    exif_loader_get_buf(loader.get(), &block, &size);
    if (!block || !size)
        return exif;
    const std::unique_ptr<ExifData, DataUnref> data(exif_data_new());
    if (!data)
        return exif;
    // Read what is there; nothing is added or corrected on the way.
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data.get(), block, size);
    exif.orientation = readOrientation(data.get());
    if (data->data && data->size > 0)
        exif.preview = QByteArray(reinterpret_cast<const char *>(data->data), qsizetype(data->size));
    return exif;
}

QImage PhotoExif::previewFitting(int box, int quality) const
{
    if (preview.isEmpty())
        return QImage();
    QBuffer buffer;
    buffer.setData(preview);
    buffer.open(QIODevice::ReadOnly);
    // A preview is a JPEG: no other decoder is tried on its bytes.
    QImageReader reader(&buffer, "jpeg");
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() < 1 || size.height() < 1 || size.width() > MaxPreviewSide
        || size.height() > MaxPreviewSide || qMax(size.width(), size.height()) < box)
        return QImage();
    const QSize fitting = size.scaled(box, box, Qt::KeepAspectRatio);
    if (fitting.isEmpty())
        return QImage();
    reader.setQuality(quality);
    reader.setScaledSize(fitting);
    QImage image;
    if (!reader.read(&image))
        return QImage();
    return image;
}

QImage upright(const QImage &image, int orientation)
{
    switch (orientation) {
    case 2: // mirrored left to right
        return image.mirrored(true, false);
    case 3: // turned half round
        return image.mirrored(true, true);
    case 4: // mirrored top to bottom
        return image.mirrored(false, true);
    case 5: // mirrored along the diagonal from the top left
        return image.mirrored(false, true).transformed(QTransform().rotate(90));
    case 6: // a quarter turn clockwise
        return image.transformed(QTransform().rotate(90));
    case 7: // mirrored along the diagonal from the top right
        return image.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8: // a quarter turn counter-clockwise
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}
