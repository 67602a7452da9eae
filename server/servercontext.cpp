#include "server/servercontext.h"

#include "config/configuration.h"
#include "web/html_element_manager.h"

ServerContext::ServerContext()
    : thumbnails(HTML_Element_Manager::instance)
    , iconDir(QString::fromLatin1(Configuration::IconDir))
    , langPath(Configuration::LangPath)
{
}

ShareRoot &ServerContext::share() const
{
    shareRoot.use(root.absoluteFilePath(), singleFile);
    return shareRoot;
}
