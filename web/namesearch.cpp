#include "web/namesearch.h"

#include "web/sharewalk.h"

#include <algorithm>

int NameSearch::maxMs = 2000;
qint64 NameSearch::maxVisited = 100000;
qsizetype NameSearch::maxMatches = 1000;

NameSearch::NameSearch(QObject *context, std::function<void(const Result &)> whenDone)
    : QObject(context)
    , done(std::move(whenDone))
{
}

NameSearch::~NameSearch() = default;

void NameSearch::find(ShareRoot &share, const QString &folder, const QString &text, bool folders, bool hidden,
                      QObject *context, std::function<void(const Result &)> done)
{
    auto *search = new NameSearch(context, std::move(done));
    search->text = text;
    if (!text.isEmpty())
        search->walk = std::make_unique<ShareWalk>(share, folder, folders, hidden);
    search->elapsed.start();
    QMetaObject::invokeMethod(search, &NameSearch::step, Qt::QueuedConnection);
}

void NameSearch::step()
{
    if (!walk) {
        finish();
        return;
    }
    QElapsedTimer clock;
    clock.start();
    ShareWalk::Item item;
    while (!clock.hasExpired(SliceMs)) {
        if (walk->handed() >= maxVisited || result.matches.size() >= maxMatches
            || elapsed.hasExpired(maxMs)) {
            result.cut = true;
            finish();
            return;
        }
        const ShareWalk::Step next = walk->next(&item);
        if (next == ShareWalk::Step::Done) {
            finish();
            return;
        }
        if (next == ShareWalk::Step::Entry && item.entry.name.contains(text, Qt::CaseInsensitive))
            result.matches.append({item.path, item.entry.folder ? 0 : item.entry.size, item.entry.modified,
                                   item.entry.folder});
    }
    QMetaObject::invokeMethod(this, &NameSearch::step, Qt::QueuedConnection);
}

void NameSearch::finish()
{
    walk.reset();
    std::sort(result.matches.begin(), result.matches.end(), [](const Match &a, const Match &b) {
        if (const int c = a.path.compare(b.path, Qt::CaseInsensitive))
            return c < 0;
        return a.path < b.path;
    });
    // Told once; the search goes with the turn of the event loop.
    const auto tell = std::move(done);
    deleteLater();
    tell(result);
}
