#ifndef QRDECODER_H
#define QRDECODER_H

#include <QImage>
#include <QString>

// Reads QR codes back as a phone would, with zbarimg (Debian's zbar-tools).
namespace QrDecoder {

// The text of the one code in `image`; empty when none was found, or why zbarimg did not run.
// `error` gets zbarimg's complaint, if any.
QString decode(const QImage &image, QString *error = nullptr);
// A terminal rendering of a code (block characters for light modules, two rows per line) as the
// picture it shows: `scale` pixels per module.
QImage fromTerminal(const QString &text, int scale = 8);

} // namespace QrDecoder

#endif
