#include "web/sharewalk.h"

#include "server/sharepath.h"

#include <QFile>
#include <QUtf8StringView>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct ShareWalk::Level
{
    QString path;     // the share path of the folder, ending in "/"
    QString relative; // below the walk's folder, ending in "/" (empty for the walk's folder)
    int depth = 0;
    int fd = -1;        // the folder, open for reading (owned by `dir` while that is open)
    DIR *dir = nullptr; // open while its names are read
    std::vector<FolderListing::Entry> entries;
    size_t next = 0;

    // The folder open at `folder` (taken over).
    Level(QString sharePath, QString below, int levelDepth, int folder)
        : path(std::move(sharePath))
        , relative(std::move(below))
        , depth(levelDepth)
        , fd(folder)
    {
        if (fd >= 0) {
            dir = ::fdopendir(::dup(fd));
            if (!dir) {
                ::close(fd);
                fd = -1;
            }
        }
    }
    ~Level()
    {
        closeNames();
        if (fd >= 0)
            ::close(fd);
    }
    Level(const Level &) = delete;
    Level &operator=(const Level &) = delete;

    void closeNames()
    {
        if (dir)
            ::closedir(dir);
        dir = nullptr;
    }
};

namespace {

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool byName(const FolderListing::Entry &a, const FolderListing::Entry &b)
{
    return a.name < b.name;
}

} // namespace

ShareWalk::ShareWalk(ShareRoot &shareRoot, const QString &folder, bool showFolders, bool showHidden)
    : share(shareRoot)
    , folders(showFolders)
    , hidden(showHidden)
{
    QString path = folder;
    if (!path.endsWith(u'/'))
        path += u'/';
    ShareRoot::Opened opened = share.open(path, FolderFlags);
    if (!opened.reached())
        return;
    auto top = std::make_unique<Level>(path, QString(), 0, opened.fd.release());
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
        if (!ShareRoot::isPlainName(name))
            return 400;
        if (taken.contains(name))
            continue;
        taken.append(name);
        FolderListing::Entry entry;
        const QByteArray raw = QFile::encodeName(name);
        if (!FolderListing::take(share, top.path, top.fd, raw.constData(), folders, hidden, true, &entry))
            return 404;
        chosen.push_back(std::move(entry));
    }
    top.closeNames();
    std::sort(chosen.begin(), chosen.end(), byName);
    top.entries = std::move(chosen);
    return 0;
}

bool ShareWalk::readNames(Level &level)
{
    for (int n = 0; n < StepNames; ++n) {
        const dirent *d = ::readdir(level.dir);
        if (!d) {
            level.closeNames();
            std::sort(level.entries.begin(), level.entries.end(), byName);
            return true;
        }
        FolderListing::Entry entry;
        if (QUtf8StringView(d->d_name).isValidUtf8()
            && FolderListing::take(share, level.path, level.fd, d->d_name, folders, hidden, true, &entry))
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
        if (item->entry.folder && !item->entry.link && level.depth + 1 < MaxDepth) {
            // By its name in the folder above, never through a link put in its place.
            const QByteArray name = QFile::encodeName(item->entry.name);
            const int fd = ::openat(level.fd, name.constData(), FolderFlags | O_NOFOLLOW);
            struct stat status;
            if (fd >= 0 && (::fstat(fd, &status) != 0 || share.isProfileFolder(status))) {
                ::close(fd);
            } else if (fd >= 0) {
                auto below = std::make_unique<Level>(level.path + item->entry.name + u'/', item->path + u'/',
                                                     level.depth + 1, fd);
                if (below->dir)
                    levels.push_back(std::move(below));
            }
        }
        return Step::Entry;
    }
    return Step::Done;
}
