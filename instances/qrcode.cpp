#include "instances/qrcode.h"

#include <QBuffer>

#include <qrencode.h>

QrCode::QrCode(const QByteArray &data)
{
    // Level M: a code on a screen with some glare still reads.
    QRcode *code = QRcode_encodeData(int(data.size()), reinterpret_cast<const unsigned char *>(data.constData()),
                                     0, QR_ECLEVEL_M);
    if (!code)
        return;
    side = code->width;
    modules.resize(qsizetype(side) * side);
    for (qsizetype i = 0; i < modules.size(); ++i)
        modules[i] = char(code->data[i] & 1);
    QRcode_free(code);
}

bool QrCode::isDark(int x, int y) const
{
    if (x < 0 || y < 0 || x >= side || y >= side)
        return false;
    return modules.at(qsizetype(y) * side + x) != 0;
}

QImage QrCode::image(int minimumSide) const
{
    if (isNull())
        return QImage();
    const int total = side + 2 * QuietZone;
    const int scale = qMax(1, (minimumSide + total - 1) / total);
    QImage picture(total * scale, total * scale, QImage::Format_Mono);
    picture.setColor(0, qRgb(255, 255, 255));
    picture.setColor(1, qRgb(0, 0, 0));
    picture.fill(0);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            if (!isDark(x, y))
                continue;
            const int left = (x + QuietZone) * scale;
            const int top = (y + QuietZone) * scale;
            for (int py = top; py < top + scale; ++py) {
                for (int px = left; px < left + scale; ++px)
                    picture.setPixel(px, py, 1);
            }
        }
    }
    return picture;
}

QByteArray QrCode::png(int minimumSide) const
{
    if (isNull())
        return QByteArray();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image(minimumSide).save(&buffer, "PNG");
    return bytes;
}

QString QrCode::terminalText(bool colours) const
{
    if (isNull())
        return QString();
    // Indexed by (upper light) | (lower light) << 1.
    static const QChar cells[4] = {u' ', u'\u2580', u'\u2584', u'\u2588'};
    const int first = -QuietZone;
    const int end = side + QuietZone;
    QString text;
    for (int y = first; y < end; y += 2) {
        if (colours)
            text += QStringLiteral("\033[97;40m");
        for (int x = first; x < end; ++x) {
            // Below the last row (an odd number of rows in all) lies light margin.
            const bool upperLight = !isDark(x, y);
            const bool lowerLight = y + 1 >= end || !isDark(x, y + 1);
            text += cells[int(upperLight) | int(lowerLight) << 1];
        }
        if (colours)
            text += QStringLiteral("\033[0m");
        text += u'\n';
    }
    return text;
}
