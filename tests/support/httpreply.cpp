#include "httpreply.h"

bool HttpReply::takeFrom(QByteArray &data, bool headOnly)
{
    const qsizetype blank = data.indexOf("\r\n\r\n");
    if (blank < 0)
        return false;
    HttpReply reply;
    reply.head = data.left(blank + 4);
    const QList<QByteArray> lines = data.left(blank).split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        if (i == 0) {
            reply.statusLine = line;
            reply.status = line.mid(9);
            reply.code = line.mid(9, 3).toInt();
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        reply.headers.append({line.left(colon), colon < 0 ? QByteArray() : line.mid(colon + 1).trimmed()});
    }
    // A 304 tells the length it does not send.
    const qint64 length = headOnly || reply.code == 304 ? 0 : reply.contentLength();
    if (data.size() - reply.head.size() < length)
        return false;
    reply.body = data.mid(reply.head.size(), length);
    data.remove(0, reply.head.size() + length);
    reply.complete = true;
    *this = reply;
    return true;
}

QByteArray HttpReply::header(const QByteArray &name) const
{
    for (const auto &line : headers) {
        if (line.first.compare(name, Qt::CaseInsensitive) == 0)
            return line.second.isNull() ? QByteArray("") : line.second;
    }
    return QByteArray();
}
