#include "server/methodtable.h"

#include "server/requesthead.h"

namespace {

using MethodTable::Call;
using MethodTable::Method;

// In the order of the Allow line.
const Method Methods[] = {
    {"GET", RequestHead::Get, ResponseKind::Folder, Call::Root, true},
    {"POST", RequestHead::Post, ResponseKind::Folder, Call::Root, true},
    {"PUT", RequestHead::Put, ResponseKind::Put, Call::RootAndProfile, false},
    {"DELETE", RequestHead::Delete, ResponseKind::Delete, Call::RootAndProfile, false},
    {"OPTIONS", RequestHead::Options, ResponseKind::Options, Call::Plain, false},
    {"PROPFIND", RequestHead::PropFind, ResponseKind::PropFind, Call::RootAndProfile, false},
    {"PROPPATCH", RequestHead::PropPatch, ResponseKind::PropPatch, Call::RootAndProfile, false},
    {"COPY", RequestHead::Copy, ResponseKind::Copy, Call::RootAndProfile, false},
    {"MOVE", RequestHead::Move, ResponseKind::Move, Call::RootAndProfile, false},
    {"MKCOL", RequestHead::MkCol, ResponseKind::MkCol, Call::Root, false},
    {"HEAD", RequestHead::Head, ResponseKind::Head, Call::Root, false},
    {"LOCK", RequestHead::Lock, ResponseKind::Lock, Call::Root, false},
    {"UNLOCK", RequestHead::UnLock, ResponseKind::UnLock, Call::Plain, false},
};

} // namespace

namespace MethodTable {

const Method *byName(QByteArrayView requestLine, bool singleFile)
{
    for (const Method &m : Methods) {
        if (singleFile && !m.singleFile)
            continue;
        const qsizetype length = qsizetype(qstrlen(m.name));
        if (requestLine.size() > length && requestLine.startsWith(m.name) && requestLine.at(length) == ' ')
            return &m;
    }
    return nullptr;
}

const Method *byType(int type)
{
    for (const Method &m : Methods) {
        if (m.type == type)
            return &m;
    }
    return nullptr;
}

QByteArray allowed()
{
    QByteArray line;
    for (const Method &m : Methods) {
        if (!line.isEmpty())
            line += ", ";
        line += m.name;
    }
    return line;
}

} // namespace MethodTable
