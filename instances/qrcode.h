#ifndef QRCODE_H
#define QRCODE_H

#include <QByteArray>
#include <QImage>
#include <QString>

// The QR code of a text, made on this machine: no outside party learns what it holds and it
// works offline. Needs QtGui for the picture, nothing of the widgets, so the headless mode
// prints it as well.
class QrCode
{
public:
    // Light modules around the symbol that a reader needs to find it.
    static constexpr int QuietZone = 4;
    // The picture is at least this many pixels wide: large enough to scan from a screen.
    static constexpr int MinimumSide = 400;

    // The code of `data` (UTF-8 for a text); null when it does not fit into a QR code.
    explicit QrCode(const QByteArray &data);

    bool isNull() const { return side == 0; }
    // Modules on each side, without the quiet zone.
    int size() const { return side; }
    // Whether module (x, y) is dark; the quiet zone around the symbol is light.
    bool isDark(int x, int y) const;

    // Black on white, the quiet zone included, whole pixels per module.
    QImage image(int minimumSide = MinimumSide) const;
    // The same as a PNG file; empty for a null code.
    QByteArray png(int minimumSide = MinimumSide) const;
    // The code for a terminal, two modules per character cell, the quiet zone included. Light
    // modules are drawn with block characters, as light text on a dark terminal shows them;
    // `colours` adds the escape sequences that make the text white on black on any terminal.
    // Every line ends in a newline.
    QString terminalText(bool colours = false) const;

private:
    int side = 0;
    QByteArray modules; // one byte per module, row by row: 1 dark, 0 light
};

#endif
