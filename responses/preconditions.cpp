#include "responses/preconditions.h"

#include "config/configuration.h"
#include "responses/dav.h"
#include "server/http_request.h"
#include "server/httpdate.h"
#include "server/lockmanager.h"
#include "server/methodtable.h"
#include "server/response.h"
#include "server/servercontext.h"
#include "server/sharepath.h"
#include "server/statusline.h"

#include <charconv>
#include <fcntl.h>
#include <utility>
#include <sys/stat.h>

namespace {

const char *const Failed = StatusLine::PreconditionFailed;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// An entity tag without its weakness: the quoted part.
QByteArrayView opaque(QByteArrayView tag)
{
    return tag.startsWith("W/") ? tag.sliced(2) : tag;
}

bool sameTag(QByteArrayView a, QByteArrayView b, bool weak)
{
    if (weak)
        return opaque(a) == opaque(b);
    return !a.startsWith("W/") && !b.startsWith("W/") && a == b;
}

// An entity tag at `at` ([W/]"...", RFC 9110 8.8.3); its length, or 0 when there is none.
qsizetype tagLength(QByteArrayView text, qsizetype at)
{
    qsizetype i = at;
    if (text.sliced(i).startsWith("W/"))
        i += 2;
    if (i >= text.size() || text.at(i) != '"')
        return 0;
    for (++i; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text.at(i));
        if (c == '"')
            return i + 1 - at;
        if (c < 0x21 || c == 0x7f)
            return 0;
    }
    return 0;
}

// ---------------------------------------------------------------- what a method changes

// What a change does to the item a request names, or to its destination, as LockManager::Touch
// flags: one set for an item that is there, one for a name not taken (which the change makes).
struct Change
{
    int existing = 0;
    int missing = 0;
};

struct Rule
{
    const char *method;
    Change target;
    Change destination;
};

constexpr int Content = LockManager::Content;
constexpr int Member = LockManager::Member;
constexpr int Tree = LockManager::Tree;

// The methods that change something. A request of one of them is refused when one of its
// conditions does not hold, and the locks on what it would change need their tokens. MKCOL of a
// folder that is there changes nothing; LOCK makes an empty file of a name not taken, and
// its own conflicts are the lock's business; COPY changes only its destination.
const Rule Rules[] = {
    {"PUT", {Content, Member}, {}},
    {"DELETE", {Content | Member | Tree, 0}, {}},
    {"MKCOL", {0, Member}, {}},
    {"PROPPATCH", {Content, 0}, {}},
    {"MOVE", {Content | Member | Tree, 0}, {Content | Tree, Member}},
    {"COPY", {}, {Content | Tree, Member}},
    {"LOCK", {0, Member}, {}},
    {"UNLOCK", {}, {}},
};

const Rule *ruleFor(int type)
{
    const MethodTable::Method *method = MethodTable::byType(type);
    if (!method)
        return nullptr;
    for (const Rule &rule : Rules) {
        if (qstrcmp(rule.method, method->name) == 0)
            return &rule;
    }
    return nullptr;
}

Preconditions::Item itemAt(ShareRoot &items, const QString &sharePath)
{
    const ShareRoot::Opened opened = items.open(sharePath, O_PATH);
    struct stat status;
    if (!opened.reached() || ::fstat(opened.fd.get(), &status) != 0)
        return {};
    Preconditions::Item item;
    item.exists = true;
    item.modifiedSeconds = status.st_mtim.tv_sec;
    if (S_ISREG(status.st_mode)) {
        const qint64 ms = qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
        item.entityTag = Preconditions::entityTag(status.st_size, ms);
    }
    return item;
}

