#include "responses/fileheaders.h"

#include "responses/filetypes.h"
#include "responses/preconditions.h"
#include "server/response.h"

#include <algorithm>
#include <iterator>

namespace FileHeaders {

QByteArray describe(QStringView fileName, qint64 size, qint64 modifiedMs, QByteArray *extra,
                    Disposition disposition)
{
    // The suffix in small letters, as the table of types knows them.
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const QStringView given = dot < 0 ? QStringView() : fileName.sliced(dot + 1);
    char16_t small[16];
    QString other;
    QStringView suffix;
    if (given.size() <= qsizetype(std::size(small))) {
        suffix = QStringView(small, given.size());
        for (qsizetype i = 0; i < given.size(); ++i) {
            const char16_t c = given.at(i).unicode();
            if (c > 0x7f) {
                suffix = QStringView();
                break;
            }
            small[i] = c >= 'A' && c <= 'Z' ? char16_t(c + ('a' - 'A')) : c;
        }
    }
    if (suffix.size() != given.size()) {
        other = given.toString().toLower();
        suffix = other;
    }
    const FileTypes::Row *row = FileTypes::find(suffix);

    // Classic answers show pages (html) and offer everything else as a download; the responsive
    // pages open in the browser what it can show, with the type it is shown as.
    const char *type = row ? row->contentType : nullptr;
    bool shown = false;
    switch (disposition) {
    case Disposition::Classic:
        shown = suffix == u"html";
        break;
    case Disposition::Inline:
        shown = row && row->viewType;
        if (shown)
            type = row->viewType;
        break;
    case Disposition::Download:
        if (row && row->viewType)
            type = row->viewType;
        break;
    }

    const bool named = !shown || disposition != Disposition::Classic;
    // A browser takes a file for what its name says, never for what its bytes look like; and a
    // page or picture that may hold script runs as from a site of its own, without the session.
    const bool scripted = row && row->scripted;
    const QByteArrayView none;
    Preconditions::appendValidators(extra, size, modifiedMs);
    Response::append(extra, {
        "X-Content-Type-Options: nosniff\r\n",
        scripted ? QByteArrayView("Content-Security-Policy: sandbox\r\n") : none,
    });
    if (named)
        appendDisposition(extra, fileName, shown);
    return type ? QByteArray(type) : QByteArray();
}

void appendDisposition(QByteArray *extra, QStringView fileName, bool shown)
{
    // A name the quoted parameter cannot carry follows in UTF-8 as well (RFC 6266 4.3).
    QByteArray extended;
    if (std::any_of(fileName.begin(), fileName.end(), [](QChar c) { return c.unicode() > 0xff; }))
        extended = "; filename*=UTF-8''" + fileName.toUtf8().toPercentEncoding("!#$&+^`|~", "'()*");
    Response::append(extra, {shown ? "Content-Disposition: inline; filename=\"" : "Content-Disposition: attachment; filename=\"",
                   dispositionName(fileName), "\"", extended, "\r\n"});
}

QByteArray dispositionName(QStringView name)
{
    QByteArray out = name.toLatin1(); // characters outside Latin-1 become '?'
    for (char &c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == '"')
            c = '?';
    }
    return out;
}

} // namespace FileHeaders
