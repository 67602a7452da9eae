#ifndef PRECONDITIONS_H
#define PRECONDITIONS_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class HTTP_Request;
class RequestHead;
class Response;
class ServerContext;

// The conditions a request may set on what it changes or reads: the entity tags and dates of
// RFC 9110 13 (If-Match, If-None-Match, If-Unmodified-Since, If-Modified-Since) and the WebDAV
// If header (RFC 4918 10.4), whose lists name lock tokens and entity tags; and the lock tokens a
// change needs (RFC 4918 7). The rules on bytes are functions of their own, which the tests call
// without a socket; refusal() applies them to a request.
namespace Preconditions {

// What a condition is compared with: the item the request names as it is now.
struct Item
{
    bool exists = false;
    QByteArray entityTag;        // a file's, as GET sends it; empty for a folder or nothing
    qint64 modifiedSeconds = -1; // its time of last change; -1 when nothing is there
};

enum class Outcome {
    Go,          // the method goes on
    NotModified, // GET or HEAD: "304 Not Modified"
    Failed,      // "412 Precondition Failed"
};

// The entity tag of a file's content: its time of last change and its size.
QByteArray entityTag(qint64 size, qint64 modifiedMs);
// The same written at `out` (room for EntityTagSize bytes); returns its end.
constexpr int EntityTagSize = 40;
char *writeEntityTag(char *out, qint64 size, qint64 modifiedMs);
// Appends the Last-Modified and ETag lines of a file.
void appendValidators(QByteArray *extra, qint64 size, qint64 modifiedMs);
// Whether an If-Range value names the file as it is now: its entity tag (compared strongly) or
// its date of last change, to the second.
bool ifRangeHolds(QByteArrayView value, qint64 size, qint64 modifiedMs);
// Answers a GET or HEAD of a file when its conditions (RFC 9110 13.1) decide: "304 Not
// Modified" with the validators, or "412 Precondition Failed". False: the file is sent.
bool answerConditions(Response *response, qint64 size, qint64 modifiedMs);

// The four headers of RFC 9110 13.1 in the order of 13.2.2, for `item`. A `safe` request (GET or
// HEAD) whose copy is current gets NotModified; any other request whose condition does not hold
// gets Failed. A date that cannot be read is ignored.
Outcome evaluate(const RequestHead &head, const Item &item, bool safe);

// Whether a list of entity tags (If-Match, If-None-Match) names `entityTag`: "*" when the item
// exists, else a tag of the list, compared strongly (both strong and equal) or weakly (equal
// without "W/").
bool listMatches(QByteArrayView list, const Item &item, bool weak);

// One condition of an If header: a state token (a lock token, "DAV:no-lock") or an entity tag,
// perhaps with "Not".
struct Condition
{
    bool negated = false;
    bool entityTag = false;
    QByteArray value; // the token without "<" ">", or the tag with its quotes (and "W/")
};
// One list: its conditions all hold for the item its tag names (empty: the request's own).
struct List
{
    QByteArray resource;
    QList<Condition> conditions;
};

// The lists of an If header; nothing when the header is malformed (400).
std::optional<QList<List>> parseIf(QByteArrayView value);
// The state tokens the lists name: the lock tokens submitted with the request.
QList<QByteArray> stateTokens(const QList<List> &lists);
// Whether the header holds: one of its lists holds. `matches(resource, condition)` tells whether
// the item a list names is in the state the condition names (before any "Not").
bool holds(const QList<List> &lists, const std::function<bool(const QByteArray &, const Condition &)> &matches);
// The status line that refuses the request for its conditions, before anything is changed:
// "400 Bad Request" for a malformed If header, "412 Precondition Failed" for a condition that
// does not hold, "423 Locked" for a change of a locked item without its lock's token. GET and
// HEAD answer the four headers of RFC 9110 themselves, with the file they send (304 or 412).
// Null: the request goes on.
const char *refusal(const HTTP_Request &request, const ServerContext &context);

// The lock tokens the request submits in its If header, and who submits them.
QList<QByteArray> submittedTokens(const HTTP_Request &request);
QString principal(const HTTP_Request &request, const ServerContext &context);

} // namespace Preconditions

#endif
