// Draws the pictures of the icon folder (data/img/): the entry icons of the folder pages, the
// page background and the favicon; the icons compiled into the window (resources/icons/); and the
// window's own icon for the desktop's menus in the sizes of the icon theme
// (resources/icons/app/<size>.png). Run it again after changing a drawing:
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

#include <cmath>
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

// The icons of the window: menus, table cells and the settings pages.

void drawPlay(QPainter &p)
{
    p.setPen(QPen(QColor(30, 110, 40), 2));
    p.setBrush(QColor(70, 180, 80));
    p.drawEllipse(QPointF(24, 24), 20, 20);
    QPainterPath play;
    play.moveTo(19, 13);
    play.lineTo(35, 24);
    play.lineTo(19, 35);
    play.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(play);
}

void drawStop(QPainter &p)
{
    p.setPen(QPen(QColor(140, 30, 30), 2));
    p.setBrush(QColor(210, 60, 50));
    p.drawEllipse(QPointF(24, 24), 20, 20);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(16, 16, 16, 16), 2, 2);
}

void gear(QPainter &p, const QPointF &centre, double outer, const QColor &colour)
{
    QPainterPath path;
    constexpr int teeth = 8;
    for (int i = 0; i < teeth * 4; ++i) {
        const double angle = i * 6.2831853 / (teeth * 4);
        const double radius = (i % 4 < 2) ? outer : outer * 0.74;
        const QPointF point(centre.x() + radius * std::cos(angle), centre.y() + radius * std::sin(angle));
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    path.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(centre, outer * 0.3, outer * 0.3);
    p.setPen(QPen(colour.darker(150), 1.5));
    p.setBrush(colour);
    p.drawPath(path.subtracted(hole));
}

void drawPreferences(QPainter &p)
{
    gear(p, QPointF(24, 24), 19, QColor(130, 140, 155));
}

void drawView(QPainter &p)
{
    QPainterPath eye;
    eye.moveTo(3, 24);
    eye.quadTo(24, 4, 45, 24);
    eye.quadTo(24, 44, 3, 24);
    p.setPen(QPen(QColor(40, 60, 90), 2));
    p.setBrush(Qt::white);
    p.drawPath(eye);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 120, 200));
    p.drawEllipse(QPointF(24, 24), 8, 8);
    p.setBrush(QColor(20, 30, 40));
    p.drawEllipse(QPointF(24, 24), 3.5, 3.5);
}

void drawKey(QPainter &p)
{
    p.setPen(QPen(QColor(150, 110, 10), 2));
    p.setBrush(QColor(240, 200, 60));
    QPainterPath key;
    key.addEllipse(QPointF(15, 24), 11, 11);
    key.addRect(QRectF(24, 21, 21, 6));
    key.addRect(QRectF(35, 27, 4, 7));
    key.addRect(QRectF(41, 27, 4, 5));
    key.setFillRule(Qt::WindingFill);
    p.drawPath(key.simplified());
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(12, 24), 3.5, 3.5);
}

void screen(QPainter &p, const QRectF &frame)
{
    p.setPen(QPen(QColor(50, 50, 60), 1.5));
    p.setBrush(QColor(90, 150, 220));
    p.drawRoundedRect(frame, 2, 2);
    p.setBrush(QColor(60, 60, 70));
    p.drawRect(QRectF(frame.center().x() - 3, frame.bottom(), 6, 4));
}

void drawNetwork(QPainter &p)
{
    p.setPen(QPen(QColor(60, 60, 60), 2.5));
    p.drawLine(12, 30, 12, 40);
    p.drawLine(36, 30, 36, 40);
    p.drawLine(12, 40, 36, 40);
    p.drawLine(24, 40, 24, 45);
    screen(p, QRectF(2, 10, 20, 16));
    screen(p, QRectF(26, 10, 20, 16));
}

void drawDns(QPainter &p)
{
    p.setPen(QPen(QColor(20, 90, 140), 2));
    p.setBrush(QColor(110, 190, 230));
    p.drawEllipse(QPointF(24, 24), 20, 20);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(24, 24), 9, 20);
    p.drawLine(4, 24, 44, 24);
    p.drawLine(24, 4, 24, 44);
    p.drawLine(8, 14, 40, 14);
    p.drawLine(8, 34, 40, 34);
}

void drawFind(QPainter &p)
{
    p.setPen(QPen(QColor(70, 50, 30), 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(30, 30, 43, 43);
    p.setPen(QPen(QColor(60, 60, 70), 3));
    p.setBrush(QColor(200, 230, 250));
    p.drawEllipse(QPointF(20, 20), 14, 14);
}

void drawTheme(QPainter &p)
{
    p.setPen(QPen(QColor(90, 60, 30), 1.5));
    p.setBrush(QColor(160, 110, 60));
    p.drawRoundedRect(QRectF(27, 4, 8, 22), 3, 3);
    p.setBrush(QColor(190, 190, 200));
    p.drawRect(QRectF(25, 25, 12, 6));
    QPainterPath bristles;
    bristles.moveTo(25, 31);
    bristles.lineTo(37, 31);
    bristles.quadTo(40, 40, 31, 45);
    bristles.quadTo(22, 40, 25, 31);
    p.setBrush(QColor(200, 60, 120));
    p.drawPath(bristles);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 130, 210));
    p.drawEllipse(QPointF(12, 36), 7, 7);
    p.setBrush(QColor(250, 200, 50));
    p.drawEllipse(QPointF(12, 16), 7, 7);
}

