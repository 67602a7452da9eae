#include "server/serverurl.h"

QString serverUrl(const QString &host, int port, bool secure, UrlPort shown)
{
    QString url = secure ? QStringLiteral("https://") : QStringLiteral("http://");
    url += host.contains(u':') ? u'[' + host + u']' : host;
    if (shown == UrlPort::Always || port != (secure ? 443 : 80))
        url += u':' + QString::number(port);
    return url;
}
