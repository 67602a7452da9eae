#include "requests.h"

QByteArray bigData(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        // Not periodic in 64 KiB (a send's batch): a batch sent twice shows.
        bytes[i] = char(i * 31 + (i >> 8) + (i >> 16) * 13 + seed * 7);
    return bytes;
}

QByteArray basicAuth(const QByteArray &credentials)
{
    return "Authorization: Basic " + credentials.toBase64() + "\r\n";
}

QByteArray messageOf(const QByteArray &page)
{
    const qsizetype from = page.indexOf("</tr></table>") + 13;
    const qsizetype to = page.indexOf("<table border=\"1\" frame=\"border\">");
    return page.mid(from, to - from);
}
