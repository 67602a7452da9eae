#include "httpclient.h"
#include "testserver.h"

#include "web/html_element.h"
#include "web/html_element_manager.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QTest>
#include <QUrl>
#include <QtEndian>

#include <libexif/exif-data.h>

#include <cstdlib>
#include <cstring>

namespace {

const QByteArray Refresh = "<meta http-equiv=\"refresh\" content=\"2\"/>";
const QByteArray Placeholder = "<img src=\"/_i/image.png\" vspace=\"8\" align=\"center\" border=\"0\">";

QImage noise(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(quint32(width * 7919 + height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, random.generate() | 0xFF000000u);
    }
    return image;
}

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

QByteArray jpeg(const QImage &image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
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
    const QByteArray picture = jpeg(image);
    QByteArray file = picture.left(2);
    if (!exif.isEmpty())
        file += segment('\xE1', exif);
    file += segment('\xFE', QByteArray(20000, ' '));
    file += picture.mid(2);
    return file;
}

// Which corner of `image` is red ("top left", ...), or an empty text when not one alone is.
QByteArray redCorner(const QImage &image)
{
    const int dx = image.width() / 10;
    const int dy = image.height() / 10;
    const QList<std::pair<QByteArray, QPoint>> corners{
        {"top left", {dx, dy}},
        {"top right", {image.width() - 1 - dx, dy}},
        {"bottom left", {dx, image.height() - 1 - dy}},
        {"bottom right", {image.width() - 1 - dx, image.height() - 1 - dy}},
    };
    QByteArray found;
    for (const auto &[name, point] : corners) {
        const QColor colour = image.pixelColor(point);
        if (colour.red() > 180 && colour.green() < 90 && colour.blue() < 90) {
            if (!found.isEmpty())
                return QByteArray();
            found = name;
        }
    }
    return found;
}

// The colour of the middle of `image`: "green", "blue" or an empty text.
QByteArray middleColour(const QImage &image)
{
    const QColor colour = image.pixelColor(image.width() / 2, image.height() / 2);
    if (colour.green() > 150 && colour.red() < 90 && colour.blue() < 90)
        return "green";
    if (colour.blue() > 150 && colour.red() < 90 && colour.green() < 90)
        return "blue";
    return QByteArray();
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
    void cleanup();

    void thumbnailAppears_data();
    void thumbnailAppears();
    void ownPicture_data();
    void ownPicture();
    void thumbnailsOnlyForThisShare();
    void photoThumbnail_data();
    void photoThumbnail();

private:
    std::unique_ptr<TestServer> web;
};

void TestThumbnails::init()
{
    web = std::make_unique<TestServer>();
    web->config.maxConnections = 30;
    QVERIFY(web->start());
    web->startThumbnails();
}

void TestThumbnails::cleanup()
{
    web.reset();
}
void TestThumbnails::thumbnailAppears_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("thumbnail");

