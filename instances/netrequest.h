#ifndef NETREQUEST_H
#define NETREQUEST_H

#include <QByteArray>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QUrl>

class ServerItem;

// The lookups on the internet: whether a server's port is reachable from outside and the public
// address (the open-port check service), the dynamic-DNS update, and the QR code of a URL. The
// QR code is made on this machine unless a chart service is configured.
//
// Each service is a base URL: the environment variable, else the settings key, else the default
// (see README). An empty base URL switches that lookup off (for the chart service: the code is
// made here). Every answer is booked to the item that asked; an answer whose item is gone is
// dropped. No request waits longer than timeout().
class NetRequest : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultTimeout = 30000;
    // A chart service's answer shorter than this is an error page, not a picture.
    static constexpr int MinServiceImage = 999;

    explicit NetRequest(QObject *parent = nullptr);
    ~NetRequest() override;

    static QString portCheckUrl();
    static QString dnsUrl();
    // Empty: QR codes are made on this machine.
    static QString qrUrl();
    // The dynamic-DNS provider's domain, after the account name in a server's DNS URL.
    static QString dnsDomain();

    void getIP(ServerItem *item);
    // With the account of the global configuration, the one the settings edit.
    void getDNS(ServerItem *item);
    // Answers through qrcode(): at once when the code is made here, else with the service's
    // answer (empty when it was too short to be a picture).
    void getQRcode(const QString &text);

    // How long any request may take, in milliseconds, for all lookups from now on.
    static int timeout() { return timeoutMs; }
    static void setTimeout(int ms) { timeoutMs = ms; }

signals:
    void dnsState(const QUrl &url, ServerItem *item);
    void publicIP(ServerItem *item);
    void qrcode(QByteArray &image);
    void noNet();

public slots:
    void reply(QNetworkReply *reply);
    void slotError(QNetworkReply::NetworkError code);

private:
    enum class Lookup { Reachability, Dns, Chart };
    struct Asker
    {
        Lookup lookup;
        QPointer<ServerItem> item;
        // Asked for an item: once the item is gone its answer is dropped.
        bool forItem;
    };
    struct QueryItem
    {
        const char *key;
        QString value;
    };

    void ask(Lookup lookup, const QString &base, const char *path, const QList<QueryItem> &query,
             ServerItem *item);
    QNetworkReply *sendRequest(const QUrl &url);
    // Counts an answer toward the traffic of the item's server.
    static void book(ServerItem *item, const QByteArray &received);
    void reachabilityAnswer(ServerItem *item, const QByteArray &body);
    void dnsAnswer(ServerItem *item, const QUrl &url, const QByteArray &body);

    QNetworkAccessManager manager;
    QHash<QNetworkReply *, Asker> askers;
    static inline int timeoutMs = DefaultTimeout;
};

#endif
