#include "web/sharedir.h"

#include "config/configuration.h"
#include "responses/filetypes.h"
#include "responses/messagepages.h"
#include "responses/preconditions.h"
#include "responses/textcoding.h"
#include "server/clientdata.h"
#include "server/folderlisting.h"
#include "server/http_request.h"
#include "server/servercontext.h"
#include "server/sharepath.h"
#include "server/statusline.h"
#include "web/deletedir.h"
#include "web/folderzip.h"
#include "web/html_element.h"
#include "web/html_element_manager.h"
#include "web/paging.h"
#include "web/shortdates.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char Jscript[] = "<script type=\"text/javascript\">";
const char readValJs[] =
    "function checkFolder(item){if(item.checked){if(!confirm('Delete all files in folder ' + "
    "item.value + '?')){item.checked = false;return false;}}return true;}function read_value(){"
    "if(document.fl.d[0] == null) return checkFolder(document.fl.d);for(var i=0; i < "
    "document.fl.d.length; i++){if(!checkFolder(document.fl.d[i]))return false;}return true;}";
const char checkValJs[] =
    "function checkVal(val, msg){if(val == ''){alert(msg);return false;}return true;}";
const char fileManagerJs[] =
    "function resize(){var w,h;var mw=1600,mh=1200;if (navigator.appName.indexOf(\"Microsoft\") "
    "!= -1){w=document.body.clientWidth;h=document.body.clientHeight;}else{w=window.innerWidth;"
    "h=window.innerHeight;}if(w>mw)w=mw;if(h>mh)h=mh;h=h-40;document.mc.setSize(w,h);"
    "window.scroll(0,0);}window.onResize=resize;window.onLoad=resize;"
    "document.body.style.overflow='hidden';";
const char PageHead[] = "<html><head><title>Tessaly</title>";
const char Refresh[] = "<meta http-equiv=\"refresh\" content=\"2\"/>";
// Right after "<html><head>".
constexpr int RefreshAt = 12;
const char HtmlType[] = "text/html; charset=UTF-8";
const char HomePage[] = "http://tessaly.net/";
const char JavaDownload[] = "http://java.sun.com/products/autodl/j2se";

constexpr bool startsWith(const char *text, const char *prefix)
{
    return !*prefix || (*text == *prefix && startsWith(text + 1, prefix + 1));
}
static_assert(startsWith(ShareDir::ClientArchivePath, HTML_Element::IconPrefix),
              "the client archive lies in the icon folder");

// How long a browser may keep an asset whose address names its version.
const char Immutable[] = "max-age=31536000, immutable";
// The most entries a responsive page holds.
constexpr qint64 MostPerPage = 10000;

// Sort orders kept in the session.
enum SortOrder { ByName = 0, ByTime = 1, BySize = 2 };

// A form or page parameter holding a whole number; false when it holds none.
bool toNumber(const QString &text, qint64 *value)
{
    bool ok = false;
    const qint64 n = text.trimmed().toLongLong(&ok);
    if (ok)
        *value = n;
    return ok;
}

// A Host header value of the form host[:port] (a name, an IPv4 or a bracketed IPv6 address).
bool isHostValue(const QByteArray &host)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(?:[A-Za-z0-9](?:[A-Za-z0-9.-]*[A-Za-z0-9])?|\\[[0-9A-Fa-f:.]+\\])(?::[0-9]{1,5})?$"));
    return !host.isEmpty() && host.size() <= 261
           && pattern.match(QString::fromLatin1(host)).hasMatch();
}

} // namespace

ShareDir::ShareDir(Configuration *config, HTTP_Request *request)
    : HTTP_Response(config, request)
{
}

ShareDir::~ShareDir() = default;

// ---------------------------------------------------------------- dispatch

void ShareDir::reply(QFileInfo *root)
{
    rootPath = root->absoluteFilePath();
    ClientData *session = request->getClientData();
    const QString a = request->param("a");
    thumbnails = config->isThumbnail();
    deleteEnabled = config->isDelete();
    disposition = Disposition::Classic;
    form.withFolders = config->isResponsive();
    if (request->type == HTTP_Request::Post)
        post(a, session);
    else
        get(a, session);
}

void ShareDir::post(const QString &a, ClientData *session)
{
    if (config->isResponsive()) {
        postResponsive(a, session);
        return;
    }
    const QString &path = request->path;
    const QByteArray utf8Path = path.toUtf8();
    // The forms have no action: they post to the page's own URL, whose query may still hold a
    // page link's "a=p". A form upload (the only multipart form) is an upload all the same.
    if (a.isEmpty() || request->contentType.startsWith("multipart/form-data")) {
        saveFileTo(path);
        return; // the answer follows in reply(int)
    }
    if (a == QLatin1String("up")) {
        sendUpload(utf8Path);
        return;
    }
    if (a == QLatin1String("upm")) {
        sendFileBrowser(utf8Path);
        return;
    }
    if (a == QLatin1String("upfm")) {
        sendJNLP(utf8Path);
        return;
    }
    if (a == QLatin1String("cf")) {
        sendCreate(utf8Path);
        return;
    }
    if (a == QLatin1String("c")) {
        qint64 size = 0;
        // Zero, negative or no number: the page size stays as it is.
        if (toNumber(request->param("cv"), &size) && size >= 1)
            session->pageSize = int(qMin<qint64>(size, INT_MAX));
    } else if (a == QLatin1String("n")) {
        session->sortFlags = ByName;
    } else if (a == QLatin1String("s")) {
        session->sortFlags = BySize;
    } else if (a == QLatin1String("t")) {
        session->sortFlags = ByTime;
    } else if (a == QLatin1String("del")) {
        deleteItems(session);
    } else if (a == QLatin1String("cfd")) {
        createFolder(session);
    } else if (a == QLatin1String("log")) {
        // The login page posts to the address that was asked for: after logging in, a file
        // is what the browser wanted, not a page of it.
        ShareRoot::Opened target = request->context->share().open(path, ShareRoot::ReadFlags);
        struct stat status;
        if (target.reached() && ::fstat(target.fd.get(), &status) == 0 && !S_ISDIR(status.st_mode)) {
            sendOpened(target.fd.release(), status, ShareRoot::lastName(path));
            return;
        }
    } else {
        session->message = "Unknown request " + TextCoding::escaped(a);
    }
    sendDir(path);
}

