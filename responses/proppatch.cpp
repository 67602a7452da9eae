#include "responses/proppatch.h"

#include "responses/davproperties.h"
#include "responses/deadproperties.h"
#include "server/http_request.h"
#include "server/httpdate.h"
#include "server/sharepath.h"
#include "server/statusline.h"

#include <QDir>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>

namespace {

using DavProperties::Live;

struct Outcome
{
    const char *status = StatusLine::Ok;
    bool isProtected = false;
};

} // namespace

PropPatch::PropPatch(HTTP_Request *request)
    : Dav(request)
{
}

void PropPatch::reply(QFileInfo *root, Configuration *config)
{
    Q_UNUSED(root);
    Q_UNUSED(config);
    ShareRoot &items = share();
    const ShareRoot::Opened item = items.open(request->path, O_PATH);
    struct stat status;
    if (item.refusal == ShareRoot::Outside || item.refusal == ShareRoot::Private) {
        sendHeader(StatusLine::Forbidden, 0);
        return;
    }
    if (!item.reached() || ::fstat(item.fd.get(), &status) != 0
        || !(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode))) {
        sendHeader(StatusLine::NotFound, 0);
        return;
    }
    QList<DavProperties::Update> updates;
    if (!DavProperties::readPropertyUpdate(request->body, &updates)) {
        sendHeader(StatusLine::BadRequest, 0);
        return;
    }

    // Every instruction is looked at before anything changes.
    QList<Outcome> outcomes(updates.size());
    std::optional<struct timespec> modified;
    bool refused = false;
    for (qsizetype i = 0; i < updates.size(); ++i) {
        const DavProperties::Update &update = updates.at(i);
        const Live kind = DavProperties::live(update.name);
        if (!DavProperties::isSettable(kind) || (kind != Live::None && update.remove)) {
            outcomes[i] = {StatusLine::Forbidden, true};
        } else if (kind != Live::None) {
            struct timespec when;
            if (HttpDate::parseTime(update.text.toUtf8(), &when))
                modified = when;
            else
                outcomes[i].status = StatusLine::Conflict;
        }
        refused = refused || outcomes.at(i).status[0] != '2';
    }

    const Descriptor fd(DeadProperties::reopen(item.fd.get(), S_ISDIR(status.st_mode)));
    if (!refused) {
        // The stored properties, each with what it held before, so that a refusal undoes them.
        QList<std::pair<qsizetype, std::optional<QByteArray>>> done;
        bool stored = false;
        for (qsizetype i = 0; i < updates.size() && !refused; ++i) {
            const DavProperties::Update &update = updates.at(i);
            if (DavProperties::live(update.name) != Live::None)
                continue;
            std::optional<QByteArray> before = fd.isOpen() ? DeadProperties::read(fd.get(), update.name) : std::nullopt;
            const int error = fd.isOpen() ? DeadProperties::write(fd.get(), update.name,
                                                                  update.remove ? std::nullopt
                                                                                : std::optional<QByteArray>(update.element))
                                          : EACCES;
            if (error) {
                outcomes[i].status = error == EACCES || error == EPERM ? StatusLine::Forbidden : StatusLine::InsufficientStorage;
                refused = true;
            } else {
                done.append({i, std::move(before)});
                stored = stored || !update.remove;
            }
        }
        if (!refused && modified) {
            const struct timespec times[2] = {{0, UTIME_OMIT}, *modified};
            if (!fd.isOpen() || ::futimens(fd.get(), times) != 0) {
                for (qsizetype i = 0; i < updates.size(); ++i) {
                    if (DavProperties::live(updates.at(i).name) != Live::None)
                        outcomes[i].status = StatusLine::Forbidden;
                }
                refused = true;
            }
        }
        if (refused) {
            for (auto it = done.crbegin(); it != done.crend(); ++it)
                DeadProperties::write(fd.get(), updates.at(it->first).name, it->second);
        } else if (stored) {
            // Listings of the folder look for properties of its entries from now on.
            const ShareRoot::Place place = items.place(request->path);
            if (place.reached())
                DeadProperties::markFolder(place.folder.get());
        }
    }
    if (refused) {
        for (Outcome &outcome : outcomes) {
            if (outcome.status[0] == '2')
                outcome.status = StatusLine::FailedDependency;
        }
    }

    init(&body);
    body += "D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>";
    body += href(QDir::cleanPath(u'/' + request->path));
    body += "</D:href>";
    for (qsizetype i = 0; i < updates.size(); ++i) {
        body += "<D:propstat><D:prop>";
        DavProperties::appendEmpty(&body, updates.at(i).name, "D:");
        body += "</D:prop><D:status>HTTP/1.1 ";
        body += outcomes.at(i).status;
        body += "</D:status>";
        if (outcomes.at(i).isProtected)
            body += "<D:error><D:cannot-modify-protected-property/></D:error>";
        body += "</D:propstat>";
    }
    body += "</D:response></D:multistatus>";
    sendHeader(StatusLine::MultiStatus, body.size());
    request->socket.write(body, true);
}
