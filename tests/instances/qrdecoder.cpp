#include "qrdecoder.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

QString QrDecoder::decode(const QImage &image, QString *error)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("code.png"));
    QProcess zbar;
    if (image.save(path, "PNG"))
        zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--quiet"), QStringLiteral("--raw"), path});
    if (!zbar.waitForFinished(30000))
        return QStringLiteral("zbarimg (zbar-tools) did not run: ") + zbar.errorString();
    if (error)
        *error = QString::fromLocal8Bit(zbar.readAllStandardError());
    return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
}

QImage QrDecoder::fromTerminal(const QString &text, int scale)
{
    QStringList lines = text.split(u'\n');
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    qsizetype width = 0;
    for (const QString &line : std::as_const(lines))
        width = qMax(width, line.size());
    QImage image(int(width) * scale, int(lines.size()) * 2 * scale, QImage::Format_Grayscale8);
    image.fill(0);
    const auto light = [&](int column, int moduleRow) {
        for (int y = moduleRow * scale; y < (moduleRow + 1) * scale; ++y) {
            uchar *line = image.scanLine(y);
            for (int x = column * scale; x < (column + 1) * scale; ++x)
                line[x] = 255;
        }
    };
    for (int row = 0; row < lines.size(); ++row) {
        const QString &line = lines.at(row);
        for (int column = 0; column < line.size(); ++column) {
            const QChar c = line.at(column);
            if (c == u'\u2588' || c == u'\u2580')
                light(column, row * 2);
            if (c == u'\u2588' || c == u'\u2584')
                light(column, row * 2 + 1);
        }
    }
    return image;
}