void ShareDir::get(const QString &a, ClientData *session)
{
    const QString &path = request->path;
    if (path.startsWith(QLatin1String(HTML_Element::IconPrefix))) {
        // Only one plain name inside the icon folder.
        const QString name = path.mid(HTML_Element::IconPrefixLength);
        const QString icon = request->context->iconDir + name;
        if (!ShareRoot::isPlainName(name))
            MessagePages::sendNotFound(this);
        else if (config->isResponsive())
            sendAsset(name);
        else
            sendFile(icon);
        return;
    }
    if (path.startsWith(QLatin1String(HTML_Element::ThumbnailPrefix))) {
        sendThumbnail(path.mid(HTML_Element::ThumbnailPrefixLength));
        return;
    }
    // The responsive pages show in the browser what it can show; "dl" asks for a download.
    if (config->isResponsive())
        disposition = request->param("dl").isEmpty() ? Disposition::Inline : Disposition::Download;
    // The file system is asked once, by the attempt to send a file: what it opens is sent, or
    // listed.
    Descriptor folder;
    if (sendShared(path, &folder))
        return;
    if (a == QLatin1String("zip")) {
        sendArchive(path);
        return;
    }
    if (a == QLatin1String("find")) {
        find(path);
        return;
    }
    if (config->isResponsive()) {
        sendResponsiveDir(path, std::move(folder), takeView(session));
        return;
    }
    if (a == QLatin1String("p")) {
        qint64 page = 0;
        toNumber(request->param("p"), &page);
        session->page = int(qBound<qint64>(0, page, qint64(INT_MAX)));
    }
    sendDir(path, std::move(folder));
}

void ShareDir::sendThumbnail(const QString &relative)
{
    QString thumbnail;
    // The file is named by its path in the share, never by where the share lies; thumbnails of
    // files outside this share are not this listener's to give.
    const QString path = QDir::cleanPath(rootPath + u'/' + relative);
    // The responsive pages ask for their larger thumbnails.
    const HTML_Element::Rule rule = config->isResponsive() && !request->param("b").isEmpty()
                                        ? HTML_Element::Rule::EveryPicture
                                        : HTML_Element::Rule::Classic;
    if (HTML_Element_Manager *manager = request->context->thumbnails) {
        const QString below = rootPath == QLatin1String("/") ? QStringLiteral("/") : rootPath + u'/';
        if (path.startsWith(below) && path.size() > below.size()
            && request->context->share().open(QStringView(path).sliced(below.size() - 1), O_PATH).reached())
            thumbnail = manager->getTempFile(path, rule);
    }
    sendFile(thumbnail);
}

void ShareDir::sendArchive(const QString &path)
{
    if (!zip)
        zip = std::make_unique<FolderZip>(this);
    zip->reply(path, true);
}

void ShareDir::find(const QString &path)
{
    const QString text = request->param("q");
    qint64 pageIndex = 0;
    toNumber(request->param("p"), &pageIndex);
    NameSearch::find(request->context->share(), path, text, config->isFolder(), request->getClientData()->showList, this,
                     [this, path, text, pageIndex](const NameSearch::Result &result) {
                         if (!config->isResponsive()) {
                             sendFound(path, text, pageIndex, result);
                             return;
                         }
                         QList<ResponsivePage::Entry> entries;
                         entries.reserve(result.matches.size());
                         for (const NameSearch::Match &match : result.matches)
                             entries.append({match.path, match.size, match.modified, match.folder});
                         sendFound(text, entries, result.cut);
                     });
}

