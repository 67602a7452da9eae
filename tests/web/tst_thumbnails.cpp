#include "httpclient.h"
#include "testserver.h"

#include "web/html_element_manager.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMutexLocker>
#include <QTest>
#include <QUrl>
#include <QtEndian>

#include <libexif/exif-data.h>

#include <cstdlib>
#include <cstring>

namespace {

const QByteArray Refresh = "<meta http-equiv=\"refresh\" content=\"2\"/>";
const QByteArray Placeholder = "<img src=\"/_i/image.png\" vspace=\"8\" align=\"center\" border=\"0\">";

// A picture of `size` in `background` whose top left quarter (a quarter of each side) is red:
// where the red ends shows which way the picture was turned.
QImage marked(QSize size, Qt::GlobalColor background)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(background);
    for (int y = 0; y < size.height() / 4; ++y) {
        for (int x = 0; x < size.width() / 4; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    }
    return image;
}

QByteArray encoded(const QImage &image, const char *format = "JPEG")
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 90);
    return buffer.data();
}

// The payload of an APP1 segment: an EXIF block written by libexif (Intel byte order) with
// `orientation` in IFD0 (0: none) and `preview` as the JPEG of IFD1 (empty: none).
QByteArray exifBlock(int orientation, const QByteArray &preview = QByteArray())
{
    ExifData *data = exif_data_new();
    exif_data_set_byte_order(data, EXIF_BYTE_ORDER_INTEL);
    if (orientation) {
        ExifEntry *entry = exif_entry_new();
        exif_content_add_entry(data->ifd[EXIF_IFD_0], entry);
        exif_entry_initialize(entry, EXIF_TAG_ORIENTATION);
        exif_set_short(entry->data, EXIF_BYTE_ORDER_INTEL, ExifShort(orientation));
        exif_entry_unref(entry);
    }
    if (!preview.isEmpty()) {
        data->data = static_cast<unsigned char *>(std::malloc(size_t(preview.size())));
        std::memcpy(data->data, preview.constData(), size_t(preview.size()));
        data->size = unsigned(preview.size());
    }
    unsigned char *bytes = nullptr;
    unsigned int size = 0;
    exif_data_save_data(data, &bytes, &size);
    const QByteArray block(reinterpret_cast<const char *>(bytes), qsizetype(size));
    std::free(bytes);
    exif_data_unref(data);
    return block;
}

// `block` with the value of its IFD entry `tag` (one LONG) replaced by `value`.
QByteArray withLong(QByteArray block, quint16 tag, quint32 value)
{
    char entry[8] = {char(tag & 0xFF), char(tag >> 8), 4, 0, 1, 0, 0, 0};
    const qsizetype at = block.indexOf(QByteArrayView(entry, 8));
    if (at >= 0)
        qToLittleEndian(value, block.data() + at + 8);
    return at >= 0 ? block : QByteArray();
}

// A JPEG segment: marker, length, payload.
QByteArray segment(char marker, const QByteArray &payload)
{
    const int length = int(payload.size()) + 2;
    return QByteArray("\xFF", 1) + marker + char(length >> 8) + char(length & 0xFF) + payload;
}

// The photo `image` as a camera's file: the EXIF block `exif` (empty: none) first, then a
// comment that makes the file large enough to get a thumbnail, then the picture.
QByteArray photoFile(const QImage &image, const QByteArray &exif)
{
    const QByteArray picture = encoded(image);
    QByteArray file = picture.left(2);
    if (!exif.isEmpty())
        file += segment('\xE1', exif);
    file += segment('\xFE', QByteArray(20000, ' '));
    file += picture.mid(2);
    return file;
}

