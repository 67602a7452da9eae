#ifndef BYTERANGE_H
#define BYTERANGE_H

#include <QtGlobal>

// The part of a file a Range header asks for (RFC 9110 14), decided without a socket.
namespace ByteRange {

// What the parsed Range numbers `start` and `end` (0 where a number is missing) ask of a file
// of `size` bytes: 200 the whole file, 206 the `count` bytes from `offset`, 416 nothing. With
// `suffix` the range is the last `end` bytes.
int choose(qint64 start, qint64 end, bool suffix, qint64 size, qint64 *offset, qint64 *count);

} // namespace ByteRange

#endif
