#include "server/servercontext.h"

#include "config/configuration.h"
#include "server/responder.h"

ServerContext::ServerContext()
    : responder(&Responder::standard())
    , thumbnails(responder->thumbnails())
    , iconDir(QString::fromLatin1(Configuration::IconDir))
    , langPath(Configuration::LangPath)
{
}

LockManager &ServerContext::locks() const
{
    const QString shared = root.absoluteFilePath();
    if (shared != lockedShare) {
        lockTable.clear();
        lockedShare = shared;
    }
    return lockTable;
}

ShareRoot &ServerContext::share() const
{
    shareRoot.use(root.absoluteFilePath(), singleFile);
    return shareRoot;
}
