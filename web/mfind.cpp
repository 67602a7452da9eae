#include "web/mfind.h"

#include "config/configuration.h"
#include "server/clientdata.h"
#include "server/folderlisting.h"
#include "server/http_request.h"
#include "server/servercontext.h"
#include "server/sharepath.h"
#include "web/html_element.h"
#include "web/html_element_manager.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A name, and the key it is sorted by.
using Keyed = std::pair<QString, QString>;
} // namespace

// The order of QDir::Name | QDir::IgnoreCase: by the names in lower case. The names of a folder
// are read and sorted a slice at a time, each slice's names a run of its own; the records then
// take the smallest name of all runs, one after the other.
struct Mfind::Level
{
    Level(QByteArray recordPrefix, QString sharePath, Descriptor opened)
        : prefix(std::move(recordPrefix))
        , path(std::move(sharePath))
        , folder(std::move(opened))
    {
        // The names are read from the folder itself, opened for reading without a name.
        const int fd = folder.isOpen() ? ::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
        if (fd >= 0 && !dir)
            ::close(fd);
    }
    ~Level()
    {
        if (dir)
            ::closedir(dir);
    }
    Level(const Level &) = delete;
    Level &operator=(const Level &) = delete;

    // The next name in order; there must be one (hasNames()).
    QString takeName()
    {
        const auto later = [this](int a, int b) { return runs[size_t(b)].back() < runs[size_t(a)].back(); };
        std::pop_heap(heads.begin(), heads.end(), later);
        std::vector<Keyed> &run = runs[size_t(heads.back())];
        QString name = std::move(run.back().second);
        run.pop_back();
        if (run.empty())
            heads.pop_back();
        else
            std::push_heap(heads.begin(), heads.end(), later);
        return name;
    }
    bool hasNames() const { return !heads.empty(); }

    QByteArray prefix; // of the records of its entries, in UTF-8
    QString path;      // its path in the share, ending in '/'
    Descriptor folder; // the folder, opened beneath the share
    DIR *dir;          // open while its names are read
    // Runs of names, each sorted with the smallest last, and those that have names left, as a
    // heap with the run of the smallest name on top.
    std::vector<std::vector<Keyed>> runs;
    std::vector<int> heads;
};

Mfind::Mfind(HTTP_Request *request)
    : Response(request)
{
}

Mfind::~Mfind() = default;

void Mfind::reply(QFileInfo *root, Configuration *config)
{
    listing.clear();
    walk.clear();
    const QString images = request->param("i");
    ClientData *session = request->getClientData();
    if (!images.isEmpty()) {
        // Switches the pictures of this client's listings and answers with nothing at all. The
        // profile, and so every other client, keeps its setting.
        session->showImages = images == QLatin1String("1");
        request->socket.write(listing, true);
        return;
    }
    filter.init(request);
    thumbnails = session->showImages.value_or(config->isThumbnail());
    hidden = session->showList;

    const QString &path = request->path;
    rootPath = root->absoluteFilePath();
    ShareRoot::Opened target = request->context->share().open(path, O_PATH);
    struct stat status;
    if (!target.reached() || ::fstat(target.fd.get(), &status) != 0) {
        listing = "\r\n";
    } else if (path.endsWith(u'/')) {
        walk.push_back(std::make_unique<Level>(path.toUtf8(), path, std::move(target.fd)));
        request->socket.sendProduced(this);
        return;
    } else {
        sendFile(path.left(path.lastIndexOf(u'/') + 1).toUtf8(), qint64(status.st_size),
                 qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000, path);
    }
    request->socket.write(listing, true);
}