void drawColors(QPainter &p)
{
    p.setPen(QPen(QColor(110, 80, 50), 1.5));
    p.setBrush(QColor(235, 210, 170));
    QPainterPath board;
    board.addEllipse(QRectF(3, 6, 42, 36));
    QPainterPath thumb;
    thumb.addEllipse(QPointF(30, 32), 5, 5);
    p.drawPath(board.subtracted(thumb));
    p.setPen(Qt::NoPen);
    const QColor colours[] = {QColor(210, 50, 50), QColor(240, 190, 40), QColor(60, 160, 70),
                              QColor(50, 110, 210)};
    const QPointF spots[] = {QPointF(14, 18), QPointF(25, 13), QPointF(36, 19), QPointF(13, 30)};
    for (int i = 0; i < 4; ++i) {
        p.setBrush(colours[i]);
        p.drawEllipse(spots[i], 4.5, 4.5);
    }
}

void drawFont(QPainter &p)
{
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setPixelSize(40);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(40, 40, 60));
    p.drawText(QRectF(0, 0, 48, 48), Qt::AlignCenter, QStringLiteral("A"));
}

// The application's own icon: a tile with a server tower sending to a folder.
void drawApplicationIcon(QPainter &p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 90, 150));
    p.drawRoundedRect(QRectF(1, 1, 46, 46), 9, 9);
    p.setBrush(QColor(250, 205, 90));
    QPainterPath folder;
    folder.moveTo(9, 14);
    folder.lineTo(19, 14);
    folder.lineTo(22, 17);
    folder.lineTo(39, 17);
    folder.lineTo(39, 34);
    folder.lineTo(9, 34);
    folder.closeSubpath();
    p.drawPath(folder);
    p.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(14, 28, 20, 16), 30 * 16, 120 * 16);
    p.drawArc(QRectF(19, 33, 10, 8), 30 * 16, 120 * 16);
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

// The favicon: a rounded tile with a stylised open folder.
QImage favicon()
{
    QImage image = canvas(32);
    QPainter p(&image);
    prepare(p);
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

using Draw = std::function<void(QPainter &)>;
using Drawing = std::pair<const char *, Draw>;

// A drawing made on the grid of Size units, at `size` pixels.
QImage render(const Draw &draw, int size = Size)
{
    QImage image = canvas(size);
    QPainter p(&image);
    prepare(p);
    p.scale(double(size) / Size, double(size) / Size);
    draw(p);
    p.end();
    return image;
}

bool drawAll(const QDir &out, std::initializer_list<Drawing> drawings)
{
    bool ok = true;
    for (const auto &[name, draw] : drawings)
        ok = render(draw).save(out.filePath(QString::fromLatin1(name)), "PNG") && ok;
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        QTextStream(stderr) << "usage: drawicons <page icon folder> <window icon folder>\n";
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QDir windowOut(QString::fromLocal8Bit(argv[2]));
    const QDir themeOut(windowOut.filePath(QStringLiteral("app")));
    for (const QDir &dir : {out, windowOut, themeOut}) {
        if (!dir.exists() && !QDir().mkpath(dir.path()))
            return 1;
    }

    bool ok = drawAll(out, {
        {"html.png", drawHtml},        {"doc.png", drawDoc},
        {"music.png", drawMusic},      {"media.png", drawMedia},
        {"folder_tar.png", drawArchive}, {"txt.png", drawTxt},
        {"sheet.png", drawSheet},      {"application.png", drawApplication},
        {"image.png", drawImage},      {"folder.png", drawFolder},
    });
    ok = sand().save(out.filePath(QStringLiteral("sand-light.jpg")), "JPEG", 85) && ok;
    ok = favicon().save(out.filePath(QStringLiteral("n900.ico")), "ICO") && ok;
    ok = drawAll(windowOut, {
        {"MobileServer.png", drawApplicationIcon}, {"play.png", drawPlay},
        {"stop.png", drawStop},        {"preferences-system.png", drawPreferences},
        {"view.png", drawView},        {"folder.png", drawFolder},
        {"kgpg.png", drawKey},         {"preferences-network.png", drawNetwork},
        {"dns.png", drawDns},          {"find.png", drawFind},
        {"theme.png", drawTheme},      {"colors.png", drawColors},
        {"font.png", drawFont},
    }) && ok;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString name = themeOut.filePath(QStringLiteral("%1.png").arg(size));
        ok = render(drawApplicationIcon, size).save(name, "PNG") && ok;
    }
    return ok ? 0 : 1;
}