void ShareDir::sendFound(const QString &path, const QString &text, qint64 pageIndex, const NameSearch::Result &result)
{
    ClientData *session = request->getClientData();
    QString prefix = path;
    if (!prefix.endsWith(u'/'))
        prefix += u'/';
    QByteArray page = PageHead;
    page += "</head><body><table><tr><td><b><a href=\"";
    page += HTML_Element::link(prefix);
    page += "\">..";
    page += TextCoding::escaped(prefix);
    page += "</a></b></td></tr></table><h2>";
    page += TextCoding::escaped(tr("Found"));
    page += ": ";
    page += TextCoding::escaped(text);
    page += "</h2>";
    if (result.cut) {
        page += "<p>";
        page += TextCoding::escaped(tr("The search stopped early: more may match."));
        page += "</p>";
    }
    page += "<table border=\"1\" frame=\"border\">";
    // Paged like the folder.
    const qint64 count = result.matches.size();
    const qint64 pageSize = session->pageSize >= 1 ? session->pageSize : DefaultPageSize;
    qint64 start = pageSize * qMax<qint64>(0, pageIndex);
    if (start >= count || start < 0) {
        start = 0;
        pageIndex = 0;
    }
    if (count == 0) {
        page += "<tr><td><h2>";
        page += TextCoding::escaped(tr("Nothing found"));
        page += "</h2></td></tr>";
    } else {
        QByteArray linkPrefix;
        TextCoding::appendPercentEncoded(&linkPrefix, prefix.toUtf8(), TextCoding::Kept::PageLink);
        QByteArray folderText;
        TextCoding::appendEscaped(&folderText, tr("Folder").toUtf8());
        ShortDates dates;
        HTML_Element::Cell cell;
        cell.linkPrefix = linkPrefix;
        const qint64 stop = qMin(count, start + pageSize);
        for (qint64 i = start; i < stop; ++i) {
            const NameSearch::Match &match = result.matches.at(i);
            const QByteArray name = match.path.toUtf8();
            cell.name = name;
            cell.size = match.size;
            cell.modified = match.modified;
            cell.folder = match.folder;
            page += "<tr>";
            HTML_Element::writeTextCell(&page, cell, false, folderText, &dates);
            page += "</tr>";
        }
    }
    page += "</table>";
    const qint64 pages = (count + pageSize - 1) / pageSize;
    if (pages > 1) {
        QByteArray query = "?a=find&amp;q=";
        TextCoding::appendPercentEncoded(&query, text.toUtf8(), TextCoding::Kept::PageLink);
        query += "&amp;p=";
        page += "<table><tr><td>Pages: ";
        for (qint64 n = 1; n <= pages; ++n) {
            if (n - 1 == pageIndex)
                page += "<b>" + QByteArray::number(n) + "</b> ";
            else
                page += "<a href=\"" + query + QByteArray::number(n - 1) + "\">" + QByteArray::number(n) + "</a> ";
        }
        page += "</td></tr></table>";
    }
    page += "</body></html>";
    sendPage(page);
}

// ---------------------------------------------------------------- actions

void ShareDir::deleteItems(ClientData *session)
{
    deletedCount = 0;
    // The message names the items as the share sees them.
    QString shown = request->path;
    if (!shown.endsWith(u'/'))
        shown += u'/';
    ShareRoot &share = request->context->share();
    const ShareRoot::Opened folder = share.open(shown, O_PATH | O_DIRECTORY);
    const auto items = request->params();
    for (const auto &[name, value] : items) {
        if (name == QLatin1String("a"))
            continue;
        // A value that is not one plain name is never acted on.
        const bool plain = ShareRoot::isPlainName(value);
        if (name == QLatin1String("d")) {
            DeleteDir dir(folder.fd.get(), value.toLocal8Bit(), &share);
            if (!plain || !folder.reached() || !dir.deleteDir())
                session->message += " delete " + TextCoding::escaped(shown + value) + " failed,";
            deletedCount += dir.getDeleted();
        } else if (plain && folder.reached() && ::unlinkat(folder.fd.get(), value.toLocal8Bit().constData(), 0) == 0) {
            ++deletedCount;
        }
    }
    session->message += QByteArray::number(deletedCount) + " file removed. ";
}

void ShareDir::createFolder(ClientData *session)
{
    const QString name = request->param("f");
    QString path = request->path;
    if (!path.endsWith(u'/'))
        path += u'/';
    ShareRoot &share = request->context->share();
    const ShareRoot::Opened folder = share.open(path, O_PATH | O_DIRECTORY);
    if (!ShareRoot::isPlainName(name) || !folder.reached()) {
        session->message = "Create new folder failed";
    } else if (share.open(path + name, O_PATH | O_DIRECTORY).reached()) {
        session->message = "Folder create failed: Folder exists";
    } else if (::mkdirat(folder.fd.get(), name.toLocal8Bit().constData(), 0777) == 0) {
        session->message = "New folder created";
    } else {
        session->message = "Create new folder failed";
    }
}

void ShareDir::reply(int code)
{
    const UploadResult result = finishUpload(code);
    // The connection is gone (or going): the file is cleaned up, nobody reads a page.
    if (request->socket.isClosing())
        return;
    if (config->isResponsive() && fromScript()) {
        // The page's script sends one file at a time and shows what became of it.
        static const char *const statuses[] = {StatusLine::Ok, StatusLine::InternalServerError, StatusLine::BadRequest,
                                               StatusLine::InsufficientStorage, StatusLine::BadRequest, StatusLine::Conflict,
                                               StatusLine::BadRequest};
        sendText(statuses[int(result)], FormUpload::message(result));
        return;
    }
    request->getClientData()->message = FormUpload::message(result);
    if (config->isResponsive())
        seeFolder();
    else
        sendDir(request->path);
}

// ---------------------------------------------------------------- the folder page

void ShareDir::addOption(QByteArray *page, const char *label, const char *value, bool selected)
{
    *page += "<option value=\"";
    *page += value;
    *page += '"';
    if (selected)
        *page += " SELECTED";
    *page += '>';
    *page += TextCoding::escaped(tr(label));
    *page += "</option>";
}

