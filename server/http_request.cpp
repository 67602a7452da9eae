#include "server/http_request.h"

#include "responses/dispatchtable.h"
#include "server/clientdata.h"
#include "server/clientmanager.h"

#include <QRandomGenerator>

namespace {

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

} // namespace

HTTP_Request::HTTP_Request() = default;

HTTP_Request::~HTTP_Request()
{
    // A body still being saved ends now, while the record it belongs to is whole.
    socket.discard();
    unbind();
}

void HTTP_Request::unbind()
{
    if (!clientData)
        return;
    if (ownsClientData)
        delete clientData;
    else
        clientManager->release(clientData);
    clientData = nullptr;
    ownsClientData = false;
}

void HTTP_Request::reset()
{
    contentLength = 0;
    type = Unknown;
    rangeStart = rangeEnd = 0;
    rangeSuffix = false;
    contentType.clear();
    referer.clear();
    host.clear();
    userAgent.clear();
    path.clear();
    rawQuery.clear();
    credentials.clear();
    depth.clear();
    destination.clear();
    overwrite.clear();
    ifNoneMatch.clear();
    ifRange.clear();
    contentRange.clear();
    ifHeader.clear();
    timeout.clear();
    body.clear();
    expectContinue = false;
    refusal = 0;
    lengthSeen = false;
    cookies.clear();
    sessionCookieRead = false;
}

bool HTTP_Request::start()
{
    const bool overflowed = socket.headOverflowed();
    if (!socket.hasCompleteHead() && !overflowed) {
        reset();
        return false;
    }
    if (!parse(socket.head(), overflowed))
        return false;
    socket.beginBody(contentLength, expectContinue);
    // After a head cut at the buffer the connection cannot go on: say so in the answer.
    if (refusal || overflowed)
        socket.setKeepAlive(false);
    return true;
}

bool HTTP_Request::parse(QByteArrayView head, bool overflowed)
{
    reset();
    qsizetype pos = 0;
    QByteArray line = Socket::nextLine(head, &pos).toByteArray();
    if (line.size() < 3) {
        // A request line that does not even fit the buffer.
        if (overflowed && line.isEmpty()) {
            refusal = 414;
            return true;
        }
        return false;
    }

    // Recognised by their whole names, followed by a blank.
    if (const DispatchTable::Method *method = DispatchTable::byName(line, singleFile)) {
        type = method->type;
        line.remove(0, qsizetype(qstrlen(method->name)) + 1);
    }
    if (type == Unknown)
        return true;
    const qsizetype space = line.indexOf(' ');
    if (space >= 1)
        line.truncate(space);
    parseTarget(line);

    bool transferCoded = false;
    for (;;) {
        const QByteArrayView header = Socket::nextLine(head, &pos);
        if (header.isEmpty())
            break;
        // A blank before the colon, or a line folded onto the one before, reads differently to
        // different servers on the way: refused as malformed (RFC 9112 5.1, 5.2).
        if (isBlank(header.at(0)) || blankInName(header)) {
            if (!refusal)
                refusal = 400;
            continue;
        }
        if (header.size() <= 2)
            continue;
        if (header.size() > 18 && qstrnicmp(header.data(), "transfer-encoding:", 18) == 0)
            transferCoded = header.sliced(18).trimmed().toByteArray().toLower() != "identity";
        else
            parseHeader(header);
    }

    if (transferCoded && !refusal)
        refusal = 411;
    // The body of a head that did not fit the buffer cannot be told from the head.
    if (overflowed && contentLength > 0 && !refusal)
        refusal = 400;
    return true;
}

void HTTP_Request::parseTarget(const QByteArray &target)
{
    const qsizetype mark = target.indexOf('?');
    const QByteArray rawPath = mark < 0 ? target : target.left(mark);
    if (mark >= 0)
        rawQuery = target.mid(mark + 1);
    const qsizetype hash = rawQuery.indexOf('#');
    if (hash >= 0)
        rawQuery.truncate(hash);

    path = QString::fromUtf8(QByteArray::fromPercentEncoding(rawPath));

    // Only paths inside the shared item are served: no "..", no NUL, and an absolute path.
    if (!rawPath.startsWith('/') || path.contains(QChar(0)))
        refusal = 403;
    for (const QStringView segment : QStringView(path).tokenize(u'/')) {
        if (segment == u"..")
            refusal = 403;
    }
}

