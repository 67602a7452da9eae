#include "app/headless.h"

#include "config/configuration.h"
#include "instances/qrcode.h"
#include "server/localaddresses.h"
#include "server/serverurl.h"
#include "server/webserver.h"
#include "web/html_element_manager.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAddressEntry>
#include <QSocketNotifier>
#include <QTextStream>

#include <algorithm>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

struct Option
{
    const char *name;
    const char *value; // null for a switch
    const char *help;
};

const Option Options[] = {
    {"headless", nullptr, "Run the server without a window."},
    {"share", "PATH", "Folder or file to share (default: the home folder)."},
    {"address", "ADDR", "Address to listen on (default: every address of this machine)."},
    {"port", "N", "Port to listen on (default: the profile's port; 0 picks a free one)."},
    {"profile", "NAME", "Saved profile to use instead of the global configuration."},
    {"auth", "MODE", "Access: none, password or basic."},
    {"password", "TEXT", "The password of the login page (--auth password)."},
    {"user", "NAME:PASSWORD", "An account for --auth basic; may be repeated."},
    {"https", nullptr, "Speak HTTPS with the profile's key pair."},
    {"key-file", "PATH", "PEM file holding the certificate and the private key."},
    {"key-password", "TEXT", "Pass phrase of the private key."},
    {"no-upload", nullptr, "Refuse uploads and new folders."},
    {"no-delete", nullptr, "Refuse deleting."},
    {"no-images", nullptr, "Show no thumbnails on folder pages."},
    {"no-folders", nullptr, "List no sub-folders on folder pages."},
    {"allow-host", "NAME", "Another host name an open share answers to; may be repeated."},
    {"pages", "STYLE", "Folder pages: classic, or responsive (made for phones too)."},
    {"limit-kb", "N", "Stop serving after N KB of traffic (0: no limit)."},
    {"session-lifetime", "S", "Seconds a browser session lasts after its last connection."},
    {"max-connections", "N", "Idle connections kept when descriptors run out."},
    {"qr", nullptr, "Print the QR code of each URL, for a phone's camera."},
};

void addOptions(QCommandLineParser &parser)
{
    for (const Option &o : Options) {
        if (o.value)
            parser.addOption(QCommandLineOption(QString::fromLatin1(o.name), QString::fromLatin1(o.help),
                                                QString::fromLatin1(o.value)));
        else
            parser.addOption(QCommandLineOption(QString::fromLatin1(o.name), QString::fromLatin1(o.help)));
    }
}

bool toNumber(const QString &text, qint32 *into, qint32 min, qint32 max)
{
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (!ok || n < min || n > max)
        return false;
    *into = qint32(n);
    return true;
}

} // namespace

Headless::Headless() = default;

Headless::~Headless()
{
    qDeleteAll(servers);
    servers.clear();
    if (thumbnailWorker) {
        thumbnailWorker->clear();
        if (HTML_Element_Manager::instance == thumbnailWorker)
            HTML_Element_Manager::instance = nullptr;
        delete thumbnailWorker;
        thumbnailWorker = nullptr;
    }
    qDeleteAll(Configuration::confList);
    Configuration::confList.clear();
}

QString Headless::usage()
{
    return QStringLiteral(
        "Usage:\n"
        "  tessaly                  the desktop application\n"
        "  tessaly root             the desktop application in root mode\n"
        "  tessaly --headless [--share PATH] [--address ADDR] [--port N] [--profile NAME]\n"
        "          [--auth none|password|basic] [--password TEXT] [--user NAME:PASSWORD]...\n"
        "          [--https] [--key-file PATH] [--key-password TEXT]\n"
        "          [--no-upload] [--no-delete] [--no-images] [--no-folders] [--allow-host NAME]...\n"
        "          [--pages classic|responsive] [--limit-kb N] [--session-lifetime S]\n"
        "          [--max-connections N] [--qr]\n"
        "  tessaly --help\n"
        "\n"
        "The headless server prints one line per URL it serves (with --qr followed by its\n"
        "QR code and an empty line) and runs until it is interrupted (SIGINT or SIGTERM).\n"
        "Profiles are read from ~/.kestrune/ and never rewritten: the options change them\n"
        "in memory only.\n");
}

