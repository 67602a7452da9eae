#ifndef FILEHEADERS_H
#define FILEHEADERS_H

#include <QByteArray>
#include <QStringView>

// The header lines a file of the share is sent with: its type, validators and
// Content-Disposition, written without a socket.
namespace FileHeaders {

// How a file is offered: as classic pages offer it (a page is shown, anything else is a
// download), shown in the browser where the browser can show it, or as a download.
enum class Disposition { Classic, Inline, Download };

// The content type of a file of `size` bytes last changed at `modifiedMs` (since the epoch),
// offered as `disposition` says; appends its Last-Modified, ETag and Content-Disposition lines
// to `extra`.
QByteArray describe(QStringView fileName, qint64 size, qint64 modifiedMs, QByteArray *extra,
                    Disposition disposition = Disposition::Classic);
// The file name as it may stand between the quotes of a Content-Disposition line.
QByteArray dispositionName(QStringView name);
// Appends the Content-Disposition line of a download named `fileName` to `extra`.
void appendDisposition(QByteArray *extra, QStringView fileName, bool shown = false);

} // namespace FileHeaders

#endif