void HTTP_Request::parseHeader(QByteArrayView line)
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
        userAgent = value.toByteArray();
    } else if (is("host")) {
        host = value.toByteArray();
    } else if (is("connection")) {
        // A list of tokens, without case.
        bool close = false;
        for (const QByteArray &token : value.toByteArray().split(','))
            close = close || token.trimmed().compare("close", Qt::CaseInsensitive) == 0;
        socket.setKeepAlive(!close);
    } else if (is("range")) {
        if (!value.startsWith("bytes=") || value.contains(','))
            return;
        const QList<QByteArray> pieces = value.sliced(6).toByteArray().split('-');
        if (pieces.size() == 2 && pieces.at(0).trimmed().isEmpty()) {
            bool number = false;
            const qint64 last = pieces.at(1).trimmed().toLongLong(&number);
            if (number && last >= 0) {
                rangeEnd = last;
                rangeSuffix = true;
            }
        } else if (pieces.size() == 2) {
            rangeStart = pieces.at(0).toLongLong();
            rangeEnd = pieces.at(1).toLongLong();
        } else if (pieces.size() == 1) {
            rangeEnd = pieces.at(0).toLongLong();
        }
    } else if (is("cookie")) {
        setCookie(value.toByteArray());
        // The first line with an ID cookie names the session; one the server did not issue
        // leaves the connection with the session it has (or a fresh one).
        const QNetworkCookie *id = sessionCookieRead ? nullptr : getCookie("ID");
        if (!id || !clientManager)
            return;
        sessionCookieRead = true;
        if (ClientData *named = clientManager->getClientData(id))
            bind(named);
    } else if (is("authorization")) {
        if (value.size() < 6 || qstrnicmp(value.data(), "basic ", 6) != 0)
            return;
        QByteArray decoded = QByteArray::fromBase64(value.sliced(6).trimmed().toByteArray());
        const qsizetype nul = decoded.indexOf('\0');
        if (nul >= 0)
            decoded.truncate(nul);
        credentials = QString::fromLatin1(decoded);
    } else if (is("content-length")) {
        bool ok;
        const qint64 n = parseLength(value, &ok);
        if (!ok || (lengthSeen && n != contentLength))
            refusal = 400;
        contentLength = ok ? n : 0;
        lengthSeen = true;
    } else if (is("content-type")) {
        contentType = value.toByteArray();
    } else if (is("referer")) {
        referer = value.toByteArray();
    } else if (is("depth")) {
        depth = value.toByteArray();
    } else if (is("destination")) {
        destination = value.toByteArray();
    } else if (is("overwrite")) {
        overwrite = value.toByteArray();
    } else if (is("expect")) {
        expectContinue = value.trimmed().toByteArray().toLower() == "100-continue";
    } else if (is("if-none-match")) {
        ifNoneMatch = value.trimmed().toByteArray();
    } else if (is("if-range")) {
        ifRange = value.trimmed().toByteArray();
    } else if (is("content-range")) {
        contentRange = value.trimmed().toByteArray();
    } else if (is("if")) {
        ifHeader = value.trimmed().toByteArray();
    } else if (is("timeout")) {
        timeout = value.trimmed().toByteArray();
    }
}

void HTTP_Request::end()
{
    socket.end();
    if (clientData && clientManager)
        clientData->end(clientManager->now());
}

ClientData *HTTP_Request::getClientData()
{
    if (!clientData) {
        if (clientManager) {
            clientData = clientManager->newSession();
            ++clientData->bindings;
        } else {
            clientData = new ClientData(qint64(QRandomGenerator::system()->generate64() >> 1));
            ownsClientData = true;
        }
    }
    return clientData;
}

void HTTP_Request::bind(ClientData *session)
{
    if (session == clientData)
        return;
    unbind();
    clientData = session;
    ++clientData->bindings;
}

void HTTP_Request::logIn(const QString &password)
{
    ClientData *session = getClientData();
    if (clientManager)
        bind(clientManager->renew(session, password));
    else
        session->password = password;
}

const QNetworkCookie *HTTP_Request::getCookie(const QByteArray &name) const
{
    for (const QNetworkCookie &cookie : cookies) {
        if (cookie.name() == name)
            return &cookie;
    }
    return nullptr;
}

void HTTP_Request::setCookie(const QByteArray &value)
{
    for (const QByteArray &piece : value.split(';'))
        addCookie(piece);
}

void HTTP_Request::addCookie(QByteArray piece)
{
    piece = piece.trimmed();
    const qsizetype equals = piece.indexOf('=');
    if (equals >= 1)
        cookies.append(QNetworkCookie(piece.left(equals), piece.mid(equals + 1)));
}

void HTTP_Request::setQuery(const QByteArray &query)
{
    rawQuery = query;
}

QString HTTP_Request::decodeFormValue(QByteArrayView raw)
{
    QByteArray bytes = raw.toByteArray();
    bytes.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(bytes));
}

QList<std::pair<QString, QString>> HTTP_Request::params() const
{
    QList<std::pair<QString, QString>> out;
    for (const QByteArray &item : rawQuery.split('&')) {
        if (item.isEmpty())
            continue;
        const qsizetype equals = item.indexOf('=');
        if (equals < 0)
            out.append({decodeFormValue(item), QString()});
        else
            out.append({decodeFormValue(QByteArrayView(item).first(equals)),
                        decodeFormValue(QByteArrayView(item).sliced(equals + 1))});
    }
    return out;
}

QString HTTP_Request::param(QByteArrayView name) const
{
    // Most requests have no query at all.
    if (rawQuery.isEmpty())
        return QString();
    const QString key = QString::fromUtf8(name);
    for (const auto &item : params()) {
        if (item.first == key)
            return item.second;
    }
    return QString();
}