// How `image` looks near its corners (top left, top right, bottom left, bottom right) and in its
// middle: 'r' for red, 'g' for green, 'b' for blue, '?' for anything else.
QByteArray look(const QImage &image)
{
    const int dx = image.width() / 10;
    const int dy = image.height() / 10;
    const int right = image.width() - 1 - dx;
    const int bottom = image.height() - 1 - dy;
    QByteArray seen;
    for (const QPoint point : {QPoint(dx, dy), QPoint(right, dy), QPoint(dx, bottom), QPoint(right, bottom),
                               QPoint(image.width() / 2, image.height() / 2)}) {
        const QColor c = image.pixelColor(point);
        const bool dim = c.red() < 90;
        seen += c.red() > 180 && c.green() < 90 ? 'r' : c.green() > 150 && dim ? 'g' : c.blue() > 150 && dim ? 'b' : '?';
    }
    return seen;
}

QStringList thumbnailFiles()
{
    return QDir(HTML_Element_Manager::thumbnailFolder()).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

class TestThumbnails : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void thumbnail_data();
    void thumbnail();
    void thumbnailsOnlyForThisShare();

private:
    std::unique_ptr<TestServer> web;
};

void TestThumbnails::init()
{
    web.reset();
    web = std::make_unique<TestServer>();
    web->config.maxConnections = 30;
    QVERIFY(web->start());
    web->startThumbnails();
}

void TestThumbnails::thumbnail_data()
{
    QTest::addColumn<QString>("name"); // in the folder album
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("shown"); // in the page when there is no thumbnail
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QByteArray>("seen"); // how the thumbnail looks (see look()), empty for none

    // The photo is green, the preview the camera stored blue; both are stored landscape with
    // their top left quarter red.
    const QImage photo = marked(QSize(400, 300), Qt::green);
    const QByteArray preview = encoded(marked(QSize(160, 120), Qt::blue));
    const QSize landscape(124, 93);
    const QSize portrait(93, 124);
    const QString name = QStringLiteral("photo.jpg");
    QTest::addRow("small jpeg enlarged, upper-case suffix") << QStringLiteral("SMALL.JPG")
        << photoFile(marked(QSize(100, 100), Qt::green), {}) << QByteArray() << QSize(124, 124) << QByteArray("rgggg");
    // Bytes after the picture's end make the file large enough.
    QTest::addRow("png") << QStringLiteral("draw ing.png") << encoded(photo, "PNG") + QByteArray(20000, ' ')
                         << QByteArray() << landscape << QByteArray("rgggg");
    QTest::addRow("19999 bytes") << QStringLiteral("photo.JPG") << QByteArray(19999, 'z')
                                 << QByteArray("<img src=\"/album/photo.JPG\"") << QSize() << QByteArray();
    QTest::addRow("jpg of 20000 bytes that is no image") << name << QByteArray(20000, 'y') << Placeholder << QSize()
                                                         << QByteArray();
    const int corners[] = {0, 1, 3, 2, 0, 1, 3, 2}; // where each orientation shows the red quarter
    for (int orientation = 1; orientation <= 8; ++orientation) {
        QByteArray seen = "bbbbb";
        seen[corners[orientation - 1]] = 'r';
        QTest::addRow("orientation %d, from the preview", orientation)
            << name << photoFile(photo, exifBlock(orientation, preview)) << QByteArray()
            << (orientation <= 4 ? landscape : portrait) << seen;
    }
    QTest::addRow("no EXIF block") << name << photoFile(photo, QByteArray()) << QByteArray() << landscape
                                   << QByteArray("rgggg");
    QTest::addRow("preview smaller than the box")
        << name << photoFile(photo, exifBlock(8, encoded(marked(QSize(120, 90), Qt::blue)))) << QByteArray()
        << portrait << QByteArray("ggrgg");

    // Damaged or lying blocks: the photo is decoded instead.
    const QByteArray block = exifBlock(3, preview);
    QTest::addRow("preview offset past the end") << name << photoFile(photo, withLong(block, 0x0201, 0xFFFF0000))
                                                 << QByteArray() << landscape << QByteArray("gggrg");
    for (const QSize claimed : {QSize(60000, 60000), QSize(4000, 3000)}) {
        QByteArray lying = preview;
        const qsizetype frame = lying.indexOf("\xFF\xC0");
        qToBigEndian(quint16(claimed.height()), lying.data() + frame + 5);
        qToBigEndian(quint16(claimed.width()), lying.data() + frame + 7);
        QTest::addRow("preview claiming %dx%d", claimed.width(), claimed.height())
            << name << photoFile(photo, exifBlock(3, lying)) << QByteArray() << landscape << QByteArray("gggrg");
    }
    QByteArray lost = block;
    qToLittleEndian(quint32(0xFFFFFF00), lost.data() + 10); // where IFD0 starts
    QTest::addRow("IFD0 past the end") << name << photoFile(photo, lost) << QByteArray() << landscape
                                       << QByteArray("rgggg");
    // The file ends inside the preview, before any picture.
    QByteArray cut = "\xFF\xD8" + segment('\xFE', QByteArray(20000, ' ')) + segment('\xE1', block);
    cut.truncate(cut.indexOf(preview) + preview.size() / 2);
    QTest::addRow("file ending inside the EXIF block") << name << cut << Placeholder << QSize() << QByteArray();
}

