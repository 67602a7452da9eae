#include "config/configuration.h"
#include "responses/accesspolicy.h"
#include "responses/copy.h"
#include "responses/delete.h"
#include "responses/head.h"
#include "responses/http_response.h"
#include "responses/lock.h"
#include "responses/mkcol.h"
#include "responses/move.h"
#include "responses/options.h"
#include "responses/preconditions.h"
#include "responses/propfind.h"
#include "responses/proppatch.h"
#include "responses/put.h"
#include "responses/unlock.h"
#include "server/http_request.h"
#include "server/methodtable.h"
#include "server/servercontext.h"
#include "server/statusline.h"
#include "web/html_element_manager.h"
#include "web/mfind.h"
#include "web/sharedir.h"

namespace {

using MethodTable::Call;

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

// The access rules first, then the response of the method's row.
class Dispatcher final : public Responder
{
public:
    const char *admission(const HTTP_Request &request, QByteArrayView localHost) const override
    {
        return AccessPolicy::admission(request, *request.context, localHost);
    }
    bool isAttempt(const HTTP_Request &request, const Configuration &profile) const override
    {
        return AccessPolicy::isAttempt(request, profile);
    }
    bool accept(HTTP_Request &request, const Configuration &profile) const override
    {
        return AccessPolicy::accept(request, profile);
    }
    void refuse(HTTP_Request &request, const Configuration &profile, const ResponseFor &responseFor) const override
    {
        AccessPolicy::refuse(request, profile, responseFor);
    }
    const char *refusal(const HTTP_Request &request) const override
    {
        if (const char *refused = AccessPolicy::refusal(request, *request.context))
            return refused;
        // The conditions and locks of what the request would change.
        return Preconditions::refusal(request, *request.context);
    }
    const char *dispatch(HTTP_Request &request, QFileInfo *root, Configuration *profile,
                         const ResponseFor &responseFor) const override;
    Response *create(ResponseKind kind, Configuration *profile, HTTP_Request *request) const override;
    HTML_Element_Manager *thumbnails() const override { return HTML_Element_Manager::instance; }
};

const char *Dispatcher::dispatch(HTTP_Request &request, QFileInfo *root, Configuration *profile,
                                 const ResponseFor &responseFor) const
{
    if (request.singleFile) {
        responseFor(ResponseKind::File)->reply(root);
        return nullptr;
    }
    const MethodTable::Method *method = MethodTable::byType(request.type);
    if (!method)
        return StatusLine::MethodNotAllowed;
    // The applet's listing asks by PROPFIND too.
    const ResponseKind kind = method->kind == ResponseKind::PropFind && request.userAgent == "mc"
                                  ? ResponseKind::Listing
                                  : method->kind;
    Response *response = responseFor(kind);
    switch (method->call) {
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
    return nullptr;
}

Response *Dispatcher::create(ResponseKind kind, Configuration *profile, HTTP_Request *request) const
{
    const Factory &factory = Factories[int(kind)];
    Response *response = factory.make(profile, request);
    response->kind = kind;
    response->setObjectName(QLatin1String(factory.code));
    return response;
}

} // namespace

const Responder &Responder::standard()
{
    static const Dispatcher dispatcher;
    return dispatcher;
}

