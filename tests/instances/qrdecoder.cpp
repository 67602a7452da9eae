#include "qrdecoder.h"

#include <QPainter>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

QString QrDecoder::decode(const QImage &image, QString *error)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("code.png"));
    if (!image.save(path, "PNG")) {
        if (error)
            *error = QStringLiteral("cannot write %1").arg(path);
        return QString();
    }
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--quiet"), QStringLiteral("--raw"), path});
    if (!zbar.waitForFinished(30000)) {
        if (error)
            *error = QStringLiteral("zbarimg did not finish: ") + zbar.errorString();
        zbar.kill();
        zbar.waitForFinished();
        return QString();
    }
    if (error)
        *error = QString::fromLocal8Bit(zbar.readAllStandardError());
    QString text = QString::fromUtf8(zbar.readAllStandardOutput());
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text;
}

QImage QrDecoder::fromTerminal(const QString &text, int scale)
{
    QStringList lines = text.split(u'\n');
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    qsizetype width = 0;
    for (const QString &line : std::as_const(lines))
        width = qMax(width, line.size());
    QImage image(int(width) * scale, int(lines.size()) * 2 * scale, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    for (int row = 0; row < lines.size(); ++row) {
        const QString &line = lines.at(row);
        for (int column = 0; column < line.size(); ++column) {
            const QChar c = line.at(column);
            const bool upper = c == u'\u2588' || c == u'\u2580';
            const bool lower = c == u'\u2588' || c == u'\u2584';
            if (upper)
                painter.fillRect(column * scale, row * 2 * scale, scale, scale, Qt::white);
            if (lower)
                painter.fillRect(column * scale, (row * 2 + 1) * scale, scale, scale, Qt::white);
        }
    }
    return image;
}
