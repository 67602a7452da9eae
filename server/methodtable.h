#ifndef METHODTABLE_H
#define METHODTABLE_H

#include "server/response.h"

#include <QByteArray>
#include <QByteArrayView>

// The methods the server answers and the kind of response that answers each, in one table: the
// request parser recognises the names of this table, the dispatcher makes and calls the response
// a row names, and OPTIONS lists the same names in its Allow line.
namespace MethodTable {

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

// The value of the Allow header: every name of the table, in its order.
QByteArray allowed();

} // namespace MethodTable

#endif
