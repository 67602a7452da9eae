#include "server/requestparser.h"

#include "server/methodtable.h"
#include "server/requestframing.h"
#include "server/statusline.h"

#include <QStringDecoder>

#include <algorithm>
#include <iterator>

namespace {

using Status = RequestParser::Status;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isControl(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
}

// A header line that different servers on the way would read differently (RFC 9112 5.1, 5.2):
// a blank or tab between its name and the colon, a control character in its name, or one other
// than the tab in its value.
bool malformedHeader(QByteArrayView line)
{
    const qsizetype colon = line.indexOf(':');
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line.at(i);
        if (i < colon ? isBlank(c) || isControl(c) : isControl(c) && c != '\t')
            return true;
    }
    return false;
}

// A CR that does not end a line (RFC 9112 2.2): the head's lines would end in other places for
// others.
bool bareCR(QByteArrayView head)
{
    for (qsizetype at = head.indexOf('\r'); at >= 0; at = head.indexOf('\r', at + 1)) {
        if (at + 1 >= head.size() || head.at(at + 1) != '\n')
            return true;
    }
    return false;
}

// A Content-Length value: decimal digits only, optionally surrounded by blanks.
qint64 parseLength(QByteArrayView value, bool *ok)
{
    const QByteArrayView v = value.trimmed();
    *ok = !v.isEmpty() && v.size() <= 18; // 18 digits cannot overflow
    if (!*ok)
        return 0;
    qint64 n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') {
            *ok = false;
            break;
        }
        n = n * 10 + (c - '0');
    }
    return *ok ? n : 0;
}

// A list header that may come in several lines (RFC 9110 5.3): the lines joined in order.
void joinList(QByteArray *list, QByteArrayView value, const char *separator)
{
    if (!list->isEmpty())
        *list += separator;
    *list += value;
}

// The state of one parse beyond the head it fills.
struct Parse
{
    RequestHead &head;
    Status refusal = Status::Parsed;
    bool lengthSeen = false;
    int codings = 0;  // Transfer-Encoding lines
    bool chunked = false;
    // The tokens of the last Connection line.
    bool connectionSeen = false;
    bool closeToken = false;
    bool keepAliveToken = false;

    void refuse(Status status)
    {
        if (refusal == Status::Parsed)
            refusal = status;
    }

    void target(QByteArrayView target);
    void header(QByteArrayView line);
};

void Parse::target(QByteArrayView target)
{
    const qsizetype mark = target.indexOf('?');
    const QByteArrayView rawPath = mark < 0 ? target : target.first(mark);
    if (mark >= 0) {
        QByteArrayView query = target.sliced(mark + 1);
        const qsizetype hash = query.indexOf('#');
        if (hash >= 0)
            query.truncate(hash);
        head.rawQuery = query.toByteArray();
    }

    head.path = rawPath.contains('%') ? QString::fromUtf8(QByteArray::fromPercentEncoding(rawPath.toByteArray()))
                                      : QString::fromUtf8(rawPath);

    // Only paths inside the shared item are served: no "..", no NUL, and an absolute path.
    if (!rawPath.startsWith('/') || head.path.contains(QChar(0)))
        refusal = Status::Forbidden;
    for (const QStringView segment : QStringView(head.path).tokenize(u'/')) {
        if (segment == u"..")
            refusal = Status::Forbidden;
    }
}