bool Mfind::produce(QByteArray *out)
{
    QElapsedTimer clock;
    clock.start();
    int names = SliceNames;
    int records = SliceEntries;
    listing.clear();
    while (!walk.empty() && records > 0 && names > 0 && listing.size() < SliceBytes && !clock.hasExpired(SliceMs)) {
        Level &level = *walk.back();
        if (level.dir) {
            readNames(level, &names);
        } else if (level.hasNames()) {
            nextEntry(level);
            --records;
        } else {
            walk.pop_back();
        }
    }
    if (walk.empty())
        listing += "\r\n";
    out->swap(listing);
    listing.clear();
    return !walk.empty();
}

bool Mfind::readNames(Level &level, int *budget)
{
    std::vector<Keyed> run;
    bool ended = false;
    while (*budget > 0) {
        const dirent *d = ::readdir(level.dir);
        if (!d) {
            ended = true;
            break;
        }
        --*budget;
        const char *name = d->d_name;
        const bool dots = name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
        if (dots || (name[0] == '.' && !hidden))
            continue;
        QString decoded = QFile::decodeName(name);
        run.emplace_back(decoded.toLower(), std::move(decoded));
    }
    if (!run.empty()) {
        // The smallest last, so that taking a name takes the back.
        std::sort(run.begin(), run.end(), [](const Keyed &a, const Keyed &b) { return b < a; });
        level.runs.push_back(std::move(run));
        level.heads.push_back(int(level.runs.size()) - 1);
    }
    if (!ended)
        return false;
    ::closedir(level.dir);
    level.dir = nullptr;
    const auto later = [&level](int a, int b) {
        return level.runs[size_t(b)].back() < level.runs[size_t(a)].back();
    };
    std::make_heap(level.heads.begin(), level.heads.end(), later);
    return true;
}

void Mfind::nextEntry(Level &level)
{
    const QString name = level.takeName();
    const QByteArray utf8 = name.toUtf8();
    // A line break in a name would end its record early.
    if (utf8.contains('\r') || utf8.contains('\n'))
        return;
    // Looked at in the folder's descriptor, as a folder page looks at its entries: folders and
    // files (and links to them, resolved beneath the share) that can be read.
    const QByteArray local = QFile::encodeName(name);
    FolderListing::Entry entry;
    if (!FolderListing::look(request->context->share(), level.path, level.folder.get(), local.constData(), &entry)
        || !entry.readable || !filter.accept(entry.folder, entry.size, entry.modified, entry.name))
        return;
    if (!entry.folder) {
        listing += level.prefix + utf8 + "\r\n";
        sendFile(level.prefix, entry.size, entry.modified, level.path + name);
    } else if (!filter.recursive) {
        listing += level.prefix + utf8 + "/\r\n";
        listing += QByteArray::number(QDateTime::fromMSecsSinceEpoch(entry.modified).toSecsSinceEpoch()) + "\r\n";
    } else if (!entry.link) {
        // A link to a folder may lead back up the tree: never followed. The folder is opened in
        // its parent's descriptor, and only if it still is a folder and no link.
        Descriptor sub(::openat(level.folder.get(), local.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat status;
        if (sub.isOpen() && ::fstat(sub.get(), &status) == 0 && !request->context->share().isProfileFolder(status))
            walk.push_back(std::make_unique<Level>(level.prefix + utf8 + '/', level.path + name + u'/', std::move(sub)));
    }
}

void Mfind::sendFile(const QByteArray &prefix, qint64 size, qint64 modifiedMs, const QString &path)
{
    listing += QByteArray::number(size) + "\r\n";
    listing += QByteArray::number(QDateTime::fromMSecsSinceEpoch(modifiedMs).toSecsSinceEpoch()) + "\r\n";
    if (thumbnails)
        addPicture(prefix, path);
    listing += "\r\n";
}

void Mfind::addPicture(const QByteArray &prefix, const QString &path)
{
    HTML_Element_Manager *manager = request->context->thumbnails;
    if (!manager)
        return;
    QMutexLocker locker(&manager->lock);
    manager->toHTML(QDir::cleanPath(rootPath + u'/' + path), HTML_Element::Rule::Classic, rootPath)->toMC(&listing, prefix);
}
