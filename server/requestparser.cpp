#include "server/requestparser.h"

#include "responses/dispatchtable.h"
#include "server/requestframing.h"

#include <QStringDecoder>

#include <iterator>

namespace {

using Status = RequestParser::Status;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A header line with a blank or tab between its name and the colon.
bool blankInName(QByteArrayView line)
{
    const qsizetype colon = line.indexOf(':');
    for (qsizetype i = 0; i < colon; ++i) {
        if (isBlank(line.at(i)))
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

// The state of one parse beyond the head it fills.
struct Parse
{
    RequestHead &head;
    Status refusal = Status::Parsed;
    bool lengthSeen = false;

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
        bool close = false;
        for (const QByteArray &token : value.toByteArray().split(','))
            close = close || token.trimmed().compare("close", Qt::CaseInsensitive) == 0;
        head.keepAlive = !close;
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
            refusal = Status::BadRequest;
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
    } else if (is("if-none-match")) {
        head.ifNoneMatch = value.trimmed().toByteArray();
    } else if (is("if-range")) {
        head.ifRange = value.trimmed().toByteArray();
    } else if (is("content-range")) {
        head.contentRange = value.trimmed().toByteArray();
    } else if (is("if")) {
        head.ifHeader = value.trimmed().toByteArray();
    } else if (is("timeout")) {
        head.timeout = value.trimmed().toByteArray();
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
        // A request line that does not even fit the buffer.
        if (overflowed && line.isEmpty())
            result.status = Status::UriTooLong;
        return result;
    }

    // Recognised by their whole names, followed by a blank.
    if (const DispatchTable::Method *method = DispatchTable::byName(line, singleFile)) {
        head.type = method->type;
        line = line.sliced(qMin(line.size(), qsizetype(qstrlen(method->name)) + 1));
    }
    if (head.type == RequestHead::Unknown) {
        result.status = Status::UnknownMethod;
        return result;
    }
    const qsizetype space = line.indexOf(' ');
    if (space >= 1)
        line.truncate(space);
    Parse parse{head};
    parse.target(line);

    bool transferCoded = false;
    for (;;) {
        const QByteArrayView header = RequestFraming::nextLine(bytes, &pos);
        if (header.isEmpty())
            break;
        // A blank before the colon, or a line folded onto the one before, reads differently to
        // different servers on the way: refused as malformed (RFC 9112 5.1, 5.2).
        if (isBlank(header.at(0)) || blankInName(header)) {
            if (parse.refusal == Status::Parsed)
                parse.refusal = Status::BadRequest;
            continue;
        }
        if (header.size() <= 2)
            continue;
        if (header.size() > 18 && qstrnicmp(header.data(), "transfer-encoding:", 18) == 0)
            transferCoded = header.sliced(18).trimmed().toByteArray().toLower() != "identity";
        else
            parse.header(header);
    }

    if (transferCoded && parse.refusal == Status::Parsed)
        parse.refusal = Status::LengthRequired;
    // The body of a head that did not fit the buffer cannot be told from the head.
    if (overflowed && head.contentLength > 0 && parse.refusal == Status::Parsed)
        parse.refusal = Status::BadRequest;
    result.status = parse.refusal;
    return result;
}

const char *RequestParser::statusLine(Status status)
{
    switch (status) {
    case Status::UnknownMethod: return "405 Method Not Allowed";
    case Status::BadRequest: return "400 Bad Request";
    case Status::Forbidden: return "403 Forbidden";
    case Status::LengthRequired: return "411 Length Required";
    case Status::UriTooLong: return "414 URI Too Long";
    case Status::Parsed:
    case Status::NoRequestLine: break;
    }
    return nullptr;
}
