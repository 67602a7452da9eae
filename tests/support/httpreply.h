#ifndef HTTPREPLY_H
#define HTTPREPLY_H

#include <QByteArray>
#include <QList>
#include <utility>

// One answer as it came over the wire: the head exactly as sent, split into its lines, and the
// body announced by Content-Length.
class HttpReply
{
public:
    // Splits off one answer from the front of `data`. Returns false (and leaves `data`) while the
    // head, or the body it announces, is incomplete. The answer to a HEAD request is its head only.
    bool takeFrom(QByteArray &data, bool headOnly = false);

    // The value of the first header line named `name` (compared without case, as HTTP does);
    // a null array when there is none.
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const { return !header(name).isNull(); }
    qint64 contentLength() const { return header("Content-Length").toLongLong(); }

    QByteArray statusLine; // "HTTP/1.1 200 OK"
    QByteArray status;     // "200 OK"
    int code = 0;
    QByteArray head;       // everything up to and including the empty line
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    bool complete = false; // the whole answer arrived
};

#endif
