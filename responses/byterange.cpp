#include "responses/byterange.h"

namespace ByteRange {

int choose(qint64 start, qint64 end, bool suffix, qint64 size, qint64 *offset, qint64 *count)
{
    *offset = 0;
    *count = size;
    if (suffix) {
        // The last `end` bytes, all of them when the file is shorter (RFC 9110 14.1.2).
        if (end < 1 || size < 1)
            return 416;
        *count = qMin(end, size);
        *offset = size - *count;
        return 206;
    }
    // A range that starts past its own end is ignored; one that starts past the file is refused.
    if ((start < 1 && end < 1) || (end > 0 && start > end))
        return 200;
    if (start < 0 || start >= size)
        return 416;
    const qint64 last = (end > 0 && end < size) ? end : size - 1;
    *offset = start;
    *count = last - start + 1;
    return 206;
}

} // namespace ByteRange