    QTest::addRow("small jpeg enlarged, upper-case suffix") << QStringLiteral("SMALL.JPG") << QSize(100, 100) << QByteArray("JPEG")
                                         << QSize(124, 124);
    QTest::addRow("png") << QStringLiteral("draw ing.png") << QSize(400, 300) << QByteArray("PNG") << QSize(124, 93);
}
void TestThumbnails::thumbnailAppears()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(QByteArray, format);
    QFETCH(QSize, thumbnail);
    QImageWriter writer(web->path(name), format);
    writer.setQuality(100);
    QVERIFY(writer.write(noise(size.width(), size.height())));
    QVERIFY(QFileInfo(web->path(name)).size() >= 20000);
    HttpClient client(web->port(), HttpClient::Browser);
    const QByteArray link = "/_t/" + QUrl::toPercentEncoding(name, "/");
    {
        // The worker waits for the lock: the thumbnail stays pending, the page refreshes itself.
        QMutexLocker locker(&web->manager->lock);
        const HttpReply reply = client.get("/");
        QCOMPARE(reply.status, QByteArray("202 Accepted"));
        QVERIFY(reply.body.startsWith("<html><head>" + Refresh + "<title>Tessaly</title>"));
        QVERIFY(reply.body.contains(Placeholder));
        QCOMPARE(client.get(link).status, QByteArray("404 Not Found"));
    }
    HttpReply done;
    QTRY_VERIFY_WITH_TIMEOUT((done = client.get("/")).status == "200 OK", 20000);
    QVERIFY(!done.body.contains(Refresh));
    QVERIFY2(done.body.contains("<img src=\"" + link + "\" vspace=\"8\""), done.body.constData());
    // Where the share lies is not told.
    QVERIFY(!done.body.contains(QUrl::toPercentEncoding(web->share, "/")));

    const HttpReply image = client.get(link);
    QCOMPARE(image.status, QByteArray("200 OK"));
    QCOMPARE(image.header("Content-Type"), format == "PNG" ? QByteArray("image/png") : QByteArray("image/jpeg"));
    QImage decoded;
    QVERIFY(decoded.loadFromData(image.body));
    QCOMPARE(decoded.size(), thumbnail);
    // One thumbnail for the file, however many pages asked for it; kept until exit.
    QCOMPARE(thumbnailFiles().size(), 1);
    QVERIFY(QFile::remove(web->path(name)));
    QVERIFY(!client.get("/").body.contains(link));
    QCOMPARE(thumbnailFiles().size(), 1);
}
void TestThumbnails::ownPicture_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("picture");
    QTest::addRow("19999 bytes") << QStringLiteral("photo.JPG") << QByteArray(19999, 'z')
                                 << QByteArray("<img src=\"/photo.JPG\"");
    QTest::addRow("jpg of 20000 bytes that is no image") << QStringLiteral("fake.jpg") << QByteArray(20000, 'y')
                                                         << Placeholder;
}
void TestThumbnails::ownPicture()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, picture);
    QVERIFY(web->write(name, content));
    HttpClient client(web->port(), HttpClient::Browser);
    HttpReply reply;
    QTRY_VERIFY_WITH_TIMEOUT((reply = client.get("/")).status == "200 OK", 20000);
    QVERIFY2(reply.body.contains(picture), reply.body.constData());
    QVERIFY(!reply.body.contains("/_t/"));
    QVERIFY(thumbnailFiles().isEmpty());
}

