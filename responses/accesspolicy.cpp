#include "responses/accesspolicy.h"

#include "config/configuration.h"
#include "responses/messagepages.h"
#include "server/clientdata.h"
#include "server/http_request.h"
#include "server/methodtable.h"
#include "server/servercontext.h"
#include "server/statusline.h"
#include "web/sharedir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>
#include <QSysInfo>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <iterator>
#include <sys/stat.h>

namespace {

using StatusLine::Forbidden;

// ---------------------------------------------------------------- the write switches

// When a request needs one of the write rights.
enum class Needs {
    Never,
    Always,
    IfTargetMissing, // it would create what it names (a LOCK on a name not taken)
};

// What one kind of request does to the names of the share. Uploads off refuses what creates a
// name, deleting off what removes or replaces one; the answer is the row's own where the
// request always had one, "403 Forbidden" otherwise. Replacing a file (by PUT or COPY) is
// decided where the response finds the name taken (mayReplace()): at that moment, and a folder's
// copy meets its names one by one.
struct Rule
{
    const char *method;
    const char *action; // for POST: what the form asks ("upload", "a=cfd", "a=del")
    Needs creates;
    const char *createRefusal;
    Needs removes;
    const char *removeRefusal;
    // Instead of removeRefusal when the destination's name is taken: the answer the request
    // always had there.
    const char *occupiedRefusal;
};

const Rule Rules[] = {
    {"PUT", nullptr, Needs::Always, StatusLine::ReadOnlyUpload, Needs::Never, nullptr, nullptr},
    {"DELETE", nullptr, Needs::Never, nullptr, Needs::Always, StatusLine::ReadOnlyDelete, nullptr},
    {"MKCOL", nullptr, Needs::Always, Forbidden, Needs::Never, nullptr, nullptr},
    {"COPY", nullptr, Needs::Always, Forbidden, Needs::Never, nullptr, nullptr},
    {"MOVE", nullptr, Needs::Always, Forbidden, Needs::Always, Forbidden, StatusLine::NameExists},
    {"LOCK", nullptr, Needs::IfTargetMissing, Forbidden, Needs::Never, nullptr, nullptr},
    {"PROPPATCH", nullptr, Needs::Always, Forbidden, Needs::Never, nullptr, nullptr},
    {"POST", "upload", Needs::Always, Forbidden, Needs::Never, nullptr, nullptr},
    {"POST", "a=cfd", Needs::Always, Forbidden, Needs::Never, nullptr, nullptr},
    {"POST", "a=del", Needs::Never, nullptr, Needs::Always, Forbidden, nullptr},
};

// The methods that change something: a browser may send them only from the share's own pages.
const char *const StateChanging[] = {"POST", "PUT", "DELETE", "MKCOL", "COPY", "MOVE", "PROPPATCH", "LOCK"};

const char *methodName(int type)
{
    const MethodTable::Method *method = MethodTable::byType(type);
    return method ? method->name : "";
}

// What a form POST asks, as the folder page (or the single file's answer) takes it.
const char *postAction(const HTTP_Request &request)
{
    const QString a = request.param("a");
    if (request.singleFile)
        return a == QLatin1String("up") ? "upload" : "";
    // The folder's forms post to the page's own address, whose query may hold a page link's "a".
    if (a.isEmpty() || request.contentType.startsWith("multipart/form-data"))
        return "upload";
    if (a == QLatin1String("cfd"))
        return "a=cfd";
    if (a == QLatin1String("del"))
        return "a=del";
    return "";
}

const Rule *ruleFor(const HTTP_Request &request)
{
    const QByteArrayView method(methodName(request.type));
    const char *action = method == "POST" ? postAction(request) : nullptr;
    for (const Rule &rule : Rules) {
        if (method == rule.method && (!action || qstrcmp(action, rule.action) == 0))
            return &rule;
    }
    return nullptr;
}

// Whether anything, a dangling link included, has the name of the share path `path`. Looked
// up beneath the share, like every name of a request; the shared folder itself is taken, and so
// is a name that cannot be reached (the response refuses it).
bool taken(const ServerContext &context, const QString &path)
{
    const ShareRoot::Place place = context.share().place(path);
    if (!place.reached())
        return place.refusal != ShareRoot::Missing;
    struct stat status;
    return ::fstatat(place.folder.get(), place.name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

bool applies(Needs needs, const std::function<bool()> &targetExists)
{
    switch (needs) {
    case Needs::Never: return false;
    case Needs::Always: return true;
    case Needs::IfTargetMissing: return !targetExists();
    }
    return true;
}

// ---------------------------------------------------------------- names and origins

// A scheme, a host (small letters, no brackets around an IPv6 address, no final dot) and a port.
struct Authority
{
    QString scheme;
    QString host;
    int port = -1;
    bool valid = false;

    static bool sameHost(const QString &a, const QString &b)
    {
        if (a == b)
            return true;
        const QHostAddress x(a);
        return !x.isNull() && x.isEqual(QHostAddress(b), QHostAddress::TolerantConversion);
    }
};

int defaultPort(const QString &scheme)
{
    return scheme == QLatin1String("https") ? 443 : 80;
}

// The authority of an absolute URL ("http://host:port/..." or an Origin, "http://host:port").
Authority authorityOfUrl(QByteArrayView text)
{
    Authority a;
    // Tolerant: a blank or a UTF-8 byte that a client left unencoded in a path is taken as meant.
    const QUrl url = QUrl::fromEncoded(text.toByteArray(), QUrl::TolerantMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty())
        return a;
    a.scheme = url.scheme().toLower();
    if (a.scheme != QLatin1String("http") && a.scheme != QLatin1String("https"))
        return a;
    a.host = url.host(QUrl::FullyEncoded);
    if (a.host.endsWith(u'.'))
        a.host.chop(1);
    a.port = url.port(defaultPort(a.scheme));
    a.valid = !a.host.isEmpty();
    return a;
}

// The authority a Host header names on a connection of `scheme`.
Authority authorityOfHost(QByteArrayView host, const QString &scheme)
{
    const QByteArray prefix = scheme.toLatin1() + "://";
    Authority a = authorityOfUrl(prefix + host.trimmed().toByteArray() + '/');
    // Nothing but a host and a port.
    if (a.valid && host.trimmed().contains('/'))
        a.valid = false;
    return a;
}

// The connection's own origin: its scheme and the authority its Host header names (the
// connection's local address and port without one).
Authority ownAuthority(const HTTP_Request &request)
{
    const Socket &socket = request.socket;
    const QString scheme = socket.isEncrypted() ? QStringLiteral("https") : QStringLiteral("http");
    if (!request.host.isEmpty())
        return authorityOfHost(request.host, scheme);
    Authority a;
    a.scheme = scheme;
    a.host = QString::fromLatin1(Socket::hostText(socket.localAddress()));
    a.port = socket.localPort();
    a.valid = true;
    return a;
}

// Whether `digits` is the decimal number `port`.
bool portIs(QByteArrayView digits, quint16 port)
{
    if (digits.isEmpty() || digits.size() > 5)
        return false;
    int n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    return n == port;
}

// The machine's addresses and name, read again when a name is not found among them and they
// are older than this.
constexpr qint64 MachineNamesMaxAgeMs = 2000;

struct MachineNames
{
    QList<QHostAddress> addresses;
    QStringList names;
    QElapsedTimer age;

    void refresh()
    {
        addresses.clear();
        for (QHostAddress address : QNetworkInterface::allAddresses()) {
            address.setScopeId(QString());
            addresses.append(address);
        }
        names = QStringList{QStringLiteral("localhost")};
        const QString machine = QSysInfo::machineHostName().toLower();
        if (!machine.isEmpty() && machine != QLatin1String("localhost"))
            names << machine << machine + QStringLiteral(".local");
        age.start();
    }

    bool holds(const QString &host, const QHostAddress &address) const
    {
        if (address.isNull())
            return names.contains(host);
        for (const QHostAddress &own : addresses) {
            if (own.isEqual(address, QHostAddress::TolerantConversion))
                return true;
        }
        return false;
    }
};

MachineNames &machineNames()
{
    static MachineNames names;
    return names;
}

// Whether `host` stands in `list`: names or addresses as the owner wrote them, perhaps with a
// port (which is not compared) or an IPv6 address in brackets.
bool listed(const QString &host, const QHostAddress &address, const QStringList &list)
{
    for (const QString &entry : list) {
        const QString text = entry.trimmed();
        QHostAddress listedAddress(text);
        if (listedAddress.isNull()) {
            const Authority a = authorityOfHost(text.toUtf8(), QStringLiteral("http"));
            if (!a.valid)
                continue;
            if (a.host == host)
                return true;
            listedAddress = QHostAddress(a.host);
        }
        if (!address.isNull() && address.isEqual(listedAddress, QHostAddress::TolerantConversion))
            return true;
    }
    return false;
}

} // namespace

namespace AccessPolicy {

bool isOwnHost(QByteArrayView host, const ServerContext &context, const QHostAddress &local)
{
    const Authority a = authorityOfHost(host, QStringLiteral("http"));
    if (!a.valid)
        return false;
    QHostAddress address(a.host);
    address.setScopeId(QString());
    if (!address.isNull() && !local.isNull() && address.isEqual(local, QHostAddress::TolerantConversion))
        return true;
    if (listed(a.host, address, context.publicNames)
        || (context.config && listed(a.host, address, context.config->allowedHosts)))
        return true;
    MachineNames &machine = machineNames();
    if (!machine.age.isValid())
        machine.refresh();
    if (machine.holds(a.host, address))
        return true;
    // An address or a name the machine got since it last looked.
    if (machine.age.elapsed() < MachineNamesMaxAgeMs)
        return false;
    machine.refresh();
    return machine.holds(a.host, address);
}

// Whether `named` (of an Origin or a Destination) is this server as the request reached it: its
// scheme, the port of its Host header or of the connection, and the host of its Host header or
// another name of this server.
bool isHere(const Authority &named, const HTTP_Request &request, const ServerContext &context)
{
    const Authority own = ownAuthority(request);
    const Socket &socket = request.socket;
    if (!named.valid || named.scheme != own.scheme || (named.port != own.port && named.port != socket.localPort()))
        return false;
    if (own.valid && Authority::sameHost(named.host, own.host))
        return true;
    const QString host = named.host.contains(u':') ? u'[' + named.host + u']' : named.host;
    return isOwnHost(host.toUtf8(), context, socket.localAddress());
}

const char *admission(const HTTP_Request &request, const ServerContext &context, QByteArrayView localHost)
{
    const Socket &socket = request.socket;
    // A page of another site whose name was made to point at this machine would read and
    // write an open share with the visitor's browser: only this server's names are answered.
    // A share behind a password is safe from it (the other site has no login of its own), and a
    // request without Host (HTTP/1.0) names nothing.
    const Configuration *profile = context.config;
    if (profile && profile->authMode == AuthMode::None && !request.host.isEmpty()) {
        // The address the connection came in on, as a client that typed it writes it.
        const QByteArrayView host(request.host);
        const bool plainlyOwn = !localHost.isEmpty()
            && (host == localHost
                || (host.startsWith(localHost) && host.size() > localHost.size() && host.at(localHost.size()) == ':'
                    && portIs(host.sliced(localHost.size() + 1), socket.localPort())));
        if (!plainlyOwn && !isOwnHost(host, context, socket.localAddress()))
            return StatusLine::MisdirectedRequest;
    }
    const char *method = methodName(request.type);
    if (std::none_of(std::begin(StateChanging), std::end(StateChanging),
                     [method](const char *name) { return qstrcmp(name, method) == 0; }))
        return nullptr;
    // Browsers say where a request comes from; WebDAV clients and curl send neither header.
    if (request.fetchSite.compare("cross-site", Qt::CaseInsensitive) == 0)
        return Forbidden;
    if (!request.origin.isEmpty() && !isHere(authorityOfUrl(request.origin), request, context))
        return Forbidden;
    return nullptr;
}

const char *refusal(const HTTP_Request &request, const ServerContext &context)
{
    QString destination;
    if (request.type == HTTP_Request::Copy || request.type == HTTP_Request::Move) {
        // Of a Destination only the path is used: one naming another server (another host, port
        // or scheme) would copy or move within this share instead (RFC 4918 9.8.4, 9.9.4). Another
        // name of this server is this server.
        const QByteArray value = request.destination.trimmed();
        const QUrl url = QUrl::fromEncoded(value, QUrl::TolerantMode);
        if (url.isValid() && (!url.host().isEmpty() || !url.scheme().isEmpty())
            && !isHere(authorityOfUrl(value), request, context))
            return StatusLine::BadGateway;
        if (url.isValid() && url.path().startsWith(u'/'))
            destination = url.path();
    }

    const Configuration &profile = *context.config;

    const Rule *rule = ruleFor(request);
    if (!rule)
        return nullptr;
    const auto targetExists = [&request, &context] { return taken(context, request.path); };
    if (!profile.isUpload() && applies(rule->creates, targetExists))
        return rule->createRefusal;
    if (!profile.isDelete() && applies(rule->removes, targetExists)) {
        if (rule->occupiedRefusal && !destination.isEmpty() && taken(context, destination))
            return rule->occupiedRefusal;
        return rule->removeRefusal;
    }
    return nullptr;
}

bool mayReplace(const Configuration &profile)
{
    return profile.isDelete();
}

bool isAttempt(const HTTP_Request &request, const Configuration &profile)
{
    switch (profile.authMode) {
    case AuthMode::None:
        return false;
    case AuthMode::Password:
        return !request.credentials.isEmpty() || request.param("a") == QLatin1String("log");
    default:
        return !request.credentials.isEmpty();
    }
}

bool accept(HTTP_Request &request, const Configuration &profile)
{
    const Configuration *c = &profile;
    switch (c->authMode) {
    case AuthMode::None:
        return true;
    case AuthMode::Password: {
        // A WebDAV client cannot fill in the login page: the password as Basic credentials, under
        // any user name, lets it in.
        if (!request.credentials.isEmpty()) {
            const qsizetype colon = request.credentials.indexOf(u':');
            return colon >= 0 && QStringView(request.credentials).sliced(colon + 1) == c->password;
        }
        if (request.param("a") == QLatin1String("log")) {
            const QString given = request.param("password");
            // A wrong password logs the session out; the right one logs in under a fresh id.
            if (given == c->password)
                request.logIn(given);
            else
                request.getClientData()->password = given;
        } else if (!request.singleFile && request.path == QLatin1String(ShareDir::ClientArchivePath)
                   && (request.type == HTTP_Request::Get || request.type == HTTP_Request::Head)) {
            // The applet's own archive, nothing else, is served before its page logs it in.
            return true;
        }
        return request.getClientData()->password == c->password;
    }
    case AuthMode::Basic:
        return !request.credentials.isEmpty() && c->users.contains(request.credentials);
    default:
        return false;
    }
}

void refuse(HTTP_Request &request, const Configuration &profile, const Responder::ResponseFor &responseFor)
{
    Socket &socket = request.socket;
    socket.setKeepAlive(false);
    const Configuration *c = &profile;
    // A browser asking for a page gets the login page; a client that sent credentials, or asks
    // by another method (a WebDAV client), the challenge it can answer.
    const bool loginPage = c->authMode == AuthMode::Password && request.credentials.isEmpty()
                           && (request.type == HTTP_Request::Get || request.type == HTTP_Request::Post);
    if (!loginPage) {
        const QByteArray body = "<h2>" + QCoreApplication::translate("ServerThread", "Wrong password").toUtf8() + "</h2>";
        Response *response = responseFor(ResponseKind::Plain);
        response->contentType = "text/xml; charset=\"utf-8\"";
        const QByteArray extra = "WWW-Authenticate: Basic realm=\"Private Area\"\r\n";
        response->sendHeader(StatusLine::AuthorizationRequired, body.size(), &extra);
        // The answer to HEAD has the length of the body but not the body.
        if (request.type == HTTP_Request::Head)
            socket.end();
        else
            socket.write(body, true);
        return;
    }
    // The range asked for belongs to the refused file, not to the login page.
    request.rangeStart = request.rangeEnd = 0;
    request.rangeSuffix = false;
    // The same answer for every path, so that it tells nobody which names exist; not "200 OK",
    // so that a download tool does not store the login page under the name it asked for.
    MessagePages::sendLogin(responseFor(ResponseKind::File), StatusLine::Forbidden);
}

} // namespace AccessPolicy
