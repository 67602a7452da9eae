#ifndef FILETYPES_H
#define FILETYPES_H

#include <QStringView>

// What a file's suffix says about it, in one table: the Content-Type a download is sent with,
// the icon its entry shows on a classic folder page (an icon file of the icon folder, served
// under "/_i/"), the media type it is shown with in the browser (the responsive pages open a
// file where the browser can show it) and what kind of file the responsive pages draw it as.
// A suffix is compared exactly: callers pass it lower-cased, without the dot.
namespace FileTypes {

// What the responsive pages draw an entry as, and how they open it.
enum class Kind { Other, Image, Video, Audio, Pdf, Text, Page, Document, Archive };

struct Row
{
    const char *suffix;
    const char *contentType; // null: a download is sent without a Content-Type line
    const char *icon;        // null: the entry shows no picture on a classic page
    const char *viewType;    // null: never shown in the browser, always a download
    Kind kind;
    // The file may run script where a browser shows it (a page, a drawing, XML): it is only
    // ever answered under "Content-Security-Policy: sandbox", as a site of its own.
    bool scripted;
};

// The row of `suffix`, or null when the table has none.
const Row *find(QStringView suffix);
// The row of a file name's suffix, in any case ("A.PDF" as "pdf"), or null.
const Row *ofName(QStringView fileName);

// Every row, for the tests and tools that go through them all.
const Row *begin();
const Row *end();

} // namespace FileTypes

#endif