void Parse::header(QByteArrayView line)
{
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return;
    const QByteArrayView name(line.data(), colon);
    qsizetype from = colon + 1;
    while (from < line.size() && isBlank(line.at(from)))
        ++from;
    // A view into the head: copied only where it is kept.
    const QByteArrayView value = line.sliced(from);
    const auto is = [&name](const char *known) {
        return name.size() == qsizetype(qstrlen(known)) && qstrnicmp(name.data(), known, name.size()) == 0;
    };

    if (is("user-agent")) {
        head.userAgent = value.toByteArray();
    } else if (is("host")) {
        head.host = value.toByteArray();
    } else if (is("origin")) {
        head.origin = value.trimmed().toByteArray();
    } else if (is("sec-fetch-site")) {
        head.fetchSite = value.trimmed().toByteArray();
    } else if (is("connection")) {
        // A list of tokens, without case.
        connectionSeen = true;
        closeToken = keepAliveToken = false;
        for (const QByteArray &token : value.toByteArray().split(',')) {
            closeToken = closeToken || token.trimmed().compare("close", Qt::CaseInsensitive) == 0;
            keepAliveToken = keepAliveToken || token.trimmed().compare("keep-alive", Qt::CaseInsensitive) == 0;
        }
    } else if (is("transfer-encoding")) {
        // Only exactly the one coding every HTTP/1.1 server reads (RFC 9112 6.1): any other, a
        // list, or a second line would frame the body differently for others on the way.
        ++codings;
        chunked = value.trimmed().compare("chunked", Qt::CaseInsensitive) == 0;
    } else if (is("range")) {
        if (!value.startsWith("bytes=") || value.contains(','))
            return;
        const QList<QByteArray> pieces = value.sliced(6).toByteArray().split('-');
        if (pieces.size() == 2 && pieces.at(0).trimmed().isEmpty()) {
            bool number = false;
            const qint64 last = pieces.at(1).trimmed().toLongLong(&number);
            if (number && last >= 0) {
                head.rangeEnd = last;
                head.rangeSuffix = true;
            }
        } else if (pieces.size() == 2) {
            head.rangeStart = pieces.at(0).toLongLong();
            head.rangeEnd = pieces.at(1).toLongLong();
        } else if (pieces.size() == 1) {
            head.rangeEnd = pieces.at(0).toLongLong();
        }
    } else if (is("cookie")) {
        head.setCookie(value.toByteArray());
    } else if (is("authorization")) {
        if (value.size() < 6 || qstrnicmp(value.data(), "basic ", 6) != 0)
            return;
        QByteArray decoded = QByteArray::fromBase64(value.sliced(6).trimmed().toByteArray());
        const qsizetype nul = decoded.indexOf('\0');
        if (nul >= 0)
            decoded.truncate(nul);
        // UTF-8 (RFC 7617 2.1), as browsers and WebDAV clients send it; bytes that are not are
        // taken as Latin-1, as older clients send it.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        head.credentials = utf8.decode(decoded);
        if (utf8.hasError())
            head.credentials = QString::fromLatin1(decoded);
    } else if (is("content-length")) {
        bool ok;
        const qint64 n = parseLength(value, &ok);
        if (!ok || (lengthSeen && n != head.contentLength))
            refuse(Status::BadRequest);
        head.contentLength = ok ? n : 0;
        lengthSeen = true;
    } else if (is("content-type")) {
        head.contentType = value.toByteArray();
    } else if (is("referer")) {
        head.referer = value.toByteArray();
    } else if (is("depth")) {
        head.depth = value.toByteArray();
    } else if (is("destination")) {
        head.destination = value.toByteArray();
    } else if (is("overwrite")) {
        head.overwrite = value.toByteArray();
    } else if (is("expect")) {
        head.expectContinue = value.trimmed().toByteArray().toLower() == "100-continue";
    } else if (is("if-match")) {
        joinList(&head.ifMatch, value.trimmed(), ", ");
    } else if (is("if-none-match")) {
        joinList(&head.ifNoneMatch, value.trimmed(), ", ");
    } else if (is("if-modified-since")) {
        head.ifModifiedSince = value.trimmed().toByteArray();
    } else if (is("if-unmodified-since")) {
        head.ifUnmodifiedSince = value.trimmed().toByteArray();
    } else if (is("if-range")) {
        head.ifRange = value.trimmed().toByteArray();
    } else if (is("content-range")) {
        head.contentRange = value.trimmed().toByteArray();
    } else if (is("if")) {
        joinList(&head.ifHeader, value.trimmed(), " ");
    } else if (is("lock-token")) {
        head.lockToken = value.trimmed().toByteArray();
    } else if (is("timeout")) {
        head.timeout = value.trimmed().toByteArray();
    } else if (is("x-oc-mtime")) {
        head.ocMtime = value.trimmed().toByteArray();
    }
}

} // namespace

RequestParser::Result RequestParser::parse(QByteArrayView bytes, bool overflowed, bool singleFile)
{
    Result result;
    RequestHead &head = result.head;
    qsizetype pos = 0;
    QByteArrayView line = RequestFraming::nextLine(bytes, &pos);
    if (line.size() < 3) {
        // A request line that does not even fit the longest head.
        if (overflowed && line.isEmpty())
            result.status = Status::UriTooLong;
        return result;
    }
    // A head cut short is never read: what was cut may change what the rest means.
    if (overflowed) {
        result.status = Status::HeadTooLarge;
        return result;
    }
    if (bareCR(bytes) || std::any_of(line.begin(), line.end(), isControl)) {
        result.status = Status::BadRequest;
        return result;
    }

    // Recognised by their whole names, followed by a blank.
    if (const MethodTable::Method *method = MethodTable::byName(line, singleFile)) {
        head.type = method->type;
        line = line.sliced(qMin(line.size(), qsizetype(qstrlen(method->name)) + 1));
    }
    if (head.type == RequestHead::Unknown) {
        result.status = Status::UnknownMethod;
        return result;
    }
    const qsizetype space = line.indexOf(' ');
    // An HTTP/1.0 client keeps the connection only when it asks to (RFC 9112 9.3).
    const bool http10 = space >= 1 && line.sliced(line.lastIndexOf(' ') + 1) == "HTTP/1.0";
    if (space >= 1)
        line.truncate(space);
    Parse parse{head};
    parse.target(line);

    for (;;) {
        const QByteArrayView header = RequestFraming::nextLine(bytes, &pos);
        if (header.isEmpty())
            break;
        // A line folded onto the one before is refused as malformed too.
        if (isBlank(header.at(0)) || malformedHeader(header)) {
            parse.refuse(Status::BadRequest);
            continue;
        }
        if (header.size() > 2)
            parse.header(header);
    }

    if (parse.codings > 0) {
        // A length beside a coding says two things about one body (RFC 9112 6.3).
        if (parse.codings > 1 || !parse.chunked || parse.lengthSeen)
            parse.refuse(Status::BadRequest);
        head.chunked = true;
        head.contentLength = RequestHead::UnknownLength;
    }
    if (http10)
        head.keepAlive = parse.keepAliveToken && !parse.closeToken;
    else if (parse.connectionSeen)
        head.keepAlive = !parse.closeToken;
    result.status = parse.refusal;
    return result;
}

const char *RequestParser::statusLine(Status status)
{
    switch (status) {
    case Status::UnknownMethod: return StatusLine::MethodNotAllowed;
    case Status::BadRequest: return StatusLine::BadRequest;
    case Status::Forbidden: return StatusLine::Forbidden;
    case Status::UriTooLong: return StatusLine::UriTooLong;
    case Status::HeadTooLarge: return StatusLine::HeaderFieldsTooLarge;
    case Status::Parsed:
    case Status::NoRequestLine: break;
    }
    return nullptr;
}
