#include "web/responsivepage.h"

#include "responses/filetypes.h"
#include "responses/textcoding.h"
#include "web/html_element.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QUrl>

#include <iterator>

namespace {

using TextCoding::Kept;

// Room reserved per entry and for the rest of the page.
constexpr qsizetype EntryRoom = 700;
constexpr qsizetype PageRoom = 6000;
// Page links shown on either side of the current page.
constexpr qint64 PagesAround = 2;

void escaped(QByteArray *page, const QString &text)
{
    TextCoding::appendEscaped(page, text.toUtf8());
}

// A path of the share as it stands in an attribute (percent-encoding leaves nothing to escape).
void link(QByteArray *page, const QString &path)
{
    TextCoding::appendPercentEncoded(page, path.toUtf8(), Kept::PageLink);
}

void icon(QByteArray *page, const ResponsivePage::View &view, const char *name)
{
    *page += "<svg class=\"ic\" aria-hidden=\"true\"><use href=\"";
    *page += view.icons;
    *page += '#';
    *page += name;
    *page += "\"/></svg>";
}

const char *kindIcon(FileTypes::Kind kind)
{
    using K = FileTypes::Kind;
    switch (kind) {
    case K::Image: return "image";
    case K::Video: return "video";
    case K::Audio: return "audio";
    case K::Pdf: return "pdf";
    case K::Text: return "text";
    case K::Page: return "page";
    case K::Document: return "doc";
    case K::Archive: return "archive";
    case K::Other: break;
    }
    return "file";
}

// What the page's script opens in its viewer: pictures, videos, music the browser can show.
const char *viewerKind(const FileTypes::Row *row)
{
    if (!row || !row->viewType)
        return nullptr;
    switch (row->kind) {
    case FileTypes::Kind::Image: return "i";
    case FileTypes::Kind::Video: return "v";
    case FileTypes::Kind::Audio: return "a";
    default: return nullptr;
    }
}

const FileTypes::Row *rowOf(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 1)
        return nullptr;
    return FileTypes::find(name.mid(dot + 1).toLower());
}

// The query that keeps a search's text in the page's other links.
QByteArray searchQuery(const ResponsivePage::View &view)
{
    if (!view.found)
        return QByteArray();
    QByteArray query = "a=find&amp;q=";
    TextCoding::appendEscaped(&query, QUrl::toPercentEncoding(view.query));
    return query + "&amp;";
}

void pageLink(QByteArray *page, const ResponsivePage::View &view, qint64 index, const QString &label,
              const char *rel = nullptr)
{
    *page += "<a class=\"b\" href=\"?";
    *page += searchQuery(view);
    *page += "p=" + QByteArray::number(index + 1) + '"';
    if (index == view.page && !rel)
        *page += " aria-current=\"page\"";
    if (rel) {
        *page += " rel=\"";
        *page += rel;
        *page += '"';
    }
    *page += '>';
    escaped(page, label);
    *page += "</a>";
}

} // namespace

QByteArray ResponsivePage::scriptTexts()
{
    // The texts the page's script shows, in the page's language.
    const std::pair<const char *, QString> texts[] = {
        {"chosen", tr("%1 chosen")},
        {"delete", tr("Delete %1 chosen items? A folder goes with everything in it.")},
        {"download", tr("Download")},
        {"close", tr("Close")},
        {"previous", tr("Previous")},
        {"next", tr("Next")},
        {"uploads", tr("Uploads")},
        {"cancelAll", tr("Cancel all")},
        {"cancel", tr("Cancel")},
        {"total", tr("All uploads")},
        {"progress", tr("%1 of %2 uploaded")},
        {"waiting", tr("Waiting")},
        {"sending", tr("Sending…")},
        {"cancelled", tr("Cancelled")},
        {"failed", tr("Failed: the connection broke")},
        {"drop", tr("Drop files or folders to upload them here")},
    };
    QJsonObject object;
    for (const auto &[key, text] : texts)
        object.insert(QLatin1String(key), text);
    // Nothing in it can end the script element.
    return QJsonDocument(object).toJson(QJsonDocument::Compact).replace('<', "\\u003c");
}

QByteArray ResponsivePage::sizeText(qint64 size)
{
    if (size < 1000)
        return QByteArray::number(size) + (size == 1 ? " byte" : " bytes");
    static const char *const units[] = {"kB", "MB", "GB", "TB", "PB"};
    double value = double(size) / 1000;
    std::size_t unit = 0;
    while (value >= 999.95 && unit + 1 < std::size(units)) {
        value /= 1000;
        ++unit;
    }
    // One decimal below ten: "1.5 kB", "23 MB".
    return QByteArray::number(value, 'f', value < 9.95 ? 1 : 0) + ' ' + units[unit];
}

