#include "fuzzsupport.h"

#include "server/serverthread.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAddressEntry>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Fuzz {

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        fail("cannot write", path.toUtf8());
}

// A socket listening on loopback, from which each exchange takes one connection.
int listener()
{
    static int fd = -1;
    if (fd >= 0)
        return fd;
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::listen(fd, 16) != 0)
        fail("cannot listen on loopback");
    return fd;
}

} // namespace

void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    // Quiet: the server's own warnings are not findings.
    qputenv("QT_LOGGING_RULES", "*.debug=false;*.warning=false");
    ::signal(SIGPIPE, SIG_IGN);
    new QCoreApplication(argc, argv);
}

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void fail(const char *what, const QByteArray &detail)
{
    std::fprintf(stderr, "FUZZ FAILURE: %s\n%s\n", what, detail.left(2000).constData());
    std::fflush(stderr);
    std::abort();
}

// ---------------------------------------------------------------- the tree

const QByteArray Tree::Secret = "canary 7f3a: nothing outside the share may be sent";

Tree &Tree::instance()
{
    static Tree tree;
    return tree;
}

Tree::Tree()
{
    if (!dir.isValid())
        fail("no temporary folder");
    writeFile(dir.path() + QStringLiteral("/outside/secret.txt"), Secret);
    writeFile(dir.path() + QStringLiteral("/outside/folder/inner.txt"), Secret);
    writeFile(dir.path() + QStringLiteral("/img/n900.ico"), "icon");
    writeFile(dir.path() + QStringLiteral("/img/sand-light.jpg"), "background");
    writeFile(dir.path() + QStringLiteral("/lang/C/login.html"),
              "<html><form method=\"POST\"><input type=\"hidden\" name=\"a\" value=\"log\">"
              "<input type=\"password\" name=\"password\"></form></html>");
    Configuration::IconDir = (dir.path() + QStringLiteral("/img/")).toLatin1();
    Configuration::LangPath = dir.path() + QStringLiteral("/lang/C/");
    Configuration::ConfigDir = dir.path() + QStringLiteral("/config/");
    reset();
    outsideBefore = describeOutside();
}

QString Tree::share(const QString &relative) const
{
    return dir.path() + QStringLiteral("/share") + (relative.isEmpty() ? QString() : u'/' + relative);
}

void Tree::reset()
{
    QDir(share()).removeRecursively();
    writeFile(share(QStringLiteral("a.txt")), "contents of a");
    writeFile(share(QStringLiteral("sub/b.txt")), "contents of b");
    writeFile(share(QStringLiteral("sub/deeper/c.txt")), QByteArray(5000, 'c'));
    QDir().mkpath(share(QStringLiteral("uploads")));
    QFile::link(QStringLiteral("../outside"), share(QStringLiteral("out")));
    QFile::link(QStringLiteral("../outside/secret.txt"), share(QStringLiteral("secretlink")));
    // Below the top too, where folder copies, deletes and listings walk.
    QFile::link(QStringLiteral("../../outside/secret.txt"), share(QStringLiteral("sub/secretlink")));
}

QByteArray Tree::describeOutside() const
{
    // Everything next to the share: names, sizes, the first 4 KiB of the files.
    QDirIterator it(dir.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    QStringList lines;
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.startsWith(share() + u'/') || path == share())
            continue;
        const QFileInfo info(path);
        QFile file(path);
        lines.append(path + u' ' + QString::number(info.size()) + u' '
                     + QString::fromLatin1(info.isFile() && file.open(QIODevice::ReadOnly) ? file.read(4096).toHex() : QByteArray()));
    }
    lines.sort();
    return lines.join(u'\n').toUtf8();
}

void Tree::checkCanary(const QByteArray &output) const
{
    if (output.contains(Secret))
        fail("the canary's contents were sent", output);
    const QByteArray now = describeOutside();
    if (now != outsideBefore)
        fail("something outside the share changed", now);
}

// ---------------------------------------------------------------- the server

Server::Server()
    : WebServer(new QNetworkAddressEntry, nullptr)
{
    Tree &tree = Tree::instance();
    profile.authMode = AuthMode::None;
    profile.enableUpload = CheckState::On;
    profile.enableDelete = CheckState::On;
    profile.showFolders = CheckState::On;
    profile.showImages = CheckState::Off;
    profile.sslMode = CheckState::Off;
    profile.password = QStringLiteral("pw");
    profile.users = QStringList{QStringLiteral("user:pass")};
    useProfile(&profile);
    root = QFileInfo(tree.share());
    configurationChanged(&profile);
}

void checkDescriptors(const QByteArray &input)
{
    // Every run ends where it started: a descriptor more after each of many runs is a leak that
    // would end in a server refusing every connection.
    static qsizetype first = -1;
    const qsizetype open = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
    if (first < 0)
        first = open;
    else if (open > first + 16)
        fail("descriptors leak", QByteArray::number(open) + " open, " + QByteArray::number(first) + " after the first run\n" + input.left(300));
}

namespace {

// A connect the fuzzer's timer signal interrupts goes on in the kernel (a port pair still
// closing on the server's side can hold it up for a retransmission): waited for, not failed.
bool connectTo(int client, const sockaddr_in &address)
{
    if (::connect(client, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return true;
    if (errno != EINTR)
        return false;
    pollfd ready = {client, POLLOUT, 0};
    int n;
    do
        n = ::poll(&ready, 1, 10000);
    while (n < 0 && errno == EINTR);
    int error = 0;
    socklen_t size = sizeof error;
    if (n != 1 || ::getsockopt(client, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return false;
    errno = error;
    return error == 0;
}

} // namespace

QByteArray exchange(Server *server, const QByteArray &bytes, int piece, int timeoutMs)
{
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    socklen_t length = sizeof address;
    if (client < 0 || ::getsockname(listener(), reinterpret_cast<sockaddr *>(&address), &length) != 0
        || !connectTo(client, address))
        fail("cannot connect on loopback", std::strerror(errno));
    const int accepted = ::accept(listener(), nullptr, nullptr);
    if (accepted < 0)
        fail("cannot accept on loopback");
    // Closing resets the connection: no TIME_WAIT piles up over millions of runs.
    const linger reset = {1, 0};
    ::setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    server->accept(accepted);

    QByteArray output;
    qsizetype written = 0;
    bool shut = false;
    bool ended = false;
    // The sending side is closed once everything is sent and the server has gone quiet: it has
    // taken and answered what it could (a closed side ends the connection at once).
    int quiet = 0;
    qint64 heard = -1;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (written < bytes.size()) {
            const qsizetype want = piece > 0 ? qMin<qsizetype>(piece, bytes.size() - written) : bytes.size() - written;
            const ssize_t n = ::send(client, bytes.constData() + written, size_t(want), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                written += n;
            else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                written = bytes.size(); // the server has gone
        } else if (!shut) {
            const qint64 now = output.size() + server->traffic.receivedBytes + server->traffic.sentBytes;
            quiet = now == heard ? quiet + 1 : 0;
            heard = now;
            shut = quiet >= 3 && ::shutdown(client, SHUT_WR) == 0;
        }
        settle();
        char in[65536];
        ssize_t n;
        while ((n = ::recv(client, in, sizeof in, MSG_DONTWAIT)) > 0)
            output.append(in, n);
        ended = ended || n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        if (ended && server->threads.isEmpty())
            break;
        if (clock.elapsed() > timeoutMs)
            fail(ended ? "the server holds a connection its peer has left" : "the connection never ends",
                 bytes.left(300) + "\n--- answered:\n" + output.left(600));
    }
    ::close(client);
    settle();
    return output;
}

} // namespace Fuzz
