#ifndef SERVERCONTEXT_H
#define SERVERCONTEXT_H

#include "server/clientmanager.h"
#include "server/guessdelay.h"
#include "server/lockmanager.h"
#include "server/sharepath.h"
#include "server/trafficmeter.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>

class Configuration;
class HTML_Element_Manager;
class Responder;

// What every connection of one listener works with: the shared item, the profile, the browser
// sessions, the traffic meter, the responder, the thumbnail maker and the data folders. The
// listener is its one context; each connection holds a pointer to it and reads it afresh for
// every request, so that a new root or profile reaches the connections already open.
class ServerContext
{
public:
    // The data folders and the thumbnail maker are the process's at the time of construction, the
    // responder the program's responses (Responder::standard()).
    ServerContext();
    virtual ~ServerContext() = default;
    ServerContext(const ServerContext &) = delete;
    ServerContext &operator=(const ServerContext &) = delete;

    // A request arrived from this client address (every request: a call, not a signal).
    virtual void requestFrom(const QString &address) { Q_UNUSED(address); }

    // The shared folder, or the shared file when singleFile is set.
    QFileInfo root;
    bool singleFile = false;
    // The shared item held open: every file operation of a request goes through it. It follows
    // `root` and `singleFile`.
    ShareRoot &share() const;
    // The profile in use; not owned. A listener counts its use (useCount) while it holds it, and
    // a connection while it answers a request that arrived under it.
    Configuration *config = nullptr;
    ClientManager clients;
    TrafficMeter traffic;
    // The failed logins of the clients, which slow down their further attempts.
    GuessDelay guesses;
    // Names of this server learnt from outside (the public address, the dynamic-DNS name), under
    // which an open share answers besides the machine's own (AccessPolicy::isOwnHost).
    QStringList publicNames;
    // The WebDAV locks of the share: none once the share changes (or the listener stops, which
    // clears them).
    LockManager &locks() const;
    // Who may have a request answered, and what answers it.
    const Responder *responder;
    // Makes the thumbnails of picture mode; null: folder pages show icons only.
    HTML_Element_Manager *thumbnails = nullptr;
    // The page icons, "n900.ico" and the applet archive; ends in '/'.
    QString iconDir;
    // The folder of the current language, with "login.html"; ends in '/'.
    QString langPath;

private:
    mutable LockManager lockTable;
    mutable QString lockedShare; // the shared path the locks are of
    mutable ShareRoot shareRoot;
};

#endif
