// Form uploads end to end: a real listener and connection handler receive a multipart body and
// save its files. The part headers, the file names and the search for the delimiters are the
// fuzzer's.
//
// Input: one control byte (the size of the pieces the client sends: 0 all at once, else
// 1 to 255 bytes), the boundary up to the first LF, then the body.
//
// What must hold: every new file in uploads/ holds exactly bytes of the body that follow part
// headers, up to a delimiter; when the page says the files were saved there is at least one. No
// temporary file is ever left, nothing outside the share changes, and the connection ends.

#include "fuzzsupport.h"

#include <QDir>
#include <QFile>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::ensureApplication();
    if (size < 2)
        return 0;
    Fuzz::Tree &tree = Fuzz::Tree::instance();
    static Fuzz::Server *server = new Fuzz::Server;

    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const int piece = quint8(input.at(0));
    const qsizetype newline = input.indexOf('\n', 1);
    if (newline < 0)
        return 0;
    const QByteArray boundary = input.mid(1, newline - 1);
    const QByteArray body = input.mid(newline + 1);
    if (boundary.contains('\r'))
        return 0;

    tree.reset();
    const QByteArray request = "POST /uploads/ HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + boundary
                               + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    const QByteArray answer = Fuzz::exchange(server, request, piece);
    tree.checkCanary(answer);

    const QFileInfoList stored = QDir(tree.share(QStringLiteral("uploads")))
                                     .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (answer.contains("File sent success.") && stored.isEmpty())
        Fuzz::fail("saved, but no file", answer.left(200));
    for (const QFileInfo &info : stored) {
        if (info.fileName().startsWith(QLatin1String(".upload-")))
            Fuzz::fail("a temporary file is left", info.fileName().toUtf8());
        QFile file(info.absoluteFilePath());
        if (!file.open(QIODevice::ReadOnly))
            Fuzz::fail("saved file unreadable");
        const QByteArray content = file.readAll();
        // The file is a piece of the body (from the end of part headers on), and a delimiter
        // follows it: the delimiter bytes, then "--" or the line end, perhaps after blanks.
        // (The part headers end at the first empty line: a CR and any byte.)
        const QByteArray delimiter = "\r\n--" + boundary;
        const auto endsTheLine = [](QByteArrayView rest) {
            if (rest.startsWith("--"))
                return true;
            while (!rest.isEmpty() && (rest.front() == ' ' || rest.front() == '\t'))
                rest = rest.sliced(1);
            return rest.startsWith("\r\n");
        };
        bool found = false;
        for (qsizetype at = body.indexOf(content); at >= 0 && !found; at = body.indexOf(content, at + 1)) {
            const QByteArrayView rest = QByteArrayView(body).sliced(at + content.size());
            found = rest.startsWith(delimiter) && endsTheLine(rest.sliced(delimiter.size()));
        }
        if (!found)
            Fuzz::fail("a saved file is not what the body held before a delimiter", content.left(200));
    }
    return 0;
}
