#ifndef REQUESTPARSER_H
#define REQUESTPARSER_H

#include "server/requesthead.h"

#include <QByteArrayView>

// Reads a request head from bytes: the request line and the header lines up to the empty line.
// Nothing else is touched: what the head means for the connection (keep-alive, the session its
// cookie names) is applied by the connection handler afterwards.
class RequestParser
{
public:
    enum class Status {
        Parsed,
        NoRequestLine,  // nothing to answer: the connection ends
        UnknownMethod,  // 405; the header lines are not read
        BadRequest,     // 400: malformed framing: a body that cannot be told from the head
        Forbidden,      // 403: a path that leaves the share
        UriTooLong,     // 414: a request line that does not fit the longest head
        HeadTooLarge,   // 431: a head that does not fit the longest head
    };

    struct Result
    {
        Status status = Status::NoRequestLine;
        RequestHead head;
    };

    // `bytes` is the head as the socket holds it; `overflowed` says that it did not end within
    // the longest head (it is refused, never read). A listener that shares a single file knows
    // only GET and POST.
    static Result parse(QByteArrayView bytes, bool overflowed, bool singleFile);

    // The status line that answers a refusing status; null for Parsed and NoRequestLine.
    static const char *statusLine(Status status);
};

#endif
