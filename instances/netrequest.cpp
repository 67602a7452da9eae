#include "instances/netrequest.h"

#include "config/configuration.h"
#include "instances/qrcode.h"
#include "instances/serveritem.h"
#include "server/webserver.h"

#include <QHostAddress>
#include <QNetworkRequest>
#include <QSettings>
#include <QTimer>

#include <cctype>

namespace {

// Where a service is found: the environment variable wins over the settings key. No service is
// asked until one is named: nothing about this machine leaves it unless its owner says where to.
struct Service
{
    const char *variable;
    const char *key;
    const char *fallback;
};

constexpr Service PortCheck{"TESSALY_PORTCHECK_URL", "lookups/portCheckUrl", ""};
constexpr Service DynamicDns{"TESSALY_DDNS_URL", "lookups/dnsUrl", ""};
constexpr Service DnsDomain{"TESSALY_DDNS_DOMAIN", "lookups/dnsDomain", ""};
constexpr Service Chart{"TESSALY_QR_URL", "lookups/qrUrl", ""};

constexpr char UserAgent[] = "Kestrune_4";

// The phrases of the services' answers and the first byte at which each counts.
constexpr char CheckMarker[] = "status";
constexpr char OpenPhrase[] = "success";
constexpr int OpenFrom = 9;
constexpr char AddressLead[] = " on ";
constexpr int AddressLeadFrom = 36;
constexpr int AddressFallbackSkip = 3;
constexpr char UpdatedPhrase[] = "has been updated";
constexpr int UpdatedFrom = 120;

QString configured(const Service &service)
{
    if (qEnvironmentVariableIsSet(service.variable))
        return qEnvironmentVariable(service.variable).trimmed();
    return QSettings().value(QLatin1String(service.key), QLatin1String(service.fallback)).toString().trimmed();
}

// The address in the open-port check's message ("... is open on 203.0.113.7."): after the first
// " on " from byte 36 on (else after the first three bytes), up to the character before the
// next double quote.
QByteArray addressText(const QByteArray &body)
{
    const qsizetype lead = body.indexOf(AddressLead, AddressLeadFrom);
    QByteArray rest = lead >= 0 ? body.mid(lead + qsizetype(sizeof AddressLead) - 1) : body.mid(AddressFallbackSkip);
    const qsizetype quote = rest.indexOf('"');
    if (quote >= 1)
        rest.truncate(quote - 1);
    return rest;
}

// `text` as an IP address in its usual spelling, or empty when it is none.
QString ipAddress(const QByteArray &text)
{
    for (const char c : text) {
        if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == '.' || c == ':'))
            return QString();
    }
    const QString spelled = QString::fromLatin1(text);
    QHostAddress ip;
    if (!ip.setAddress(spelled))
        return QString();
    // IPv4 only in dotted decimal with four parts: the parser would also take "1.2.3" and hex.
    if (ip.protocol() == QAbstractSocket::IPv4Protocol && ip.toString() != spelled)
        return QString();
    return ip.toString();
}

} // namespace

NetRequest::NetRequest(QObject *parent)
    : QObject(parent)
    , manager(this)
{
    // A redirect is an answer of its own: nothing is sent anywhere the configuration did not name.
    manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    connect(&manager, &QNetworkAccessManager::finished, this, &NetRequest::reply);
}

NetRequest::~NetRequest()
{
    // Requests still in flight end with the manager; nothing of them reaches this object then.
    disconnect(&manager, nullptr, this, nullptr);
    for (QNetworkReply *r : askers.keys())
        r->disconnect(this);
}

QString NetRequest::portCheckUrl()
{
    return configured(PortCheck);
}

QString NetRequest::dnsUrl()
{
    return configured(DynamicDns);
}

QString NetRequest::qrUrl()
{
    return configured(Chart);
}

QString NetRequest::dnsDomain()
{
    return configured(DnsDomain);
}

void NetRequest::getIP(ServerItem *item)
{
    if (!item)
        return;
    ask(Lookup::Reachability, portCheckUrl(), "/tools/open-ports/check.php",
        {{"portNumber", QString::number(item->webServer->port)}}, item);
}

void NetRequest::getDNS(ServerItem *item)
{
    if (!item)
        return;
    const Configuration *account = Configuration::getGlobalConfig();
    ask(Lookup::Dns, dnsUrl(), "/cgi-bin/dynip.cgi",
        {{"username", account->dnsUser}, {"password", account->dnsPassword}}, item);
}

