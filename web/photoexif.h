#ifndef PHOTOEXIF_H
#define PHOTOEXIF_H

#include <QByteArray>
#include <QImage>

class QIODevice;

// What the EXIF block at the head of a JPEG photo says about its picture: which way is up, and
// the small copy of it that the camera stored beside it (the preview of IFD1). The block is read
// with libexif from the head of the file alone: in pieces, until the block is complete or the
// photo's image data begins.
class PhotoExif
{
public:
    // The head read in search of the block: the block itself is at most 64 KiB and comes first
    // in a camera's file; a file that has not shown it by then is taken to have none.
    static constexpr qint64 HeadLimit = 256 * 1024;
    // A preview whose stated width or height is larger is not decoded: a preview is a small
    // picture, and its header alone must not decide how much memory decoding it takes.
    static constexpr int MaxPreviewSide = 1024;

    // Reads the block from `file`, from its current position. Without a block, or with one
    // libexif cannot read, the orientation is 1 and there is no preview.
    static PhotoExif read(QIODevice *file);

    // The preview fitted into a `box` by `box` square (aspect kept), decoded at `quality` and at
    // that size; null unless the preview is a JPEG whose stated size is at least `box` on its
    // long side and at most MaxPreviewSide on both, not so narrow that it would fit in no pixel,
    // and decodes.
    QImage previewFitting(int box, int quality) const;

    // EXIF orientation, 1 to 8: how the stored picture is to be turned to show it upright.
    int orientation = 1;
    // The preview's JPEG bytes; empty when the block has none.
    QByteArray preview;
};

// `image` as it is to be shown: turned, mirrored or both as EXIF orientation `orientation` says
// (1 or a value outside 1 to 8 leaves it as it is).
QImage upright(const QImage &image, int orientation);

#endif