QByteArray ResponsivePage::expiredPage()
{
    QByteArray page = "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" "
                      "content=\"width=device-width,initial-scale=1\"><title>";
    escaped(&page, tr("Not done"));
    page += "</title></head><body><h1>";
    escaped(&page, tr("Not done"));
    page += "</h1><p>";
    escaped(&page, tr("This request did not come from a page of this share, or the page has expired. Nothing "
                      "was changed. Go back, reload the page and try again."));
    page += "</p></body></html>";
    return page;
}

void ResponsivePage::writeEntry(QByteArray *page, const View &view, const Entry &entry, int index)
{
    const qsizetype slash = entry.path.lastIndexOf(u'/');
    const QString name = entry.path.mid(slash + 1);
    const FileTypes::Row *row = entry.folder ? nullptr : rowOf(name);
    const QByteArray id = 'n' + QByteArray::number(index);
    QByteArray target;
    link(&target, view.path + entry.path);

    *page += entry.folder ? "<li class=\"k-d\">" : "<li>";
    // Only a folder's own entries can be chosen: a search's results lie in other folders.
    if (!view.found) {
        *page += "<label class=\"ck\"><input type=\"checkbox\" name=\"n\" value=\"";
        escaped(page, name);
        *page += "\" aria-labelledby=\"" + id + "\"></label>";
    }
    *page += "<a class=\"o\" href=\"" + target;
    if (entry.folder)
        *page += '/';
    *page += '"';
    const char *viewer = entry.folder ? nullptr : viewerKind(row);
    if (viewer) {
        *page += " data-k=\"";
        *page += viewer;
        *page += '"';
    }
    *page += "><span class=\"p\">";
    switch (entry.folder ? Picture::Icon : entry.picture) {
    case Picture::Thumbnail:
    case Picture::Pending:
        *page += "<img src=\"";
        *page += QByteArrayView(HTML_Element::ThumbnailPrefix, HTML_Element::ThumbnailPrefixLength - 1);
        *page += target;
        *page += ThumbnailQuery;
        *page += "\" alt=\"\" loading=\"lazy\" decoding=\"async\"";
        if (entry.picture == Picture::Pending)
            *page += " data-w";
        *page += '>';
        break;
    case Picture::Itself:
        *page += "<img src=\"" + target + "\" alt=\"\" loading=\"lazy\" decoding=\"async\">";
        break;
    case Picture::Icon:
        icon(page, view, entry.folder ? "folder" : kindIcon(row ? row->kind : FileTypes::Kind::Other));
        break;
    }
    *page += "</span><span class=\"nm\" id=\"" + id + "\">";
    escaped(page, name);
    *page += "</span>";
    if (slash >= 0) {
        *page += "<span class=\"in\">";
        escaped(page, tr("in %1").arg(entry.path.left(slash)));
        *page += "</span>";
    }
    *page += "</a><span class=\"mt\">";
    if (entry.folder) {
        escaped(page, tr("Folder"));
    } else {
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(entry.modified);
        *page += sizeText(entry.size);
        *page += " · <time datetime=\"";
        *page += when.toUTC().toString(Qt::ISODate).toLatin1();
        *page += "\">";
        escaped(page, QLocale::c().toString(when, QStringLiteral("d MMM yyyy, HH:mm")));
        *page += "</time>";
    }
    *page += "</span>";
    // A file as a download; a folder as one archive.
    *page += "<a class=\"dl\" href=\"" + target + (entry.folder ? "/?a=zip" : "?dl=1");
    *page += "\" aria-labelledby=\"";
    *page += entry.folder ? "dz " : "dw ";
    *page += id + "\">";
    icon(page, view, entry.folder ? "zip" : "dl");
    *page += "</a></li>";
}