void NetRequest::getQRcode(const QString &text)
{
    const QString base = qrUrl();
    if (base.isEmpty()) {
        QByteArray image = QrCode(text.toUtf8()).png();
        emit qrcode(image);
        return;
    }
    ask(Lookup::Chart, base, "/chart",
        {{"cht", QStringLiteral("qr")}, {"chs", QStringLiteral("350x350")}, {"chld", QStringLiteral("L")},
         {"choe", QStringLiteral("UTF-8")}, {"chl", text}},
        nullptr);
}

void NetRequest::ask(Lookup lookup, const QString &base, const char *path, const QList<QueryItem> &query,
                     ServerItem *item)
{
    if (base.isEmpty())
        return;
    QUrl url(base.endsWith(u'/') ? base.chopped(1) : base);
    url.setPath(url.path() + QLatin1String(path));
    // Every value percent-encoded whole: "&", "=", "+" and "%" in a password arrive as typed.
    QByteArray encoded;
    for (const QueryItem &q : query) {
        if (!encoded.isEmpty())
            encoded += '&';
        encoded += q.key;
        encoded += '=';
        encoded += QUrl::toPercentEncoding(q.value);
    }
    url.setQuery(QString::fromLatin1(encoded), QUrl::StrictMode);
    QNetworkReply *r = sendRequest(url);
    askers.insert(r, Asker{lookup, item, item != nullptr});
}

QNetworkReply *NetRequest::sendRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", UserAgent);
    QNetworkReply *r = manager.get(request);
    connect(r, &QNetworkReply::errorOccurred, this, &NetRequest::slotError);
    // A service that never answers: the request ends as failed.
    auto *timer = new QTimer(r);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, r, &QNetworkReply::abort);
    timer->start(timeoutMs);
    return r;
}

void NetRequest::slotError(QNetworkReply::NetworkError)
{
    auto *r = qobject_cast<QNetworkReply *>(sender());
    const auto asker = askers.constFind(r);
    if (asker != askers.cend() && asker->forItem && !asker->item)
        return;
    emit noNet();
}

void NetRequest::reply(QNetworkReply *r)
{
    if (!r) {
        emit noNet();
        return;
    }
    r->deleteLater();
    const auto found = askers.find(r);
    if (found == askers.end())
        return;
    const Asker asker = *found;
    askers.erase(found);
    if (asker.forItem && !asker.item)
        return;
    // Only a 2xx answer is the service's: an error page or a redirect (never followed) is a failed
    // request, whatever it holds. Errors were reported by slotError already.
    const int status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool answered = r->error() == QNetworkReply::NoError && status >= 200 && status < 300;
    if (!answered && r->error() == QNetworkReply::NoError)
        emit noNet();
    // An aborted request (it took too long) has nothing to read.
    const QByteArray received = r->isOpen() ? r->readAll() : QByteArray();
    const QByteArray body = answered ? received : QByteArray();
    switch (asker.lookup) {
    case Lookup::Reachability:
        reachabilityAnswer(asker.item, body);
        break;
    case Lookup::Dns:
        book(asker.item, received);
        dnsAnswer(asker.item, r->request().url(), body);
        break;
    case Lookup::Chart: {
        // Counts toward no server's traffic: no server asked.
        QByteArray image = body.size() >= MinServiceImage ? body : QByteArray();
        emit qrcode(image);
        break;
    }
    }
}

void NetRequest::book(ServerItem *item, const QByteArray &received)
{
    item->webServer->traffic.receivedBytes += received.size();
    item->update();
}

void NetRequest::reachabilityAnswer(ServerItem *item, const QByteArray &body)
{
    // Not the service's answer.
    if (!body.contains(CheckMarker))
        return;
    book(item, body);
    // Only an IP address is taken; anything else in its place is a failed lookup.
    const QString address = ipAddress(addressText(body));
    item->publicAddress = address;
    item->publicReachable = !address.isEmpty() && body.indexOf(OpenPhrase, OpenFrom) >= 0;
    item->updatePublicNames();
    emit publicIP(item);
}

void NetRequest::dnsAnswer(ServerItem *item, const QUrl &url, const QByteArray &body)
{
    item->dnsUpdated = body.indexOf(UpdatedPhrase, UpdatedFrom) >= 0;
    item->updatePublicNames();
    // On failure the request itself is handed on, so that the user sees the provider's answer.
    emit dnsState(item->dnsUpdated ? QUrl() : url, item);
}
