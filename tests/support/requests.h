#ifndef REQUESTS_H
#define REQUESTS_H

#include <QByteArray>

class HttpReply;

// Pieces of requests and answers that many tests use.

// `size` bytes of a pattern that repeats only after 64 KiB, different for each `seed`: a body
// whose pieces are told apart when the server sends one in the wrong place.
QByteArray bigData(int size, int seed = 0);
// The header line of Basic authentication with "user:password".
QByteArray basicAuth(const QByteArray &credentials);
// The one-shot message of a folder page: what stands between the header row and the entries.
QByteArray messageOf(const QByteArray &page);
// A url-encoded form posted to `target`, with `headers` before its own.
QByteArray formPost(const QByteArray &target, const QByteArray &body, const QByteArray &headers = QByteArray());
// A form upload to `target` of one file `fileName` holding `data` (boundary "XyZ").
QByteArray uploadPost(const QByteArray &target, const QByteArray &fileName, const QByteArray &data = "uploaded bytes",
                      const QByteArray &headers = QByteArray());
// The session cookie an answer sets ("ID=<id>"), without its attributes.
QByteArray cookieOf(const HttpReply &reply);
// A plain blocking connection to 127.0.0.1:`port` (with a small receive buffer when
// `receiveBuffer` is given), or -1.
int rawConnect(quint16 port, int receiveBuffer = 0);

#endif
