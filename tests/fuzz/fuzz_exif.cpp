// The EXIF block of a photo: the head of a JPEG file read with libexif for its orientation and
// the preview the camera stored, the preview checked and decoded at thumbnail size, then turned
// upright.
//
// Input: the head of a photo file.

#include "fuzzsupport.h"

#include "web/html_element.h"
#include "web/photoexif.h"

#include <QBuffer>
#include <QImage>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::ensureApplication();
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));

    QBuffer file;
    file.setData(input);
    file.open(QIODevice::ReadOnly);
    const PhotoExif exif = PhotoExif::read(&file);
    if (file.pos() > PhotoExif::HeadLimit)
        Fuzz::fail("read beyond the head", input);
    if (exif.orientation < 1 || exif.orientation > 8)
        Fuzz::fail("an orientation outside 1 to 8", input);
    if (exif.preview.size() > input.size())
        Fuzz::fail("a preview larger than the file", input);

    constexpr int box = HTML_Element::ThumbnailBox;
    const QImage image = exif.previewFitting(box, HTML_Element::ReaderQuality);
    if (image.width() > box || image.height() > box)
        Fuzz::fail("a preview larger than the box", input);
    const QImage shown = upright(image, exif.orientation);
    if (shown.size() != image.size() && shown.size() != image.size().transposed())
        Fuzz::fail("turning changed the picture's size", input);
    Fuzz::settle();
    return 0;
}