int Headless::fail(const QString &text, int code)
{
    err() << "tessaly: " << text << Qt::endl;
    return code;
}

int Headless::start(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    addOptions(parser);
    if (!parser.parse(arguments))
        return fail(parser.errorText() + QLatin1String("\n") + usage(), 2);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()), 2);

    auto *global = new Configuration(QStringLiteral("Global.conf"));
    if (global->profileName.isEmpty())
        global->profileName = QStringLiteral("Default");
    Configuration::confList.append(global);
    conf = global;
    if (parser.isSet(QStringLiteral("profile"))) {
        const QString name = parser.value(QStringLiteral("profile"));
        conf = new Configuration(name + QLatin1String(".cnf"));
        Configuration::confList.append(conf);
        if (!conf->load())
            return fail(QStringLiteral("no profile named %1 in %2").arg(name, Configuration::ConfigDir), 2);
    }

    // The options change the profile in memory only.
    const auto value = [&parser](const char *name) { return parser.value(QString::fromLatin1(name)); };
    const auto isSet = [&parser](const char *name) { return parser.isSet(QString::fromLatin1(name)); };
    qint32 port = conf->port;
    if (isSet("port") && !toNumber(value("port"), &port, 0, 65535))
        return fail(QStringLiteral("--port takes a number from 0 to 65535"), 2);
    if (isSet("auth")) {
        const QStringList modes = {QStringLiteral("none"), QStringLiteral("password"), QStringLiteral("basic")};
        const int mode = int(modes.indexOf(value("auth")));
        if (mode < 0)
            return fail(QStringLiteral("--auth takes none, password or basic"), 2);
        conf->authMode = AuthMode(mode);
    }
    if (isSet("password"))
        conf->password = value("password");
    if (isSet("user")) {
        const QStringList users = parser.values(QStringLiteral("user"));
        for (const QString &user : users) {
            if (user.indexOf(u':') < 1)
                return fail(QStringLiteral("--user takes NAME:PASSWORD"), 2);
        }
        conf->users = users;
    }
    if (isSet("https"))
        conf->sslMode = CheckState::On;
    if (isSet("key-file"))
        conf->keyFile = QFileInfo(value("key-file")).absoluteFilePath();
    if (isSet("key-password"))
        conf->keyPassword = value("key-password");
    if (isSet("no-upload"))
        conf->enableUpload = CheckState::Off;
    if (isSet("no-delete"))
        conf->enableDelete = CheckState::Off;
    if (isSet("no-images"))
        conf->showImages = CheckState::Off;
    if (isSet("no-folders"))
        conf->showFolders = CheckState::Off;
    // Beside the profile's own.
    if (isSet("allow-host"))
        conf->allowedHosts += parser.values(QStringLiteral("allow-host"));
    if (isSet("pages") && !Configuration::pagesFromName(value("pages"), &conf->pages))
        return fail(QStringLiteral("--pages takes classic or responsive"), 2);
    if (isSet("limit-kb") && !toNumber(value("limit-kb"), &conf->dataLimitKB, 0, 2147483647))
        return fail(QStringLiteral("--limit-kb takes a number"), 2);
    if (isSet("session-lifetime") && !toNumber(value("session-lifetime"), &conf->sessionLifetime, 0, 2147483647))
        return fail(QStringLiteral("--session-lifetime takes a number of seconds"), 2);
    if (isSet("max-connections") && !toNumber(value("max-connections"), &conf->maxConnections, 1, 2147483647))
        return fail(QStringLiteral("--max-connections takes a number"), 2);

    switch (conf->accessFlaw()) {
    case Configuration::AccessFlaw::None:
        break;
    case Configuration::AccessFlaw::EmptyPassword:
        return fail(QStringLiteral("--auth password needs a password (--password TEXT): an empty one lets everyone in"), 2);
    case Configuration::AccessFlaw::NoUser:
        return fail(QStringLiteral("--auth basic needs at least one --user NAME:PASSWORD: without one nobody gets in"), 2);
    }

    const QFileInfo shared(isSet("share") ? value("share") : QDir::homePath());
    if (!shared.exists())
        return fail(QStringLiteral("%1 does not exist").arg(shared.filePath()), 2);

    thumbnailWorker = new HTML_Element_Manager();
    HTML_Element_Manager::instance = thumbnailWorker;

    QList<QNetworkAddressEntry> entries;
    if (isSet("address")) {
        QNetworkAddressEntry entry;
        const QHostAddress ip(value("address"));
        if (ip.isNull())
            return fail(QStringLiteral("%1 is not an IP address").arg(value("address")), 2);
        entry.setIp(ip);
        entries.append(entry);
    } else {
        entries = LocalAddresses::list(LocalAddresses::Scope::Everything);
    }

    for (const QNetworkAddressEntry &entry : std::as_const(entries)) {
        auto *server = new WebServer(new QNetworkAddressEntry(entry), conf);
        servers.append(server);
        ListenerSettings settings = server->settings();
        settings.share = QFileInfo(shared.absoluteFilePath());
        settings.singleFile = !shared.isDir();
        settings.port = quint16(port);
        server->apply(settings);
        connect(server, &WebServer::error, this, [](const QString &title, const QString &msg) {
            err() << title << ": " << msg << Qt::endl;
        });
        connect(server, qOverload<WebServer *>(&WebServer::dataLimit), this, &Headless::dataLimit);
        server->configurationChanged(conf);
        if (!server->start())
            return fail(QStringLiteral("cannot listen on %1 port %2: %3")
                            .arg(entry.ip().toString()).arg(port).arg(server->errorString()), 1);
        const bool https = server->key != nullptr;
        const QString url = serverUrl(entry.ip().toString(), server->serverPort(), https, UrlPort::Always) + u'/';
        out() << url << Qt::endl;
        if (isSet("qr"))
            out() << QrCode(url.toUtf8()).terminalText(::isatty(STDOUT_FILENO)) << Qt::endl;
    }
    if (servers.isEmpty())
        return fail(QStringLiteral("this machine has no address to listen on"), 1);
    warnIfOpenToChanges(shared, entries);

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        signalNotifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
        connect(signalNotifier, &QSocketNotifier::activated, this, &Headless::signalled);
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
    }
    ::signal(SIGPIPE, SIG_IGN);
    return -1;
}

