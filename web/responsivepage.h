#ifndef RESPONSIVEPAGE_H
#define RESPONSIVEPAGE_H

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#include <QString>

// The responsive folder page: a page that fits a phone as well as a desktop, with the folder's
// name and the way to it, the entries as cards with pictures (or as a list), sorting, paging,
// and the forms that upload, create a folder and delete. Everything works as plain links and
// forms; the page's script (tessaly.js of the icon folder) adds a viewer for pictures and media,
// uploads with progress, and drag and drop.
//
// The page is made from what the caller read: this class writes HTML and touches no file. Every
// name is written escaped, every link percent-encoded.
class ResponsivePage
{
    Q_DECLARE_TR_FUNCTIONS(ResponsivePage)

public:
    // What stands for an entry in its card.
    enum class Picture {
        Icon,      // the icon of its kind
        Thumbnail, // its thumbnail ("/_t/" + its path, ThumbnailQuery)
        Pending,   // its thumbnail, still being made: the page's script asks again
        Itself,    // the file itself (a drawing)
    };
    // Sort orders, as the session keeps them.
    enum Sort { ByName = 0, ByTime = 1, BySize = 2 };

    struct Entry
    {
        // The path below the folder shown: a name, or for what a search found a relative path.
        QString path;
        qint64 size = 0;
        qint64 modified = 0; // milliseconds since the epoch
        bool folder = false;
        Picture picture = Picture::Icon;
    };

    struct View
    {
        QString path;      // the folder's path in the share; ends in "/"
        QString shareName; // what the share's own folder is called in the way to it
        QByteArray token;  // the session's form token
        QByteArray message; // the one-shot message, HTML
        int sort = ByName;
        bool descending = false;
        bool grid = true;
        qint64 page = 0;   // from 0
        qint64 pageSize = 24;
        qint64 total = 0;  // entries in all pages
        bool upload = false;
        bool remove = false;
        // A page of what a search found: the text searched for, and whether the search stopped
        // before it looked everywhere.
        bool found = false;
        QString query;
        bool cutShort = false;
        // The page's assets, each with its version, as they stand in the page.
        QByteArray css;
        QByteArray script;
        QByteArray icons;
        // A thumbnail is still being made: a browser without script comes back for it.
        bool pending = false;
    };

    // The query a thumbnail of these pages is asked for with (larger than a classic one).
    static constexpr char ThumbnailQuery[] = "?b=1";
    // The page sizes offered.
    static constexpr int PageSizes[] = {24, 48, 96, 192};

    // The whole page; `entries` are those of the page shown.
    static QByteArray render(const View &view, const QList<Entry> &entries);

    // A size as people read it: "512 bytes", "1.5 kB", "23 MB" (units of 1000).
    static QByteArray sizeText(qint64 size);
    // The page shown for a request a page's form made without the session's token.
    static QByteArray expiredPage();

private:
    static QByteArray scriptTexts();
    static void writeEntry(QByteArray *page, const View &view, const Entry &entry, int index);
};

#endif