void ShareDir::addForm(QByteArray *page, const char *value, const char *name)
{
    *page += "<form method=\"post\"";
    if (name) {
        *page += " name=\"";
        *page += name;
        *page += '"';
    }
    *page += "><input type=\"hidden\" name=\"a\" value=\"";
    *page += value;
    *page += "\">";
}

void ShareDir::writeDirFile(const HTML_Element::Cell &cell, const QByteArray &folderText,
                            ShortDates *dates, QByteArray *page) const
{
    HTML_Element::writeTextCell(page, cell, deleteEnabled, folderText, dates);
}

bool ShareDir::openFolder(const QString &path, Descriptor *folder)
{
    if (folder->isOpen())
        return true;
    ShareRoot &share = request->context->share();
    ShareRoot::Opened opened = share.open(path, O_PATH | O_DIRECTORY);
    // A share that is gone answers as a missing file does; any other folder that cannot be read
    // lists as empty.
    if (!opened.reached() && share.isGone()) {
        MessagePages::sendNotFound(this);
        return false;
    }
    *folder = std::move(opened.fd);
    return true;
}

QList<FolderListing::Entry> ShareDir::readFolder(const QString &path, Descriptor folder,
                                                 const FolderListing::Options &options)
{
    if (!folder.isOpen())
        return {};
    return FolderListing::read(request->context->share(), path, folder.get(), options);
}

void ShareDir::sendDir(const QString &path, Descriptor folder)
{
    ClientData *session = request->getClientData();
    if (!openFolder(path, &folder))
        return;

    // Folders (readable ones) only when the profile shows folders; folders first.
    FolderListing::Options listing;
    listing.folders = listing.readableOnly = config->isFolder();
    listing.hidden = session->showList;
    listing.foldersFirst = true;
    if (session->sortFlags == ByTime)
        listing.order = FolderListing::ByTime;
    else if (session->sortFlags == BySize)
        listing.order = FolderListing::BySize;
    const QList<FolderListing::Entry> entries = readFolder(path, std::move(folder), listing);
    const qint64 count = entries.size();

    QByteArray page;
    page.reserve(int(qMin<qint64>(80 * count + 512, 64 * 1024 * 1024)));
    // The entries' links start with the request path ending in "/".
    QString prefix = request->path;
    writeDirHead(&page, session, &prefix);

    page += "<table border=\"1\" frame=\"border\">";
    // A page past the last shows the first, and is the one stored then.
    const Paging::Page shown = Paging::choose(count, session->pageSize, DefaultPageSize, session->page,
                                              Paging::PastEnd::First);
    if (shown.index == 0 && session->page > 0)
        session->page = 0;
    bool pending = false;
    if (count == 0) {
        page += "<tr><td><h2>";
        page += TextCoding::escaped(tr("Empty"));
        page += "</h2></td></tr></table>";
    } else {
        pending = writeDirCells(&page, entries, shown, prefix, path);
        page += "</table>";
    }
    if (deleteEnabled)
        page += "</form>";
    writeDirFoot(&page, session, shown);

    if (pending) {
        page.insert(RefreshAt, Refresh);
        sendPage(page, StatusLine::Accepted);
    } else {
        sendPage(page);
    }
}

void ShareDir::writeDirHead(QByteArray *out, ClientData *session, QString *prefix) const
{
    QByteArray &page = *out;
    page += PageHead;
    if (deleteEnabled) {
        page += Jscript;
        page += readValJs;
        page += "</script>";
    }
    page += "</head>";
    if (thumbnails) {
        page += "<body background=\"";
        page += HTML_Element::IconPrefix;
        page += "sand-light.jpg\">";
    } else {
        page += "<body>";
    }
    page += "<table><tr>";

    // The parent link.
    const qsizetype slash = prefix->lastIndexOf(u'/');
    if (slash < prefix->size() - 1) {
        const QString parent = slash <= 0 ? QStringLiteral("/") : prefix->left(slash);
        page += "<td><b><a href=\"";
        page += HTML_Element::link(parent);
        page += "\">..";
        page += TextCoding::escaped(*prefix);
        page += "</a></b></td>";
        *prefix += u'/';
    }
    writeDirForms(&page, session);
    page += "</tr></table>";

    if (!session->message.isEmpty()) {
        page += session->message;
        session->message.clear();
    }
}

void ShareDir::writeDirForms(QByteArray *out, const ClientData *session) const
{
    QByteArray &page = *out;
    page += "<form method=\"POST\" name=\"s\">";
    page += "<td>Sorted by:<select name=\"a\" onchange=\"s.submit();\">";
    addOption(&page, QT_TR_NOOP("Name"), "n", session->sortFlags == ByName);
    addOption(&page, QT_TR_NOOP("Size"), "s", session->sortFlags == BySize);
    addOption(&page, QT_TR_NOOP("Time"), "t", session->sortFlags == ByTime);
    page += "</select></td></form>";

    if (config->isUpload()) {
        page += "<form method=\"POST\" name=\"af\">";
        page += "<td><select name=\"a\" onchange=\"if(af.a.selectedIndex>0){af.submit();"
                "af.a.selectedIndex=0;}\">";
        addOption(&page, QT_TR_NOOP("Select Action"), "", true);
        addOption(&page, QT_TR_NOOP("Add File"), "up", false);
        addOption(&page, QT_TR_NOOP("Create Folder"), "cf", false);
        addOption(&page, QT_TR_NOOP("File Manager in window"), "upfm", false);
        addOption(&page, QT_TR_NOOP("File Manager in browser"), "upm", false);
        page += "</select></td></form>";
    }
    if (deleteEnabled) {
        // Left open: the check boxes of the entries belong to this form.
        page += "<form method=\"POST\" name=\"fl\" onsubmit=\"return read_value()\">"
                "<input type=\"hidden\" name=\"a\" value=\"del\">";
        page += "<td><input type=\"submit\" value=\"Delete selected items\"></td>";
    }
}

