#ifndef PAGING_H
#define PAGING_H

#include <QtGlobal>

// Which entries of a listing one folder page shows, decided without a socket.
namespace Paging {

// What a page asked for past the last one shows: the first page (the classic pages), or the
// last (the responsive pages).
enum class PastEnd { First, Last };

struct Page
{
    qint64 size = 1;  // entries on a page
    qint64 index = 0; // the page shown, from 0
    qint64 count = 1; // pages of the listing, at least one
    qint64 start = 0; // the entries shown: from `start` to before `stop`
    qint64 stop = 0;
};

// The page `asked` (from 0; below 0 the first) of `total` entries, `storedSize` on a page
// (below 1: `defaultSize`).
Page choose(qint64 total, qint64 storedSize, qint64 defaultSize, qint64 asked, PastEnd past);

} // namespace Paging

#endif
