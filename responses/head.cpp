#include "responses/head.h"

#include "responses/fileheaders.h"
#include "responses/preconditions.h"
#include "server/http_request.h"
#include "server/sharepath.h"
#include "server/statusline.h"
#include "web/folderzip.h"

#include <fcntl.h>
#include <sys/stat.h>

Head::Head(HTTP_Request *request)
    : Dav(request)
{
}

Head::~Head() = default;

void Head::reply(QFileInfo *root)
{
    Q_UNUSED(root);
    const QString &path = request->path;
    const ShareRoot::Opened target = share().open(path, O_PATH);
    struct stat status;
    if (target.refusal == ShareRoot::Outside || target.refusal == ShareRoot::Private) {
        sendHeader(StatusLine::Forbidden, 0);
        return;
    }
    if (!target.reached() || ::fstat(target.fd.get(), &status) != 0) {
        sendHeader(StatusLine::NotFound, 0);
        return;
    }
    if (S_ISDIR(status.st_mode)) {
        if (request->param("a") == QLatin1String("zip")) {
            if (!zip)
                zip = std::make_unique<FolderZip>(this);
            zip->reply(request->path, false);
            return;
        }
        sendHeader(StatusLine::Ok, 0);
        return;
    }
    QByteArray extra;
    const qint64 size = status.st_size;
    const qint64 modifiedMs = qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
    if (Preconditions::answerConditions(this, size, modifiedMs))
        return;
    contentType = FileHeaders::describe(ShareRoot::lastName(path), size, modifiedMs, &extra);
    sendHeader(StatusLine::Ok, size, &extra);
    // With a length the head alone does not end the exchange.
    if (size > 0)
        request->socket.end();
}