bool ShareDir::writeDirCells(QByteArray *page, const QList<FolderListing::Entry> &entries, const Paging::Page &shown,
                             const QString &prefix, const QString &path) const
{
    HTML_Element_Manager *manager = thumbnails ? request->context->thumbnails : nullptr;
    // What every cell of the page shares, made once: the encoded link prefix, the folder's
    // clean absolute path (the manager knows elements by it), the folder text, the dates.
    QByteArray linkPrefix;
    TextCoding::appendPercentEncoded(&linkPrefix, prefix.toUtf8(), TextCoding::Kept::PageLink);
    QString elementPath = QDir::cleanPath(rootPath + u'/' + path);
    if (!elementPath.endsWith(u'/'))
        elementPath += u'/';
    const qsizetype elementFolder = elementPath.size();
    QByteArray folderText;
    TextCoding::appendEscaped(&folderText, tr("Folder").toUtf8());
    ShortDates dates;
    HTML_Element::Cell cell;
    cell.linkPrefix = linkPrefix;
    bool pending = false;
    for (qint64 i = shown.start; i < shown.stop; ++i) {
        const qint64 column = (i - shown.start) % EntriesPerRow;
        if (column == 0)
            *page += "<tr>";
        const FolderListing::Entry &entry = entries.at(i);
        // An unreadable entry keeps its place but shows nothing.
        if (entry.readable) {
            const QByteArray name = entry.name.toUtf8();
            cell.name = name;
            cell.size = entry.size;
            cell.modified = entry.modified;
            cell.folder = entry.folder;
            if (manager) {
                elementPath.resize(elementFolder);
                elementPath += entry.name;
                if (!manager->writeCell(page, elementPath, rootPath, cell, deleteEnabled, &dates))
                    pending = true;
            } else {
                writeDirFile(cell, folderText, &dates, page);
            }
        }
        if (column == EntriesPerRow - 1 || i == shown.stop - 1)
            *page += "</tr>";
    }
    return pending;
}

void ShareDir::writeDirFoot(QByteArray *page, const ClientData *session, const Paging::Page &shown)
{
    *page += "<table><tr>";
    addForm(page, "c");
    *page += "<td style=\"white-space: nowrap\"><input type=\"submit\"value=\"";
    *page += TextCoding::escaped(tr("Set Item/Page"));
    *page += ":\"><input type=\"text\" size=\"2\" name=\"cv\" value=\"";
    *page += QByteArray::number(session->pageSize);
    *page += "\"></td></form>";
    if (shown.count > 1) {
        *page += "<td>Pages: ";
        for (qint64 n = 1; n <= shown.count; ++n) {
            if (n - 1 == shown.index) {
                *page += "<b>" + QByteArray::number(n) + "</b> ";
            } else {
                *page += "<a href=\"?a=p&p=" + QByteArray::number(n - 1) + "\">";
                *page += QByteArray::number(n) + "</a> ";
            }
        }
        *page += "</td>";
    }
    *page += "</tr></table></body></html>";
}

void ShareDir::sendPage(const QByteArray &page, const char *status)
{
    contentType = HtmlType;
    sendHeader(status, page.size(), &PageHeaders);
    request->socket.write(page, true);
}

void ShareDir::sendText(const char *status, const QByteArray &text)
{
    contentType = "text/plain; charset=utf-8";
    sendHeader(status, text.size());
    if (!text.isEmpty())
        request->socket.write(text, true);
}

// ---------------------------------------------------------------- the responsive pages

bool ShareDir::fromScript() const
{
    return request->param("j") == QLatin1String("1");
}

void ShareDir::postResponsive(const QString &a, ClientData *session)
{
    const QString &path = request->path;
    if (a == QLatin1String("log")) {
        // The login page posts to the address that was asked for: a file is what the browser
        // wanted, a folder is shown afresh.
        ShareRoot::Opened target = request->context->share().open(path, ShareRoot::ReadFlags);
        struct stat status;
        if (target.reached() && ::fstat(target.fd.get(), &status) == 0 && !S_ISDIR(status.st_mode)) {
            disposition = Disposition::Inline;
            sendOpened(target.fd.release(), status, ShareRoot::lastName(path));
        } else {
            seeFolder();
        }
        return;
    }
    // A form of another site cannot know the token: such a request changes nothing.
    if (!session->holdsToken(request->param("t").toLatin1())) {
        if (fromScript())
            sendText(StatusLine::Forbidden, tr("Refused: reload the page and try again.").toUtf8());
        else
            sendPage(ResponsivePage::expiredPage(), StatusLine::Forbidden);
        return;
    }
    if (request->contentType.startsWith("multipart/form-data")) {
        saveFileTo(path);
        return; // the answer follows in reply(int)
    }
    if (a == QLatin1String("cfd"))
        createFolder(session);
    else if (a == QLatin1String("del") && deleteEnabled)
        deleteChosen(session);
    else
        session->message = "Unknown request " + TextCoding::escaped(a);
    seeFolder();
}

