#ifndef REQUESTS_H
#define REQUESTS_H

#include <QByteArray>

// Pieces of requests and answers that many tests use.

// `size` bytes of a pattern that repeats only after 64 KiB, different for each `seed`: a body
// whose pieces are told apart when the server sends one in the wrong place.
QByteArray bigData(int size, int seed = 0);
// The header line of Basic authentication with "user:password".
QByteArray basicAuth(const QByteArray &credentials);
// The one-shot message of a folder page: what stands between the header row and the entries.
QByteArray messageOf(const QByteArray &page);

#endif
