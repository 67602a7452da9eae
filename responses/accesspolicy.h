#ifndef ACCESSPOLICY_H
#define ACCESSPOLICY_H

#include "server/responder.h"

#include <QByteArrayView>
#include <QString>

class Configuration;
class HTTP_Request;
class QHostAddress;
class ServerContext;

// Whether a request may be answered and do what it asks: who sent it (the password or the users
// of the profile), the names it gives for this server, where a browser says it comes from, and
// what the profile's write switches allow.
namespace AccessPolicy {

// The status line that refuses the request before anything else is looked at: "421 Misdirected
// Request" when an open share is asked for under a name that is not this server's (a page of
// another site whose name was made to point here), "403 Forbidden" when a browser sends a
// request that changes something from a page of another site. Null: the request goes on.
// `localHost` is the address the connection came in on, as text (Socket::hostText()).
const char *admission(const HTTP_Request &request, const ServerContext &context, QByteArrayView localHost);

// The status line that refuses the request once its sender is known: "502 Bad Gateway" for a
// COPY or MOVE to another server, or the answer of the profile's write switches (uploads off
// refuses what creates a name, deleting off what removes or replaces one). Null: the request
// goes on.
const char *refusal(const HTTP_Request &request, const ServerContext &context);

// Whether an existing file may be put in place of another (by PUT, COPY or MOVE): replacing is
// a kind of deleting. The responses ask when they find the name taken.
bool mayReplace(const Configuration &profile);

// Whether `host` (the value of a Host header: a name or address, perhaps with a port) names
// this server for a connection that came in on `local`: one of the machine's addresses,
// "localhost", the machine's name (also with ".local"), the names the listener was told
// (ServerContext::publicNames) and the profile's allowed host names.
bool isOwnHost(QByteArrayView host, const ServerContext &context, const QHostAddress &local);

// Whether the request tries a password under `profile`: a login, or credentials.
bool isAttempt(const HTTP_Request &request, const Configuration &profile);
// Whether the sender may be answered under `profile`: the password of the login (which logs its
// session in, or out when wrong) or of Basic credentials, a user of the list; the applet's
// archive is served before its page logs it in.
bool accept(HTTP_Request &request, const Configuration &profile);
// Answers a sender not accepted: the login page to a browser asking for a page, the challenge to
// anything else.
void refuse(HTTP_Request &request, const Configuration &profile, const Responder::ResponseFor &responseFor);

} // namespace AccessPolicy

#endif
