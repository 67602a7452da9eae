#ifndef NETREQUEST_H
#define NETREQUEST_H

#include <QByteArray>
#include <QObject>
#include <QUrl>

class ServerItem;

// The lookups on the internet: whether a server's port is reachable from outside and the public
// address, the dynamic-DNS update, and the QR code of a URL.
class NetRequest : public QObject
{
    Q_OBJECT

public:
    explicit NetRequest(QObject *parent = nullptr);

    // The dynamic-DNS provider's domain, after the account name in a server's DNS URL.
    static QString dnsDomain();

    void getIP(ServerItem *item);
    void getDNS(ServerItem *item);
    void getQRcode(const QString &text);

signals:
    void dnsState(const QUrl &url, ServerItem *item);
    void publicIP(ServerItem *item);
    void qrcode(QByteArray &image);
    void noNet();
};

#endif
