#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include "config/configuration.h"
#include "server/webserver.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// What the fuzz targets share: the application object, a shared folder with a canary folder
// next to it, and real connections to a real listener over loopback.
namespace Fuzz {

// The QCoreApplication of the process (sockets and timers need one). Made once.
void ensureApplication();

// Delivers what the input left for the event loop (deferred deletions above all), so that
// nothing piles up from one input to the next.
void settle();

// An invariant of the server does not hold: print why and abort, so that the fuzzer keeps the
// input (and the replay in CTest fails).
[[noreturn]] void fail(const char *what, const QByteArray &detail = QByteArray());
// Fails when more descriptors are open than after the first run (with some room for Qt's own).
void checkDescriptors(const QByteArray &input);

// A folder tree in a temporary directory:
//   share/             the shared folder: a.txt, sub/b.txt, sub/deeper/c.txt, uploads/, a link
//                      "out" to the canary folder and a link "secretlink" to the secret file
//   outside/           the canary: secret.txt and a folder, never to be read, listed or changed
//   img/, lang/C/      the icon folder and the login page
class Tree
{
public:
    static Tree &instance();

    QString share(const QString &relative = QString()) const;
    // Puts the share back as it was: the previous input may have changed it.
    void reset();
    // Dies when anything outside the share changed or `output` carries the canary's contents.
    void checkCanary(const QByteArray &output) const;

    static const QByteArray Secret;

private:
    Tree();
    QByteArray describeOutside() const;

    QTemporaryDir dir;
    QByteArray outsideBefore;
};

// A listener that is handed connections directly, without listening.
class Server : public WebServer
{
public:
    Server();
    void accept(qintptr descriptor) { incomingConnection(descriptor); }

    Configuration profile;
};

// Sends `bytes` to `server` on a fresh loopback connection, in pieces of `piece` bytes (0: as
// fast as the server takes them), then closes the sending side, and returns everything the server
// answered until it closed. Dies when the connection is not over within `timeoutMs`, or when
// the server still holds it afterwards.
QByteArray exchange(Server *server, const QByteArray &bytes, int piece = 0, int timeoutMs = 20000);

} // namespace Fuzz

#endif