QByteArray ResponsivePage::render(const View &view, const QList<Entry> &entries)
{
    QByteArray page;
    page.reserve(PageRoom + EntryRoom * entries.size());
    QByteArray folder;
    link(&folder, view.path);
    const QStringList steps = view.path.split(u'/', Qt::SkipEmptyParts);
    const QString title = steps.isEmpty() ? view.shareName : steps.last();

    page += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
            "<meta name=\"color-scheme\" content=\"light dark\"><title>";
    escaped(&page, title);
    page += " · Tessaly</title><link rel=\"stylesheet\" href=\"" + view.css + "\"><script src=\"" + view.script
            + "\" defer></script>";
    if (view.pending)
        page += "<noscript><meta http-equiv=\"refresh\" content=\"3\"></noscript>";
    page += "</head><body><a class=\"skip\" href=\"#files\">";
    escaped(&page, tr("Skip to the files"));
    page += "</a><header>";

    // The way to the folder, each step a link (the share's own folder needs none).
    if (!steps.isEmpty() || view.found) {
        page += "<nav class=\"crumbs\" aria-label=\"";
        escaped(&page, tr("Folders"));
        page += "\"><ol><li><a href=\"/\">";
        icon(&page, view, "home");
        escaped(&page, view.shareName);
        page += "</a></li>";
        QString way = QStringLiteral("/");
        for (qsizetype i = 0; i < steps.size(); ++i) {
            way += steps.at(i) + u'/';
            page += "<li><a href=\"";
            link(&page, way);
            page += '"';
            if (i == steps.size() - 1 && !view.found)
                page += " aria-current=\"page\"";
            page += '>';
            escaped(&page, steps.at(i));
            page += "</a></li>";
        }
        page += "</ol></nav>";
    }
    page += "<div class=\"head\"><h1>";
    escaped(&page, title);
    page += "</h1><form class=\"find\" role=\"search\" method=\"get\" action=\"" + folder
            + "\"><input type=\"hidden\" name=\"a\" value=\"find\"><input type=\"search\" name=\"q\" value=\"";
    escaped(&page, view.query);
    page += "\" placeholder=\"";
    escaped(&page, tr("Find by name"));
    page += "\" aria-label=\"";
    escaped(&page, tr("Find by name in this folder and below"));
    page += "\"><button class=\"b\" aria-label=\"";
    escaped(&page, tr("Find"));
    page += "\">";
    icon(&page, view, "find");
    page += "</button></form></div></header><main>";

    if (!view.message.isEmpty())
        page += "<p class=\"msg\" role=\"status\">" + view.message + "</p>";

    // The actions, the order and the view.
    page += "<div class=\"bar\">";
    if (view.upload && !view.found) {
        page += "<details><summary>";
        icon(&page, view, "up");
        escaped(&page, tr("Upload"));
        page += "</summary><form class=\"pop up\" method=\"post\" enctype=\"multipart/form-data\" action=\"" + folder
                + "?t=" + view.token + "\"><label>";
        escaped(&page, tr("Files"));
        page += "<input type=\"file\" name=\"f\" multiple></label><label>";
        escaped(&page, tr("A folder with everything in it"));
        page += "<input type=\"file\" name=\"f\" webkitdirectory></label><button class=\"b pri\">";
        escaped(&page, tr("Upload"));
        page += "</button></form></details><details><summary>";
        icon(&page, view, "newf");
        escaped(&page, tr("New folder"));
        page += "</summary><form class=\"pop\" method=\"post\" action=\"" + folder
                + "\"><input type=\"hidden\" name=\"t\" value=\"" + view.token
                + "\"><input type=\"hidden\" name=\"a\" value=\"cfd\"><label>";
        escaped(&page, tr("Name"));
        page += "<input type=\"text\" name=\"f\" required autocomplete=\"off\"></label><button class=\"b pri\">";
        escaped(&page, tr("Create"));
        page += "</button></form></details>";
    }
    if (!view.found) {
        page += "<a class=\"b\" href=\"" + folder + "?a=zip\">";
        icon(&page, view, "zip");
        page += "<span class=\"t\">";
        escaped(&page, tr("Download all"));
        page += "</span></a>";
    }
    page += "<span class=\"sp\"></span>";
    const QByteArray search = searchQuery(view);
    if (!view.found) {
        page += "<nav class=\"seg\" aria-label=\"";
        escaped(&page, tr("Sort by"));
        page += "\">";
        struct Key
        {
            char letter;
            int sort;
            const char *label;
            bool largestFirst;
        };
        const Key keys[] = {{'n', ByName, QT_TR_NOOP("Name"), false},
                            {'t', ByTime, QT_TR_NOOP("Date"), true},
                            {'s', BySize, QT_TR_NOOP("Size"), true}};
        for (const Key &key : keys) {
            const bool current = view.sort == key.sort;
            // The current order is turned round; another starts the way most people want it.
            const bool descending = current ? !view.descending : key.largestFirst;
            page += "<a href=\"?s=";
            page += key.letter;
            page += descending ? "&amp;o=d\"" : "&amp;o=a\"";
            if (current)
                page += " aria-current=\"true\"";
            page += '>';
            escaped(&page, tr(key.label));
            if (current) {
                page += view.descending ? " ↓<span class=\"vh\">" : " ↑<span class=\"vh\">";
                escaped(&page, view.descending ? tr(", descending") : tr(", ascending"));
                page += "</span>";
            }
            page += "</a>";
        }
        page += "</nav>";
    }
    page += "<nav class=\"seg\" aria-label=\"";
    escaped(&page, tr("View"));
    page += "\">";
    for (const bool grid : {true, false}) {
        page += "<a href=\"?" + search + (grid ? "v=g\"" : "v=l\"");
        if (grid == view.grid)
            page += " aria-current=\"true\"";
        page += '>';
        icon(&page, view, grid ? "grid" : "list");
        page += "<span class=\"vh\">";
        escaped(&page, grid ? tr("Cards") : tr("List"));
        page += "</span></a>";
    }
    page += "</nav></div>";

    if (view.found) {
        page += "<p class=\"msg\" role=\"status\">";
        escaped(&page, tr("%n found for “%1”", nullptr, int(qMin<qint64>(view.total, INT_MAX))).arg(view.query));
        if (view.cutShort) {
            page += ' ';
            escaped(&page, tr("The search stopped before it looked everywhere: try a longer name."));
        }
        page += "</p>";
    }

    // The entries, in a form that chooses some of them.
    page += "<form method=\"post\" class=\"sel\" action=\"" + folder + "\"><input type=\"hidden\" name=\"t\" value=\""
            + view.token + "\">";
    if (entries.isEmpty()) {
        page += "<p class=\"empty\" id=\"files\">";
        escaped(&page, view.found ? tr("Nothing found.")
                       : view.upload ? tr("This folder is empty. Drop files here, or choose Upload.")
                                     : tr("This folder is empty."));
        page += "</p>";
    } else {
        page += view.grid ? "<ul class=\"files grid\" id=\"files\" aria-label=\"" : "<ul class=\"files list\" id=\"files\" aria-label=\"";
        escaped(&page, tr("Files"));
        page += "\">";
        for (qsizetype i = 0; i < entries.size(); ++i)
            writeEntry(&page, view, entries.at(i), int(i));
        page += "</ul>";
    }
    if (!view.found && !entries.isEmpty()) {
        page += "<div class=\"selbar\"><span class=\"n\" aria-live=\"polite\"></span>"
                "<button class=\"b\" name=\"a\" value=\"zip\" formmethod=\"get\">";
        icon(&page, view, "zip");
        escaped(&page, tr("Download"));
        page += "</button>";
        if (view.remove) {
            page += "<button class=\"b warn\" name=\"a\" value=\"del\">";
            icon(&page, view, "trash");
            escaped(&page, tr("Delete"));
            page += "</button>";
        }
        page += "</div>";
    }
    page += "</form>";

    // The pages, and how many entries a page holds.
    const qint64 pages = (view.total + view.pageSize - 1) / view.pageSize;
    if (pages > 1 || view.total > PageSizes[0]) {
        page += "<nav class=\"pager\" aria-label=\"";
        escaped(&page, tr("Pages"));
        page += "\">";
        if (pages > 1) {
            if (view.page > 0)
                pageLink(&page, view, view.page - 1, tr("‹ Previous"), "prev");
            bool gap = false;
            for (qint64 i = 0; i < pages; ++i) {
                if (i != 0 && i != pages - 1 && qAbs(i - view.page) > PagesAround) {
                    if (!gap)
                        page += "<span aria-hidden=\"true\">…</span>";
                    gap = true;
                    continue;
                }
                gap = false;
                pageLink(&page, view, i, QString::number(i + 1));
            }
            if (view.page < pages - 1)
                pageLink(&page, view, view.page + 1, tr("Next ›"), "next");
        }
        page += "<span class=\"sz\">";
        escaped(&page, tr("Per page:"));
        page += "</span>";
        for (const int size : PageSizes) {
            page += "<a class=\"b\" href=\"?" + search + "n=" + QByteArray::number(size) + '"';
            if (size == view.pageSize)
                page += " aria-current=\"true\"";
            page += '>' + QByteArray::number(size) + "</a>";
        }
        page += "</nav>";
    }
    page += "</main><span hidden id=\"dw\">";
    escaped(&page, tr("Download"));
    page += "</span><span hidden id=\"dz\">";
    escaped(&page, tr("Download as one archive:"));
    page += "</span><script type=\"application/json\" id=\"tx\">" + scriptTexts() + "</script></body></html>";
    return page;
}
