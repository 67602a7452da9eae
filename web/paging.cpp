#include "web/paging.h"

namespace Paging {

Page choose(qint64 total, qint64 storedSize, qint64 defaultSize, qint64 asked, PastEnd past)
{
    Page page;
    page.size = storedSize >= 1 ? storedSize : defaultSize;
    page.count = qMax<qint64>(1, (total + page.size - 1) / page.size);
    page.index = qMax<qint64>(0, asked);
    if (page.index >= page.count)
        page.index = past == PastEnd::First ? 0 : page.count - 1;
    page.start = page.index * page.size;
    page.stop = qMin(total, page.start + page.size);
    return page;
}

} // namespace Paging
