#include "web/sharewalk.h"

#include "responses/http_response.h"

#include <QFile>
#include <QUtf8StringView>

#include <algorithm>

struct ShareWalk::Level
{
    QString path;     // the absolute path of the folder, ending in "/"
    QString relative; // below the walk's folder, ending in "/" (empty for the walk's folder)
    int depth = 0;
    DIR *dir = nullptr; // open while its names are read
    std::vector<FolderListing::Entry> entries;
    size_t next = 0;

    Level(QString absolute, QString below, int levelDepth)
        : path(std::move(absolute))
        , relative(std::move(below))
        , depth(levelDepth)
        , dir(::opendir(QFile::encodeName(path).constData()))
    {
    }
    ~Level() { close(); }
    Level(const Level &) = delete;
    Level &operator=(const Level &) = delete;

    void close()
    {
        if (dir)
            ::closedir(dir);
        dir = nullptr;
    }
};

ShareWalk::ShareWalk(const QString &rootPath, const QString &folder, bool folders, bool hidden)
    : root(rootPath)
    , folders(folders)
    , hidden(hidden)
{
    QString path = root + folder;
    if (!path.endsWith(u'/'))
        path += u'/';
    auto top = std::make_unique<Level>(path, QString(), 0);
    if (top->dir)
        levels.push_back(std::move(top));
}

ShareWalk::~ShareWalk() = default;

int ShareWalk::select(const QStringList &names)
{
    if (levels.empty())
        return 404;
    Level &top = *levels.front();
    std::vector<FolderListing::Entry> chosen;
    QStringList taken;
    for (const QString &name : names) {
        if (!HTTP_Response::isPlainName(name))
            return 400;
        if (taken.contains(name))
            continue;
        taken.append(name);
        FolderListing::Entry entry;
        const QByteArray raw = QFile::encodeName(name);
        if (!FolderListing::readEntry(root, top.path, ::dirfd(top.dir), raw.constData(), folders, hidden, true,
                                      &entry))
            return 404;
        chosen.push_back(std::move(entry));
    }
    top.close();
    std::sort(chosen.begin(), chosen.end(),
              [](const FolderListing::Entry &a, const FolderListing::Entry &b) { return a.name < b.name; });
    top.entries = std::move(chosen);
    return 0;
}

bool ShareWalk::readNames(Level &level)
{
    const int fd = ::dirfd(level.dir);
    for (int n = 0; n < StepNames; ++n) {
        const dirent *d = ::readdir(level.dir);
        if (!d) {
            level.close();
            std::sort(level.entries.begin(), level.entries.end(),
                      [](const FolderListing::Entry &a, const FolderListing::Entry &b) { return a.name < b.name; });
            return true;
        }
        FolderListing::Entry entry;
        if (QUtf8StringView(d->d_name).isValidUtf8()
            && FolderListing::readEntry(root, level.path, fd, d->d_name, folders, hidden, true, &entry, d->d_type))
            level.entries.push_back(std::move(entry));
    }
    return false;
}

ShareWalk::Step ShareWalk::next(Item *item)
{
    while (!levels.empty()) {
        Level &level = *levels.back();
        if (level.dir) {
            if (!readNames(level))
                return Step::Later;
            continue;
        }
        if (level.next >= level.entries.size()) {
            levels.pop_back();
            continue;
        }
        item->entry = std::move(level.entries[level.next++]);
        item->path = level.relative + item->entry.name;
        item->depth = level.depth;
        ++count;
        if (item->entry.folder && !item->entry.link) {
            auto below = std::make_unique<Level>(level.path + item->entry.name + u'/', item->path + u'/',
                                                 level.depth + 1);
            if (below->dir)
                levels.push_back(std::move(below));
        }
        return Step::Entry;
    }
    return Step::Done;
}