// Whether anything, a dangling link too, has the name; the shared folder has it.
bool taken(ShareRoot &items, const QString &sharePath)
{
    const ShareRoot::Place place = items.place(sharePath);
    if (place.refusal == ShareRoot::Outside && LockManager::normalized(sharePath) == u"/")
        return true;
    struct stat status;
    return place.reached() && ::fstatat(place.folder.get(), place.name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

// The folder a folder is made in when MKCOL makes `sharePath` with its missing parents: the
// nearest one above it that is there.
QString madeIn(ShareRoot &items, const QString &sharePath)
{
    QString folder = LockManager::parentOf(LockManager::normalized(sharePath));
    while (folder != u"/" && !taken(items, folder))
        folder = LockManager::parentOf(folder);
    return folder;
}

// The whole seconds of a time in milliseconds since the epoch, as an HTTP date says it.
qint64 secondsOf(qint64 modifiedMs)
{
    qint64 seconds = modifiedMs / 1000;
    if (modifiedMs % 1000 < 0)
        --seconds;
    return seconds;
}

} // namespace

namespace Preconditions {

char *writeEntityTag(char *out, qint64 size, qint64 modifiedMs)
{
    *out++ = '"';
    out = std::to_chars(out, out + 17, modifiedMs, 16).ptr;
    *out++ = '-';
    out = std::to_chars(out, out + 17, size, 16).ptr;
    *out++ = '"';
    return out;
}

QByteArray entityTag(qint64 size, qint64 modifiedMs)
{
    char tag[EntityTagSize];
    return QByteArray(tag, writeEntityTag(tag, size, modifiedMs) - tag);
}

void appendValidators(QByteArray *extra, qint64 size, qint64 modifiedMs)
{
    char date[48];
    char tag[EntityTagSize];
    Response::append(extra, {
        "Last-Modified: ", QByteArrayView(date, HttpDate::write(date, modifiedMs, true) - date),
        "\r\nETag: ", QByteArrayView(tag, writeEntityTag(tag, size, modifiedMs) - tag), "\r\n",
    });
}

bool ifRangeHolds(QByteArrayView value, qint64 size, qint64 modifiedMs)
{
    const QByteArrayView v = value.trimmed();
    // A weak tag never matches (RFC 9110 13.1.5); a tag is compared whole.
    if (v.startsWith('"'))
        return v == entityTag(size, modifiedMs);
    if (v.startsWith("W/"))
        return false;
    qint64 date = 0;
    if (!HttpDate::parse(v, &date))
        return false;
    return date == secondsOf(modifiedMs);
}

bool answerConditions(Response *response, qint64 size, qint64 modifiedMs)
{
    const HTTP_Request &request = *response->request;
    if (request.ifMatch.isEmpty() && request.ifNoneMatch.isEmpty() && request.ifModifiedSince.isEmpty()
        && request.ifUnmodifiedSince.isEmpty())
        return false;
    const Item item{true, entityTag(size, modifiedMs), secondsOf(modifiedMs)};
    switch (evaluate(request, item, true)) {
    case Outcome::Go:
        return false;
    case Outcome::Failed:
        response->sendHeader(StatusLine::PreconditionFailed, 0);
        return true;
    case Outcome::NotModified:
        break;
    }
    // The validators, and no body: the length is the file's, which a 304 may tell (RFC 9110 8.6),
    // and no type, which it need not.
    QByteArray extra;
    appendValidators(&extra, size, modifiedMs);
    const QByteArray type = std::exchange(response->contentType, QByteArray());
    const QByteArray head = response->header(StatusLine::NotModified, size, &extra);
    response->contentType = type;
    response->request->socket.write(head, true);
    return true;
}

bool listMatches(QByteArrayView list, const Item &item, bool weak)
{
    const QByteArrayView v = list.trimmed();
    if (v == "*")
        return item.exists;
    if (item.entityTag.isEmpty())
        return false;
    for (qsizetype at = 0; at < v.size();) {
        if (isBlank(v.at(at)) || v.at(at) == ',') {
            ++at;
            continue;
        }
        const qsizetype length = tagLength(v, at);
        if (length == 0)
            return false; // not a list of tags: nothing of it is trusted
        if (sameTag(v.sliced(at, length), item.entityTag, weak))
            return true;
        at += length;
    }
    return false;
}

Outcome evaluate(const RequestHead &head, const Item &item, bool safe)
{
    qint64 date = 0;
    // RFC 9110 13.2.2: If-Match, else If-Unmodified-Since; then If-None-Match, else (GET and
    // HEAD) If-Modified-Since. A date is compared in whole seconds, as Last-Modified says it.
    if (!head.ifMatch.isEmpty()) {
        if (!listMatches(head.ifMatch, item, false))
            return Outcome::Failed;
    } else if (!head.ifUnmodifiedSince.isEmpty() && item.exists
               && HttpDate::parse(head.ifUnmodifiedSince, &date) && item.modifiedSeconds > date) {
        return Outcome::Failed;
    }
    if (!head.ifNoneMatch.isEmpty()) {
        if (listMatches(head.ifNoneMatch, item, true))
            return safe ? Outcome::NotModified : Outcome::Failed;
    } else if (safe && !head.ifModifiedSince.isEmpty() && item.exists
               && HttpDate::parse(head.ifModifiedSince, &date) && item.modifiedSeconds <= date) {
        return Outcome::NotModified;
    }
    return Outcome::Go;
}

std::optional<QList<List>> parseIf(QByteArrayView value)
{
    // If = 1*No-tag-list | 1*Tagged-list; Tagged-list = Resource-Tag 1*List;
    // List = "(" 1*Condition ")"; Condition = ["Not"] (State-token | "[" entity-tag "]")
    // (RFC 4918 10.4.2), with blanks between the pieces.
    QList<List> lists;
    qsizetype at = 0;
    const auto skipBlanks = [&] {
        while (at < value.size() && isBlank(value.at(at)))
            ++at;
    };
    // "<" ... ">" at `at` without blanks inside; nothing when there is none.
    const auto angled = [&]() -> std::optional<QByteArray> {
        const qsizetype end = value.indexOf('>', at);
        if (at >= value.size() || value.at(at) != '<' || end < 0 || end == at + 1)
            return std::nullopt;
        const QByteArrayView inside = value.sliced(at + 1, end - at - 1);
        for (const char c : inside) {
            if (isBlank(c) || c == '<')
                return std::nullopt;
        }
        at = end + 1;
        return inside.toByteArray();
    };
    bool tagged = false;
    QByteArray resource;
    skipBlanks();
    if (at >= value.size())
        return std::nullopt;
    tagged = value.at(at) == '<';
    while (true) {
        skipBlanks();
        if (at >= value.size())
            break;
        if (value.at(at) == '<') {
            // A resource tag: only in a header of tagged lists, and followed by a list.
            const std::optional<QByteArray> tag = angled();
            if (!tagged || !tag)
                return std::nullopt;
            resource = *tag;
            skipBlanks();
            if (at >= value.size() || value.at(at) != '(')
                return std::nullopt;
            continue;
        }
        if (value.at(at) != '(')
            return std::nullopt;
        ++at;
        List list;
        list.resource = resource;
        while (true) {
            skipBlanks();
            if (at >= value.size())
                return std::nullopt;
            if (value.at(at) == ')') {
                ++at;
                break;
            }
            Condition condition;
            if (value.sliced(at).startsWith("Not") || value.sliced(at).startsWith("not")
                || value.sliced(at).startsWith("NOT")) {
                condition.negated = true;
                at += 3;
                skipBlanks();
            }
            if (at >= value.size())
                return std::nullopt;
            if (value.at(at) == '<') {
                const std::optional<QByteArray> token = angled();
                // A state token is an absolute URI: it has a scheme.
                if (!token || token->indexOf(':') <= 0)
                    return std::nullopt;
                condition.value = *token;
            } else if (value.at(at) == '[') {
                ++at;
                const qsizetype length = tagLength(value, at);
                if (length == 0 || at + length >= value.size() || value.at(at + length) != ']')
                    return std::nullopt;
                condition.entityTag = true;
                condition.value = value.sliced(at, length).toByteArray();
                at += length + 1;
            } else {
                return std::nullopt;
            }
            list.conditions.append(condition);
        }
        if (list.conditions.isEmpty())
            return std::nullopt;
        lists.append(list);
    }
    return lists;
}

QList<QByteArray> stateTokens(const QList<List> &lists)
{
    QList<QByteArray> tokens;
    for (const List &list : lists) {
        for (const Condition &condition : list.conditions) {
            if (!condition.entityTag && !tokens.contains(condition.value))
                tokens.append(condition.value);
        }
    }
    return tokens;
}

bool holds(const QList<List> &lists, const std::function<bool(const QByteArray &, const Condition &)> &matches)
{
    for (const List &list : lists) {
        bool all = true;
        for (const Condition &condition : list.conditions) {
            if (matches(list.resource, condition) == condition.negated) {
                all = false;
                break;
            }
        }
        if (all)
            return true;
    }
    return false;
}

QList<QByteArray> submittedTokens(const HTTP_Request &request)
{
    if (request.ifHeader.isEmpty())
        return {};
    const std::optional<QList<List>> lists = parseIf(request.ifHeader);
    return lists ? stateTokens(*lists) : QList<QByteArray>();
}

QString principal(const HTTP_Request &request, const ServerContext &context)
{
    // Users are told apart only by Basic authentication; the password of the other modes is
    // everybody's.
    if (!context.config || context.config->authMode != AuthMode::Basic)
        return QString();
    return request.credentials.section(u':', 0, 0);
}

const char *refusal(const HTTP_Request &request, const ServerContext &context)
{
    const Rule *rule = ruleFor(request.type);
    const bool conditional = !request.ifMatch.isEmpty() || !request.ifNoneMatch.isEmpty()
                             || !request.ifUnmodifiedSince.isEmpty() || !request.ifModifiedSince.isEmpty();
    // The common case costs nothing: no condition, and no lock a change could meet.
    if (request.ifHeader.isEmpty() && !rule)
        return nullptr;
    LockManager &locks = context.locks();
    if (request.ifHeader.isEmpty() && !conditional && locks.isEmpty())
        return nullptr;
    ShareRoot &items = context.share();

    QList<QByteArray> tokens;
    if (!request.ifHeader.isEmpty()) {
        const std::optional<QList<List>> lists = parseIf(request.ifHeader);
        if (!lists)
            return StatusLine::BadRequest;
        const bool holding = holds(*lists, [&](const QByteArray &resource, const Condition &condition) {
            QString path = request.path;
            if (!resource.isEmpty()) {
                // A place not in the share is in no state at all.
                if (Dav::pathOfUrl(resource, &path) != 0)
                    return false;
            }
            if (condition.entityTag) {
                const Item item = itemAt(items, path);
                return !item.entityTag.isEmpty() && sameTag(item.entityTag, condition.value, true);
            }
            // A lock's token matches everything the lock covers (RFC 4918 10.4.4).
            for (const LockManager::Lock *lock : locks.covering(path)) {
                if (lock->token == condition.value)
                    return true;
            }
            return false;
        });
        if (!holding)
            return Failed;
        tokens = stateTokens(*lists);
    }
    if (!rule)
        return nullptr;
    if (conditional && evaluate(request, itemAt(items, request.path), false) != Outcome::Go)
        return Failed;
    if (locks.isEmpty())
        return nullptr;

    // Whose tokens count, and what the change meets.
    const QString who = principal(request, context);
    const auto allowed = [&](const QString &path, const Change &change, QStringView memberOf) {
        const int touch = taken(items, path) ? change.existing : change.missing;
        return touch == 0 || locks.mayChange(path, touch, tokens, who, memberOf);
    };
    const QString folder = request.type == HTTP_Request::MkCol ? madeIn(items, request.path) : QString();
    if (!allowed(request.path, rule->target, folder))
        return StatusLine::Locked;
    if (rule->destination.existing || rule->destination.missing) {
        QString destination;
        if (Dav::destinationOf(request.destination, &items, &destination) == 0
            && !allowed(destination, rule->destination, QStringView()))
            return StatusLine::Locked;
    }
    return nullptr;
}

} // namespace Preconditions