void TestThumbnails::thumbnailsOnlyForThisShare()
{
    // A second listener sharing another folder, with the same worker.
    TestServer other;
    other.config.showImages = CheckState::On;
    QVERIFY(other.start());
    Configuration::setDirectories(web->homePath(), qEnvironmentVariable("TESSALY_BUILD_DIR"), QStringLiteral("C"));
    QVERIFY(noise(300, 200).save(web->path("mine.jpg"), "JPEG", 100));
    HttpClient client(web->port(), HttpClient::Browser);
    QTRY_VERIFY_WITH_TIMEOUT(client.get("/").status == "200 OK", 20000);
    const QByteArray link = QByteArray("/_t/mine.jpg");
    QCOMPARE(client.get(link).status, QByteArray("200 OK"));

    HttpClient stranger(other.port(), HttpClient::Browser);
    QCOMPARE(stranger.get(link).status, QByteArray("404 Not Found"));
}
void TestThumbnails::photoThumbnail_data()
{
    // The photo is green, the preview the camera stored blue; both are stored landscape with
    // their top left quarter red.
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("source"); // "photo", "preview", or empty: the placeholder
    QTest::addColumn<QByteArray>("corner"); // where the red quarter is seen
    QTest::addColumn<QSize>("size");

    const QImage photo = marked(QSize(400, 300), Qt::green);
    const QByteArray preview = jpeg(marked(QSize(160, 120), Qt::blue));
    const QSize landscape(124, 93);
    const QSize portrait(93, 124);
    const std::pair<const char *, QSize> seen[] = {
        {"top left", landscape},     {"top right", landscape}, {"bottom right", landscape},
        {"bottom left", landscape},  {"top left", portrait},   {"top right", portrait},
        {"bottom right", portrait},  {"bottom left", portrait},
    };
    for (int orientation = 1; orientation <= 8; ++orientation) {
        QTest::addRow("orientation %d, from the preview", orientation)
            << photoFile(photo, exifBlock(orientation, preview)) << QByteArray("preview")
            << QByteArray(seen[orientation - 1].first) << seen[orientation - 1].second;
    }
    QTest::addRow("no EXIF block") << photoFile(photo, QByteArray()) << QByteArray("photo")
                                   << QByteArray("top left") << landscape;
    QTest::addRow("preview smaller than the box")
        << photoFile(photo, exifBlock(8, jpeg(marked(QSize(120, 90), Qt::blue)))) << QByteArray("photo")
        << QByteArray("bottom left") << portrait;

    // Damaged or lying blocks: the photo is decoded instead.
    const QByteArray block = exifBlock(3, preview);
    QTest::addRow("preview offset past the end") << photoFile(photo, withLong(block, 0x0201, 0xFFFF0000))
                                                 << QByteArray("photo") << QByteArray("bottom right") << landscape;
    for (const QSize claimed : {QSize(60000, 60000), QSize(4000, 3000)}) {
        QByteArray lying = preview;
        const qsizetype frame = lying.indexOf("\xFF\xC0");
        qToBigEndian(quint16(claimed.height()), lying.data() + frame + 5);
        qToBigEndian(quint16(claimed.width()), lying.data() + frame + 7);
        QTest::addRow("preview claiming %dx%d", claimed.width(), claimed.height())
            << photoFile(photo, exifBlock(3, lying)) << QByteArray("photo") << QByteArray("bottom right")
            << landscape;
    }
    QByteArray lost = block;
    qToLittleEndian(quint32(0xFFFFFF00), lost.data() + 10); // where IFD0 starts
    QTest::addRow("IFD0 past the end") << photoFile(photo, lost) << QByteArray("photo") << QByteArray("top left")
                                       << landscape;
    // The file ends inside the preview, before any picture.
    QByteArray cut = "\xFF\xD8" + segment('\xFE', QByteArray(20000, ' ')) + segment('\xE1', block);
    cut.truncate(cut.indexOf(preview) + preview.size() / 2);
    QTest::addRow("file ending inside the EXIF block") << cut << QByteArray() << QByteArray() << QSize();
}

void TestThumbnails::photoThumbnail()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, corner);
    QFETCH(QSize, size);
    QVERIFY(file.size() >= 20000);
    QVERIFY(web->write("album/photo.jpg", file));
    HttpClient client(web->port(), HttpClient::Browser);
    HttpReply reply;
    QTRY_VERIFY_WITH_TIMEOUT((reply = client.get("/album")).status == "200 OK", 20000);
    // Named by its path in the share, not by where the share lies.
    const HttpReply image = client.get("/_t/album/photo.jpg");
    if (source.isEmpty()) {
        QVERIFY(reply.body.contains(Placeholder));
        QCOMPARE(image.status, QByteArray("404 Not Found"));
        return;
    }
    QVERIFY2(reply.body.contains("<img src=\"/_t/album/photo.jpg\""), reply.body.constData());
    QCOMPARE(image.status, QByteArray("200 OK"));
    QImage thumbnail;
    QVERIFY(thumbnail.loadFromData(image.body));
    QCOMPARE(thumbnail.size(), size);
    QCOMPARE(middleColour(thumbnail), source == "preview" ? QByteArray("blue") : QByteArray("green"));
    QCOMPARE(redCorner(thumbnail), corner);
}

QTEST_GUILESS_MAIN(TestThumbnails)
#include "tst_thumbnails.moc"
