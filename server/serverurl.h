#ifndef SERVERURL_H
#define SERVERURL_H

#include <QString>

// The URL of a server on `host` (an address, bracketed when it is an IPv6 one, or a name) and
// `port`, without a path. The port is left out when it is the scheme's own, unless `Always`.
enum class UrlPort { WhenNotDefault, Always };
QString serverUrl(const QString &host, int port, bool secure, UrlPort shown = UrlPort::WhenNotDefault);

#endif