void Headless::warnIfOpenToChanges(const QFileInfo &shared, const QList<QNetworkAddressEntry> &entries) const
{
    // A single shared file takes no uploads and cannot be deleted.
    if (conf->authMode != AuthMode::None || !shared.isDir() || (!conf->isUpload() && !conf->isDelete()))
        return;
    const bool reachable = std::any_of(entries.cbegin(), entries.cend(), [](const QNetworkAddressEntry &entry) {
        return !entry.ip().isLoopback();
    });
    if (!reachable)
        return;
    const QString changes = conf->isUpload() && conf->isDelete() ? QStringLiteral("upload to and delete in")
                            : conf->isUpload()                   ? QStringLiteral("upload to")
                                                                 : QStringLiteral("delete in");
    err() << "tessaly: warning: without authentication anyone who reaches this machine can " << changes
          << ' ' << QDir::toNativeSeparators(shared.absoluteFilePath())
          << " (--auth, --no-upload and --no-delete prevent it)" << Qt::endl;
}

void Headless::signalled()
{
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
    QCoreApplication::quit();
}

void Headless::dataLimit(WebServer *server)
{
    server->stopAll();
    server->stop();
    err() << "Network traffic limit\n"
          << "Max. network traffic limit: " << server->traffic.limit / 1000 << " KB reached\n"
          << "Server stopped on " << server->address->ip().toString() << ':' << server->port << ".\n"
          << "Sent bytes: " << server->traffic.sentBytes / 1000 << " KB\n"
          << "Received bytes: " << server->traffic.receivedBytes / 1000 << " KB" << Qt::endl;
}
