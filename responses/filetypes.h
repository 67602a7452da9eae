#ifndef FILETYPES_H
#define FILETYPES_H

#include <QStringView>

// What a file's suffix says about it, in one table: the Content-Type a download is sent with
// and the icon its entry shows on a folder page (an icon file of the icon folder, served under
// "/_i/"). A suffix is compared exactly: callers pass it lower-cased, without the dot.
namespace FileTypes {

struct Row
{
    const char *suffix;
    const char *contentType; // null: the file is sent without a Content-Type line
    const char *icon;        // null: the entry shows no picture
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
