#ifndef DISPATCHTABLE_H
#define DISPATCHTABLE_H

#include "server/response.h"

#include <QByteArray>
#include <QByteArrayView>

class Configuration;
class HTTP_Request;
class QFileInfo;

// The methods the server answers and the response that answers each, in one table: the request
// parser recognises the names of this table, the connection handler makes and calls the
// response a row names, and OPTIONS lists the same names in its Allow line.
namespace DispatchTable {

// Which of the response's request operations a method calls.
enum class Call {
    Plain,          // reply()
    Root,           // reply(root)
    RootAndProfile, // reply(root, profile)
};

struct Method
{
    const char *name;
    int type; // HTTP_Request::Type
    ResponseKind kind;
    Call call;
    // Also answered when the share is a single file.
    bool singleFile;
};

// The row of the method named at the start of `requestLine` (the whole name, followed by a
// blank), or null. `singleFile` leaves out the methods a shared single file does not answer.
const Method *byName(QByteArrayView requestLine, bool singleFile);
// The row of a request type, or null.
const Method *byType(int type);
const Method *begin();
const Method *end();

// The value of the Allow header: every name of the table, in its order.
QByteArray allowed();

// The dispatch code of a response kind ("HR", "SD", ...), its QObject name.
const char *code(ResponseKind kind);
// A new response of `kind` for `request` (a child of its socket).
Response *create(ResponseKind kind, Configuration *profile, HTTP_Request *request);
// Calls the request operation `call` of `response`.
void call(Response *response, Call call, QFileInfo *root, Configuration *profile);

} // namespace DispatchTable

#endif