qint64 ShareDir::takeView(ClientData *session)
{
    const QString sort = request->param("s");
    if (sort == QLatin1String("n"))
        session->sortFlags = ResponsivePage::ByName;
    else if (sort == QLatin1String("t"))
        session->sortFlags = ResponsivePage::ByTime;
    else if (sort == QLatin1String("s"))
        session->sortFlags = ResponsivePage::BySize;
    const QString order = request->param("o");
    if (order == QLatin1String("a") || order == QLatin1String("d"))
        session->descending = order == QLatin1String("d");
    const QString view = request->param("v");
    if (view == QLatin1String("g") || view == QLatin1String("l"))
        session->gridView = view == QLatin1String("g");
    qint64 number = 0;
    if (toNumber(request->param("n"), &number) && number >= 1)
        session->pageSize = int(qMin<qint64>(number, MostPerPage));
    // Pages count from 1 in the address.
    return toNumber(request->param("p"), &number) ? qMax<qint64>(0, number - 1) : 0;
}

void ShareDir::sendResponsiveDir(const QString &path, Descriptor folder, qint64 pageIndex)
{
    ClientData *session = request->getClientData();
    if (!openFolder(path, &folder))
        return;
    FolderListing::Options listing;
    listing.folders = config->isFolder();
    listing.hidden = session->showList;
    listing.readableOnly = listing.foldersFirst = true;
    if (session->sortFlags == ResponsivePage::ByTime)
        listing.order = FolderListing::ByTime;
    else if (session->sortFlags == ResponsivePage::BySize)
        listing.order = FolderListing::BySize;
    QList<FolderListing::Entry> listed = readFolder(path, std::move(folder), listing);
    // The listing puts names first to last and the newest and the largest first; folders stay
    // before files either way.
    if (session->descending != (listing.order != FolderListing::ByName)) {
        const auto files = std::find_if(listed.begin(), listed.end(), [](const auto &e) { return !e.folder; });
        std::reverse(listed.begin(), files);
        std::reverse(files, listed.end());
    }

    ResponsivePage::View view;
    view.total = listed.size();
    const Paging::Page shown = Paging::choose(view.total, session->pageSize, DefaultPageSize, pageIndex,
                                              Paging::PastEnd::Last);
    view.pageSize = shown.size;
    view.page = shown.index;

    QString elementPath = QDir::cleanPath(rootPath + u'/' + path);
    if (!elementPath.endsWith(u'/'))
        elementPath += u'/';
    QList<ResponsivePage::Entry> entries;
    entries.reserve(shown.stop - shown.start);
    for (qint64 i = shown.start; i < shown.stop; ++i) {
        entries.append(responsiveEntry(listed.at(i), elementPath));
        view.pending = view.pending || entries.last().picture == ResponsivePage::Picture::Pending;
    }
    view.sort = session->sortFlags;
    view.descending = session->descending;
    sendResponsive(&view, entries);
}

ResponsivePage::Entry ShareDir::responsiveEntry(const FolderListing::Entry &e, const QString &elementFolder) const
{
    HTML_Element_Manager *manager = thumbnails ? request->context->thumbnails : nullptr;
    ResponsivePage::Entry entry;
    entry.path = e.name;
    entry.size = e.size;
    entry.modified = e.modified;
    entry.folder = e.folder;
    const FileTypes::Row *row = e.folder ? nullptr : FileTypes::find(QFileInfo(e.name).suffix().toLower());
    if (thumbnails && row && row->kind == FileTypes::Kind::Image) {
        if (row->scripted) {
            // A drawing shows itself: a picture runs no script.
            entry.picture = ResponsivePage::Picture::Itself;
        } else if (manager) {
            switch (manager->largeThumbnail(elementFolder + e.name, rootPath)) {
            case HTML_Element_Manager::Thumbnail::Pending:
                entry.picture = ResponsivePage::Picture::Pending;
                break;
            case HTML_Element_Manager::Thumbnail::Made:
                entry.picture = ResponsivePage::Picture::Thumbnail;
                break;
            case HTML_Element_Manager::Thumbnail::None:
                break;
            }
        }
    }
    return entry;
}

void ShareDir::sendFound(const QString &text, const QList<ResponsivePage::Entry> &matches, bool cutShort)
{
    ClientData *session = request->getClientData();
    ResponsivePage::View view;
    view.found = true;
    view.query = text;
    view.cutShort = cutShort;
    view.total = matches.size();
    const Paging::Page shown = Paging::choose(view.total, session->pageSize, DefaultPageSize, takeView(session),
                                              Paging::PastEnd::Last);
    view.pageSize = shown.size;
    view.page = shown.index;
    sendResponsive(&view, matches.mid(shown.start, shown.size));
}