void TestThumbnails::thumbnail()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, shown);
    QFETCH(QSize, size);
    QFETCH(QByteArray, seen);
    QVERIFY(web->write("album/" + name, file));
    HttpClient client(web->port(), HttpClient::Browser);
    // Named by its path in the share, not by where the share lies.
    const QByteArray link = "/_t/album/" + QUrl::toPercentEncoding(name);
    if (file.size() >= 20000) {
        // The worker waits for the lock: the thumbnail stays pending, the page refreshes itself.
        QMutexLocker locker(&web->manager->lock);
        const HttpReply reply = client.get("/album");
        QCOMPARE(reply.status, QByteArray("202 Accepted"));
        QVERIFY(reply.body.startsWith("<html><head>" + Refresh + "<title>Tessaly</title>"));
        QVERIFY(reply.body.contains(Placeholder));
        QCOMPARE(client.get(link).status, QByteArray("404 Not Found"));
    }
    HttpReply page;
    QTRY_VERIFY_WITH_TIMEOUT((page = client.get("/album")).status == "200 OK", 20000);
    QVERIFY(!page.body.contains(Refresh));
    const QByteArray picture = seen.isEmpty() ? shown : "<img src=\"" + link + "\" vspace=\"8\"";
    QVERIFY2(page.body.contains(picture), page.body.constData());
    const HttpReply image = client.get(link);
    if (seen.isEmpty()) {
        QCOMPARE(image.status, QByteArray("404 Not Found"));
        QVERIFY(thumbnailFiles().isEmpty());
        return;
    }
    QCOMPARE(image.header("Content-Type"), name.endsWith(u"png") ? QByteArray("image/png") : QByteArray("image/jpeg"));
    QImage thumbnail;
    QVERIFY(thumbnail.loadFromData(image.body));
    QCOMPARE(thumbnail.size(), size);
    QCOMPARE(look(thumbnail), seen);
    // One thumbnail for the file, however many pages asked for it; kept until exit.
    QCOMPARE(thumbnailFiles().size(), 1);
    QVERIFY(QFile::remove(web->path("album/" + name)));
    QVERIFY(!client.get("/album").body.contains(link));
    QCOMPARE(thumbnailFiles().size(), 1);
}

void TestThumbnails::thumbnailsOnlyForThisShare()
{
    // A second listener sharing another folder, with the same worker.
    TestServer other;
    other.config.showImages = CheckState::On;
    QVERIFY(other.start());
    Configuration::setDirectories(web->homePath(), qEnvironmentVariable("TESSALY_BUILD_DIR"), QStringLiteral("C"));
    QVERIFY(web->write("mine.jpg", photoFile(marked(QSize(300, 200), Qt::green), {})));
    HttpClient client(web->port(), HttpClient::Browser);
    QTRY_VERIFY_WITH_TIMEOUT(client.get("/").status == "200 OK", 20000);
    QCOMPARE(client.get("/_t/mine.jpg").status, QByteArray("200 OK"));
    HttpClient stranger(other.port(), HttpClient::Browser);
    QCOMPARE(stranger.get("/_t/mine.jpg").status, QByteArray("404 Not Found"));
}

QTEST_GUILESS_MAIN(TestThumbnails)
#include "tst_thumbnails.moc"
