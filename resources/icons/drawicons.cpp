// Draws the pictures of the icon folder (data/img/): the entry icons of the folder pages, the
// page background and the favicon; and the application icon for the desktop's menus in the sizes
// of the icon theme (resources/icons/app/<size>.png). Run it again after changing a drawing:
//     cmake --build <build> --target icons
// and commit the files it wrote.

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>
#include <QTextStream>

#include <functional>

namespace {

constexpr int Size = 48;

QImage canvas(int size = Size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

void prepare(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing);
}

// A sheet of paper with a folded corner; `band` colours a strip along the top.
void sheet(QPainter &p, const QColor &band)
{
    QPainterPath path;
    path.moveTo(10, 4);
    path.lineTo(31, 4);
    path.lineTo(40, 13);
    path.lineTo(40, 44);
    path.lineTo(10, 44);
    path.closeSubpath();
    p.setPen(QPen(QColor(90, 90, 90), 1.5));
    p.setBrush(QColor(250, 250, 246));
    p.drawPath(path);
    QPainterPath fold;
    fold.moveTo(31, 4);
    fold.lineTo(31, 13);
    fold.lineTo(40, 13);
    fold.closeSubpath();
    p.setBrush(QColor(215, 215, 210));
    p.drawPath(fold);
    if (band.isValid()) {
        p.setPen(Qt::NoPen);
        p.setBrush(band);
        p.drawRect(QRectF(12, 15, 26, 5));
    }
}

void lines(QPainter &p, int from, int to, const QColor &colour)
{
    p.setPen(QPen(colour, 2));
    for (int y = from; y <= to; y += 5)
        p.drawLine(15, y, 35, y);
}

void drawHtml(QPainter &p)
{
    sheet(p, QColor());
    p.setPen(QPen(QColor(30, 100, 190), 2));
    p.setBrush(QColor(120, 180, 240));
    p.drawEllipse(QPointF(25, 29), 10, 10);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(25, 29), 4, 10);
    p.drawLine(15, 29, 35, 29);
}

void drawDoc(QPainter &p)
{
    sheet(p, QColor(40, 90, 180));
    lines(p, 25, 40, QColor(70, 110, 190));
}

void drawTxt(QPainter &p)
{
    sheet(p, QColor());
    lines(p, 16, 40, QColor(130, 130, 130));
}

void drawSheet(QPainter &p)
{
    sheet(p, QColor(40, 150, 70));
    p.setPen(QPen(QColor(60, 140, 80), 1.2));
    for (int y = 23; y <= 41; y += 6)
        p.drawLine(13, y, 37, y);
    for (int x = 13; x <= 37; x += 8)
        p.drawLine(x, 23, x, 41);
}

void drawMusic(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 50, 160));
    p.drawEllipse(QPointF(15, 37), 6, 4.5);
    p.drawEllipse(QPointF(34, 33), 6, 4.5);
    p.setPen(QPen(QColor(150, 50, 160), 3));
    p.drawLine(QPointF(20, 37), QPointF(20, 10));
    p.drawLine(QPointF(39, 33), QPointF(39, 6));
    p.setPen(QPen(QColor(150, 50, 160), 5));
    p.drawLine(QPointF(20, 11), QPointF(39, 7));
}

void drawMedia(QPainter &p)
{
    p.setPen(QPen(QColor(30, 30, 30), 1));
    p.setBrush(QColor(45, 45, 50));
    p.drawRoundedRect(QRectF(4, 9, 40, 30), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(235, 235, 235));
    for (int x = 7; x <= 39; x += 6) {
        p.drawRect(QRectF(x, 11, 3, 3));
        p.drawRect(QRectF(x, 34, 3, 3));
    }
    p.setBrush(QColor(110, 170, 230));
    p.drawRect(QRectF(8, 16, 32, 16));
    QPainterPath play;
    play.moveTo(20, 18);
    play.lineTo(30, 24);
    play.lineTo(20, 30);
    play.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(play);
}

void drawArchive(QPainter &p)
{
    p.setPen(QPen(QColor(120, 80, 30), 1.5));
    p.setBrush(QColor(215, 170, 100));
    p.drawRect(QRectF(6, 14, 36, 28));
    p.setBrush(QColor(195, 145, 75));
    p.drawRect(QRectF(4, 8, 40, 8));
    p.setPen(Qt::NoPen);
    for (int y = 16; y < 40; y += 4) {
        p.setBrush(QColor(70, 70, 70));
        p.drawRect(QRectF(21, y, 3, 2));
        p.drawRect(QRectF(24, y + 2, 3, 2));
    }
}