void ShareDir::sendResponsive(ResponsivePage::View *view, const QList<ResponsivePage::Entry> &entries)
{
    ClientData *session = request->getClientData();
    view->path = request->path.endsWith(u'/') ? request->path : request->path + u'/';
    view->shareName = QFileInfo(rootPath).fileName();
    if (view->shareName.isEmpty())
        view->shareName = rootPath;
    view->token = session->formToken();
    view->message = session->message;
    session->message.clear();
    view->grid = session->gridView;
    view->upload = config->isUpload();
    view->remove = deleteEnabled;
    view->css = assetUrl("tessaly.css");
    view->script = assetUrl("tessaly.js");
    view->icons = assetUrl("icons.svg");
    sendPage(ResponsivePage::render(*view, entries));
}

QByteArray ShareDir::assetUrl(const char *name) const
{
    QByteArray url = QByteArray(HTML_Element::IconPrefix) + name;
    struct stat status;
    if (::stat(QFile::encodeName(request->context->iconDir + QLatin1String(name)).constData(), &status) == 0) {
        // A new version has a new address: the browser keeps each as long as it likes.
        const QByteArray tag = Preconditions::entityTag(status.st_size, qint64(status.st_mtim.tv_sec) * 1000
                                                             + status.st_mtim.tv_nsec / 1000000);
        url += "?v=" + tag.mid(1, tag.size() - 2);
    }
    return url;
}

void ShareDir::sendAsset(const QString &name)
{
    const QString file = request->context->iconDir + name;
    struct stat status;
    if (::stat(QFile::encodeName(file).constData(), &status) == 0 && S_ISREG(status.st_mode)) {
        const QByteArray tag = Preconditions::entityTag(status.st_size, qint64(status.st_mtim.tv_sec) * 1000
                                                              + status.st_mtim.tv_nsec / 1000000);
        const bool versioned = request->param("v").toLatin1() == tag.mid(1, tag.size() - 2);
        if (!request->ifNoneMatch.isEmpty() && (request->ifNoneMatch.contains(tag) || request->ifNoneMatch == "*")) {
            const QByteArray extra = "ETag: " + tag + "\r\n";
            cacheControl = versioned ? Immutable : NoCache;
            sendHeader(StatusLine::NotModified, 0, &extra);
            return;
        }
        cacheControl = versioned ? Immutable : NoCache;
    }
    disposition = Disposition::Inline;
    sendFile(file);
}

void ShareDir::deleteChosen(ClientData *session)
{
    QString shown = request->path;
    if (!shown.endsWith(u'/'))
        shown += u'/';
    ShareRoot &share = request->context->share();
    const ShareRoot::Opened folder = share.open(shown, O_PATH | O_DIRECTORY);
    int removed = 0;
    QByteArray failed;
    const auto items = request->params();
    for (const auto &[name, value] : items) {
        if (name != QLatin1String("n"))
            continue;
        // A value that is not one plain name is never acted on; a folder goes with all it holds,
        // a link as itself.
        bool done = false;
        if (ShareRoot::isPlainName(value) && folder.reached()) {
            const QByteArray local = value.toLocal8Bit();
            struct stat status;
            if (::fstatat(folder.fd.get(), local.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISDIR(status.st_mode)) {
                    DeleteDir dir(folder.fd.get(), local, &share);
                    done = dir.deleteDir();
                } else {
                    done = ::unlinkat(folder.fd.get(), local.constData(), 0) == 0;
                }
            }
        }
        if (done) {
            ++removed;
        } else {
            failed += failed.isEmpty() ? " " : ", ";
            failed += TextCoding::escaped(value);
        }
    }
    session->message = TextCoding::escaped(tr("%n deleted.", nullptr, removed));
    if (!failed.isEmpty())
        session->message += ' ' + TextCoding::escaped(tr("Not deleted:")) + failed + '.';
}

void ShareDir::seeFolder()
{
    QString path = request->path;
    if (!path.endsWith(u'/'))
        path += u'/';
    const QByteArray extra = "Location: " + HTML_Element::link(path) + "\r\n";
    sendHeader(StatusLine::SeeOther, 0, &extra);
}

// ---------------------------------------------------------------- forms

void ShareDir::addFormHead(QByteArray *page, const char *title) const
{
    *page += PageHead;
    *page += "<title>";
    *page += title;
    *page += "</title>";
    *page += Jscript;
    *page += checkValJs;
    *page += "</script></head>";
    if (thumbnails) {
        *page += "<body background=\"";
        *page += HTML_Element::IconPrefix;
        *page += "sand-light.jpg\">";
    } else {
        *page += "<body>";
    }
}

void ShareDir::sendUpload(QByteArray path)
{
    path.replace('+', ' ');
    QByteArray page;
    page.reserve(800);
    addFormHead(&page, "Upload");
    page += "<center><h2>Send file";
    if (path.size() > 1)
        page += " to " + TextCoding::escaped(path);
    page += "</h2>";
    page += "<form method=\"POST\" name=\"up\" enctype=\"multipart/form-data\">";
    page += "<table border=\"0\" cellspacing=\"5\"><tr><th align=\"right\">File:</th><td align=\"left\">";
    page += "<input type=\"file\" name=\"f\" size=\"40\">";
    page += "</td></tr></table>";
    page += "<input type=\"submit\" name=\"submit\" value=\"Send\" onclick=\"return checkVal(up.f.value, "
            "'No selected file');\">&nbsp;&nbsp;&nbsp;";
    page += "<input type=\"button\" value=\"Back\" onclick=\"javascript: history.go(-1);\"/>";
    page += "</form></center></body></html>";
    sendPage(page);
}

