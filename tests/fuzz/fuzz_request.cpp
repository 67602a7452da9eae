// The request head as bytes: the header table, Range and If-Range, Cookie, Basic
// credentials, the target's path and query, form bodies as parameters, the Destination header
// and the containment of every path in the share.
//
// Input: a request head; whatever follows its empty line is also taken as a url-encoded form
// body.

#include "fuzzsupport.h"

#include "responses/dav.h"
#include "responses/byterange.h"
#include "responses/lock.h"
#include "responses/preconditions.h"
#include "server/clientmanager.h"
#include "server/http_request.h"
#include "server/servercontext.h"
#include "server/sharepath.h"
#include "server/socket.h"

#include <QFileInfo>

#include <fcntl.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::ensureApplication();
    Fuzz::Tree &tree = Fuzz::Tree::instance();
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));

    ClientManager sessions;
    HTTP_Request request;
    request.clientManager = &sessions;
    // The head as the socket announces it: up to the empty line, or cut at the longest head.
    constexpr qsizetype Longest = RequestFraming::MaxHeadSize;
    const qsizetype blank = input.indexOf("\r\n\r\n");
    const bool complete = blank >= 0 && blank + 4 <= Longest;
    const QByteArrayView head = complete ? QByteArrayView(input).first(blank + 4)
                                         : QByteArrayView(input).first(qMin(input.size(), Longest));
    RequestParser::Result parsed = RequestParser::parse(head, !complete && input.size() >= Longest, false);
    if (parsed.status == RequestParser::Status::NoRequestLine)
        return 0;
    static_cast<RequestHead &>(request) = std::move(parsed.head);
    request.status = parsed.status;
    if (request.contentLength < 0 && !(request.chunked && request.contentLength == RequestHead::UnknownLength))
        Fuzz::fail("negative Content-Length accepted");

    // Parameters from a form body.
    if (complete) {
        request.setQuery(input.mid(blank + 4));
        (void)request.params();
    }
    // The range asked for, applied to files of a few sizes.
    for (const qint64 fileSize : {qint64(0), qint64(1), qint64(1000), qint64(5) << 30}) {
        qint64 offset = -1;
        qint64 count = -1;
        const int status = ByteRange::choose(request.rangeStart, request.rangeEnd, request.rangeSuffix,
                                                    fileSize, &offset, &count);
        if (status == 206 && (offset < 0 || count < 1 || offset + count > fileSize))
            Fuzz::fail("range outside the file", QByteArray::number(offset) + ' ' + QByteArray::number(count));
        if (status == 206 && request.rangeSuffix && offset + count != fileSize)
            Fuzz::fail("a suffix range that does not end with the file");
        if (status == 200 && (offset != 0 || count != fileSize))
            Fuzz::fail("whole file answered with another extent");
    }

    // The validator a resumed download names.
    (void)Preconditions::ifRangeHolds(request.ifRange, 1000, 1614834367000);

    // The session named by a cookie, the WebDAV header values.
    (void)request.getClientData();
    (void)Preconditions::parseIf(request.ifHeader);
    (void)Lock::timeoutOf(request.timeout);
    // The conditions, on a file and on nothing: a request that asks nothing goes on.
    const Preconditions::Item file{true, Preconditions::entityTag(1000, 1614834367000), 1614834367};
    for (const Preconditions::Item &item : {file, Preconditions::Item()}) {
        for (const bool safe : {true, false}) {
            const Preconditions::Outcome outcome = Preconditions::evaluate(request, item, safe);
            if (outcome == Preconditions::Outcome::NotModified && !safe)
                Fuzz::fail("304 for a change");
        }
    }

    // A path that passed the parser stays in the share, and so does a Destination that passes:
    // never through "..", nor through the tree's links out of it.
    static ServerContext context;
    context.root = QFileInfo(tree.share());
    request.context = &context;
    if (request.status == RequestParser::Status::Parsed) {
        if (request.path.contains(QChar(0)) || !request.path.startsWith(u'/'))
            Fuzz::fail("a path with NUL or without a leading slash passed", request.path.toUtf8());
        for (const QStringView segment : QStringView(request.path).split(u'/')) {
            if (segment == u"..")
                Fuzz::fail("a path with .. passed", request.path.toUtf8());
        }
        (void)context.share().open(request.path, O_PATH);
    }
    Dav dav(&request);
    QString destination;
    if (dav.destination(&context.root, &destination) == 0) {
        QStringList names = destination.split(u'/', Qt::SkipEmptyParts);
        names.removeAll(QStringLiteral("."));
        if (names.contains(QStringLiteral("..")) || names.value(0) == QLatin1String("out")
            || names.value(0) == QLatin1String("secretlink")
            || (names.value(0) == QLatin1String("sub") && names.value(1) == QLatin1String("secretlink")))
            Fuzz::fail("a Destination outside the share passed", destination.toUtf8());
    }
    Fuzz::settle();
    return 0;
}