void drawApplication(QPainter &p)
{
    p.setPen(QPen(QColor(50, 50, 60), 1.5));
    p.setBrush(QColor(240, 240, 244));
    p.drawRoundedRect(QRectF(4, 8, 40, 32), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 90, 160));
    p.drawRect(QRectF(5, 9, 38, 7));
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.drawLine(10, 23, 16, 28);
    p.drawLine(16, 28, 10, 33);
    p.drawLine(19, 34, 28, 34);
}

void drawImage(QPainter &p)
{
    p.setPen(QPen(QColor(70, 70, 70), 1.5));
    p.setBrush(QColor(170, 215, 245));
    p.drawRect(QRectF(4, 8, 40, 32));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 210, 60));
    p.drawEllipse(QPointF(34, 17), 4, 4);
    QPainterPath hills;
    hills.moveTo(5, 39);
    hills.lineTo(17, 22);
    hills.lineTo(26, 32);
    hills.lineTo(31, 27);
    hills.lineTo(43, 39);
    hills.closeSubpath();
    p.setBrush(QColor(70, 140, 70));
    p.drawPath(hills);
}

void drawFolder(QPainter &p)
{
    p.setPen(QPen(QColor(170, 120, 20), 1.5));
    p.setBrush(QColor(235, 185, 60));
    QPainterPath back;
    back.moveTo(4, 12);
    back.lineTo(17, 12);
    back.lineTo(21, 16);
    back.lineTo(44, 16);
    back.lineTo(44, 40);
    back.lineTo(4, 40);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(QColor(250, 210, 100));
    QPainterPath front;
    front.moveTo(4, 40);
    front.lineTo(9, 21);
    front.lineTo(47, 21);
    front.lineTo(44, 40);
    front.closeSubpath();
    p.drawPath(front);
}

// A light sand texture: a warm base with fine grain and a few soft ripples. Seeded, so every run
// writes the same picture.
QImage sand()
{
    constexpr int side = 256;
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator random(20240611);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double ripple = 4.0 * std::sin((x + 0.6 * y) * 6.2831853 / 64.0)
                                  + 2.0 * std::sin((y - 0.3 * x) * 6.2831853 / 32.0);
            const int grain = int(random.bounded(15)) - 7;
            const int shade = int(ripple) + grain;
            image.setPixel(x, y, qRgb(qBound(0, 240 + shade, 255), qBound(0, 228 + shade, 255),
                                      qBound(0, 200 + shade, 255)));
        }
    }
    return image;
}

// The program's emblem, the favicon and the application icon: a rounded tile with a stylised
// open folder, drawn on a grid of 32 units and scaled to `size` pixels.
QImage emblem(int size = 32)
{
    QImage image = canvas(size);
    QPainter p(&image);
    prepare(p);
    p.scale(size / 32.0, size / 32.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 90, 150));
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    p.setBrush(QColor(250, 205, 90));
    QPainterPath folder;
    folder.moveTo(7, 10);
    folder.lineTo(13, 10);
    folder.lineTo(15, 12);
    folder.lineTo(25, 12);
    folder.lineTo(25, 23);
    folder.lineTo(7, 23);
    folder.closeSubpath();
    p.drawPath(folder);
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        QTextStream(stderr) << "usage: drawicons <icon folder> <application icon folder>\n";
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QDir appOut(QString::fromLocal8Bit(argv[2]));
    if ((!out.exists() && !QDir().mkpath(out.path())) || (!appOut.exists() && !QDir().mkpath(appOut.path())))
        return 1;

    const std::pair<const char *, std::function<void(QPainter &)>> icons[] = {
        {"html.png", drawHtml},        {"doc.png", drawDoc},
        {"music.png", drawMusic},      {"media.png", drawMedia},
        {"folder_tar.png", drawArchive}, {"txt.png", drawTxt},
        {"sheet.png", drawSheet},      {"application.png", drawApplication},
        {"image.png", drawImage},      {"folder.png", drawFolder},
    };
    bool ok = true;
    for (const auto &[name, draw] : icons) {
        QImage image = canvas();
        QPainter p(&image);
        prepare(p);
        draw(p);
        p.end();
        ok = image.save(out.filePath(QString::fromLatin1(name)), "PNG") && ok;
    }
    ok = sand().save(out.filePath(QStringLiteral("sand-light.jpg")), "JPEG", 85) && ok;
    ok = emblem().save(out.filePath(QStringLiteral("n900.ico")), "ICO") && ok;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        ok = emblem(size).save(appOut.filePath(QStringLiteral("%1.png").arg(size)), "PNG") && ok;
    return ok ? 0 : 1;
}