void ShareDir::sendCreate(QByteArray path)
{
    path.replace('+', ' ');
    QByteArray page;
    page.reserve(1024);
    addFormHead(&page, "Create Folder");
    page += "<center><h2>Create new folder";
    if (path.size() > 1)
        page += " in " + TextCoding::escaped(path);
    page += "</h2>";
    page += "<form method=\"POST\" name=\"cf\" onsubmit=\"return checkVal(cf.f.value, 'No folder name')\">";
    page += "<table border=\"0\" cellspacing=\"5\"><tr><th align=\"right\">New folder name:</th>"
            "<td align=\"left\">";
    page += "<input type=\"text\" name=\"f\" size=\"40\">";
    page += "</td></tr></table>";
    page += "<input type=\"submit\" name=\"submit\" value=\"Create\">&nbsp;&nbsp;&nbsp;";
    page += "<input type=\"hidden\" name=\"a\" value=\"cfd\">";
    page += "<input type=\"button\" value=\"Back\" onclick=\"javascript: history.go(-1);\"/>";
    page += "</form></center></body></html>";
    sendPage(page);
}

// ---------------------------------------------------------------- the file-manager client

void ShareDir::addParam(QByteArray *page, const char *name, const QByteArray &value)
{
    *page += "<param name=";
    *page += name;
    *page += " value=\"";
    *page += TextCoding::escaped(value);
    *page += "\">";
}

void ShareDir::addArg(QByteArray *page, const char *name, const QByteArray &value)
{
    *page += "<argument>";
    *page += name;
    *page += '=';
    *page += TextCoding::escaped(value);
    *page += "</argument>";
}

void ShareDir::sendFileBrowser(QByteArray path)
{
    path.replace('+', ' ');
    QByteArray page;
    page.reserve(800);
    page += PageHead;
    page += "</head><body onResize=\"resize()\" onLoad=\"resize()\" topmargin=\"0\" leftmargin=\"0\" "
            "marginwidth=\"0\" marginheight=\"0\">";
    page += Jscript;
    page += fileManagerJs;
    page += "</script><a href=\"";
    page += HTML_Element::link(QString::fromUtf8(path));
    page += "\"><-Back</a>&nbsp;&nbsp;&nbsp;File manager for copy selected files and folders<br>"
            "<APPLET name=\"mc\" archive=\"";
    page += ClientArchivePath;
    page += "\" code=\"kestruneclient/KestruneApplet.class\" width=1600 height=1200>";
    addParam(&page, "Cookie", QByteArray::number(request->getClientData()->id));
    if (path.size() > 1) {
        if (!path.endsWith('/'))
            path += '/';
        addParam(&page, "Path", path);
    }
    if (!request->credentials.isEmpty())
        addParam(&page, "Aut", request->credentials.toLatin1());
    page += "Java not supported in this browser.<br>Use Firefox, Crome, or IE.</APPLET></body></html>";
    sendPage(page);
}

QByteArray ShareDir::baseUrl() const
{
    QByteArray host = request->host.trimmed();
    if (!isHostValue(host)) {
        // Not something a browser sends: name this end of the connection instead.
        const QHostAddress local = request->socket.localAddress();
        QByteArray address = local.toString().toLatin1();
        if (local.protocol() == QAbstractSocket::IPv6Protocol)
            address = '[' + address + ']';
        host = address + ':' + QByteArray::number(request->socket.localPort());
    }
    return QByteArray("http") + (config->isSSLmode() ? "s" : "") + "://" + host + '/';
}

void ShareDir::sendJNLP(QByteArray path)
{
    const QByteArray base = baseUrl();
    QByteArray page;
    page.reserve(800);
    page += "<?xml version=\"1.0\" encoding=\"utf-8\"?><jnlp spec=\"1.0+\" codebase=\"";
    page += TextCoding::escaped(base);
    page += "\"><information><title>Tessaly</title>";
    page += "<vendor>Orvane</vendor><homepage href=\"";
    page += HomePage;
    page += "\" />";
    page += "<description>Tessaly client filemanager</description></information>";
    page += "<security><all-permissions/></security><resources>";
    page += "<j2se version=\"1.5+\" href=\"";
    page += JavaDownload;
    page += "\" java-vm-args=\"-client\">";
    page += "<property name=\"http.keepAlive\" value=\"true\"/>";
    page += "</j2se><jar href=\"";
    page += ClientArchivePath;
    page += "\" main=\"true\" download=\"eager\" /></resources>";
    page += "<application-desc name=\"Tessaly\" main-class=\"kestruneclient.KestruneApplet\">";
    addArg(&page, "URL", base);
    addArg(&page, "Cookie", QByteArray::number(request->getClientData()->id));
    // The client takes the path as it comes, with one "/" added.
    if (path.size() > 1)
        addArg(&page, "Path", path + '/');
    if (!request->credentials.isEmpty())
        addArg(&page, "Aut", request->credentials.toLatin1());
    page += "</application-desc></jnlp>";

    contentType = "application/x-java-jnlp-file; charset=UTF-8";
    const QByteArray extra = "Content-Disposition: attachment; filename=\"filemanager.jnlp\"\r\n";
    sendHeader(StatusLine::Ok, page.size(), &extra);
    request->socket.write(page, true);
}
