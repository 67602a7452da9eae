#include "responses/dispatchtable.h"

#include "responses/copy.h"
#include "responses/delete.h"
#include "responses/head.h"
#include "responses/http_response.h"
#include "responses/lock.h"
#include "responses/mkcol.h"
#include "responses/move.h"
#include "responses/options.h"
#include "responses/propfind.h"
#include "responses/proppatch.h"
#include "responses/put.h"
#include "responses/unlock.h"
#include "server/http_request.h"
#include "web/mfind.h"
#include "web/sharedir.h"

#include <iterator>

namespace {

using DispatchTable::Call;
using DispatchTable::Method;

// In the order of the Allow line.
const Method Methods[] = {
    {"GET", HTTP_Request::Get, ResponseKind::Folder, Call::Root, true},
    {"POST", HTTP_Request::Post, ResponseKind::Folder, Call::Root, true},
    {"PUT", HTTP_Request::Put, ResponseKind::Put, Call::RootAndProfile, false},
    {"DELETE", HTTP_Request::Delete, ResponseKind::Delete, Call::RootAndProfile, false},
    {"OPTIONS", HTTP_Request::Options, ResponseKind::Options, Call::Plain, false},
    {"PROPFIND", HTTP_Request::PropFind, ResponseKind::PropFind, Call::RootAndProfile, false},
    {"PROPPATCH", HTTP_Request::PropPatch, ResponseKind::PropPatch, Call::RootAndProfile, false},
    {"COPY", HTTP_Request::Copy, ResponseKind::Copy, Call::RootAndProfile, false},
    {"MOVE", HTTP_Request::Move, ResponseKind::Move, Call::RootAndProfile, false},
    {"MKCOL", HTTP_Request::MkCol, ResponseKind::MkCol, Call::Root, false},
    {"HEAD", HTTP_Request::Head, ResponseKind::Head, Call::Root, false},
    {"LOCK", HTTP_Request::Lock, ResponseKind::Lock, Call::Root, false},
    {"UNLOCK", HTTP_Request::UnLock, ResponseKind::UnLock, Call::Plain, false},
};

struct Factory
{
    ResponseKind kind;
    const char *code;
    Response *(*make)(Configuration *profile, HTTP_Request *request);
};

template <typename T>
Response *make(Configuration *, HTTP_Request *request)
{
    return new T(request);
}

template <typename T>
Response *makeWithProfile(Configuration *profile, HTTP_Request *request)
{
    return new T(profile, request);
}

// Indexed by ResponseKind.
constexpr Factory Factories[] = {
    {ResponseKind::Plain, "", make<Response>},
    {ResponseKind::File, "HR", makeWithProfile<HTTP_Response>},
    {ResponseKind::Folder, "SD", makeWithProfile<ShareDir>},
    {ResponseKind::Listing, "MF", make<Mfind>},
    {ResponseKind::PropFind, "PF", make<PropFind>},
    {ResponseKind::Options, "O", make<Options>},
    {ResponseKind::Head, "H", make<Head>},
    {ResponseKind::Lock, "L", make<Lock>},
    {ResponseKind::UnLock, "UL", make<UnLock>},
    {ResponseKind::Put, "PT", make<Put>},
    {ResponseKind::Delete, "D", make<Delete>},
    {ResponseKind::MkCol, "MC", make<MkCol>},
    {ResponseKind::Copy, "CP", make<Copy>},
    {ResponseKind::Move, "MV", make<Move>},
    {ResponseKind::PropPatch, "PP", make<PropPatch>},
};

constexpr bool inKindOrder()
{
    int i = 0;
    for (const Factory &f : Factories) {
        if (int(f.kind) != i++)
            return false;
    }
    return i == int(ResponseKind::PropPatch) + 1;
}
static_assert(inKindOrder(), "one factory per response kind, in the order of the kinds");

} // namespace

namespace DispatchTable {

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

const Method *begin()
{
    return std::begin(Methods);
}

const Method *end()
{
    return std::end(Methods);
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

const char *code(ResponseKind kind)
{
    return Factories[int(kind)].code;
}

Response *create(ResponseKind kind, Configuration *profile, HTTP_Request *request)
{
    const Factory &factory = Factories[int(kind)];
    Response *response = factory.make(profile, request);
    response->kind = kind;
    response->setObjectName(QLatin1String(factory.code));
    return response;
}

void call(Response *response, Call call, QFileInfo *root, Configuration *profile)
{
    switch (call) {
    case Call::Plain:
        response->reply();
        break;
    case Call::Root:
        response->reply(root);
        break;
    case Call::RootAndProfile:
        response->reply(root, profile);
        break;
    }
}

} // namespace DispatchTable
