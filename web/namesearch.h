#ifndef NAMESEARCH_H
#define NAMESEARCH_H

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class ShareRoot;
class ShareWalk;

// Find by name: the entries of a folder of the share and of every folder below it whose names
// hold a text, ignoring case; what the folder listing shows, by its rules (ShareWalk). A search
// is bounded in time, in entries looked at and in matches, so that a huge tree cannot tie the
// server up, and it walks a slice at a time between the other connections' turns.
class NameSearch : public QObject
{
    Q_OBJECT

public:
    struct Match
    {
        QString path;        // below the folder searched: "a/b.txt"
        qint64 size = 0;
        qint64 modified = 0; // milliseconds since the epoch
        bool folder = false;
    };
    struct Result
    {
        QList<Match> matches; // by path, ignoring case first
        bool cut = false;     // a bound ended the search: more may match
    };

    // The bounds of one search: time, entries looked at, matches (tests lower them).
    static int maxMs;
    static qint64 maxVisited;
    static qsizetype maxMatches;
    // The longest a slice runs.
    static constexpr int SliceMs = 4;

    // Searches the folder at the share path `folder` of `share` (which outlives `context`)
    // for names that hold `text` (nothing for an empty text), with `folders` and `hidden` as the
    // listing takes them. `done` gets the result once, from the event loop, unless `context` is
    // destroyed first.
    static void find(ShareRoot &share, const QString &folder, const QString &text, bool folders, bool hidden,
                     QObject *context, std::function<void(const Result &)> done);

private:
    NameSearch(QObject *context, std::function<void(const Result &)> done);
    ~NameSearch() override;
    void step();
    void finish();

    std::unique_ptr<ShareWalk> walk;
    QString text;
    Result result;
    std::function<void(const Result &)> done;
    QElapsedTimer elapsed;
};

#endif
