#ifndef RESPONDER_H
#define RESPONDER_H

#include "server/response.h"

#include <QByteArrayView>

#include <functional>

class Configuration;
class HTML_Element_Manager;
class HTTP_Request;
class QFileInfo;

// What answers the requests of a listener. The connection handler reads, frames and parses
// each request and waits for its body and for the turn of a password attempt; who may have it
// answered and which response answers it are asked of this: the access rules and the dispatch
// table beside the responses.
class Responder
{
public:
    // The connection's response of `kind`: the one it holds, or a new one in its place (Plain:
    // whichever it holds, or a new plain one).
    using ResponseFor = std::function<Response *(ResponseKind kind)>;

    virtual ~Responder() = default;
    // The status line that refuses a parsed request before its sender is known, or null.
    // `localHost` is the address the connection came in on, as a Host header names it.
    virtual const char *admission(const HTTP_Request &request, QByteArrayView localHost) const = 0;
    // Whether the request tries a password under `profile`: a login, or credentials.
    virtual bool isAttempt(const HTTP_Request &request, const Configuration &profile) const = 0;
    // Whether the sender may be answered under `profile`; a login logs its session in or out.
    virtual bool accept(HTTP_Request &request, const Configuration &profile) const = 0;
    // Answers a request whose sender was not accepted.
    virtual void refuse(HTTP_Request &request, const Configuration &profile, const ResponseFor &responseFor) const = 0;
    // The status line that refuses an accepted request, or null: the request goes on.
    virtual const char *refusal(const HTTP_Request &request) const = 0;
    // Starts the answer to an accepted request on the shared item `root`; or returns the status
    // line that refuses it.
    virtual const char *dispatch(HTTP_Request &request, QFileInfo *root, Configuration *profile,
                                 const ResponseFor &responseFor) const = 0;
    // A new response of `kind` for `request` (a child of its socket).
    virtual Response *create(ResponseKind kind, Configuration *profile, HTTP_Request *request) const = 0;
    // The thumbnail maker of the process, or null.
    virtual HTML_Element_Manager *thumbnails() const = 0;

    // The responses of this program, reached through their dispatch table.
    static const Responder &standard();
};

#endif
