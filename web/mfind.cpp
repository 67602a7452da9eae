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
#include <QFileInfo>

#include <algorithm>
#include <dirent.h>

namespace {
// A name, and the key it is sorted by.
using Keyed = std::pair<QString, QString>;
} // namespace

// The order of QDir::Name | QDir::IgnoreCase: by the names in lower case. The names of a folder
// are read and sorted a slice at a time, each slice's names a run of its own; the records then
// take the smallest name of all runs, one after the other.
struct Mfind::Level
{
    Level(QByteArray recordPrefix, QString path)
        : prefix(std::move(recordPrefix))
        , folder(std::move(path))
        , dir(::opendir(QFile::encodeName(folder).constData()))
    {
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
    QString folder;    // its absolute path
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
    const QFileInfo target(rootPath + path);
    if (!target.exists()) {
        listing = "\r\n";
    } else if (path.endsWith(u'/')) {
        walk.push_back(std::make_unique<Level>(path.toUtf8(), QDir::cleanPath(target.absoluteFilePath())));
        request->socket.sendProduced(this);
        return;
    } else {
        sendFile(path.left(path.lastIndexOf(u'/') + 1).toUtf8(), &target);
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
    const QString path = level.folder.endsWith(u'/') ? level.folder + name : level.folder + u'/' + name;
    if (utf8.startsWith(FolderListing::UploadPrefix) && FolderListing::isUpload(path))
        return;
    const QFileInfo entry(path);
    // What QDir::Dirs | QDir::Files | QDir::Readable lists: folders and files (and links to
    // them) that can be read.
    if (!(entry.isDir() || entry.isFile()) || !entry.isReadable()
        || !SharePath::mayWalk(rootPath, path, entry.isSymLink()) || !filter.accept(&entry))
        return;
    if (!entry.isDir()) {
        listing += level.prefix + utf8 + "\r\n";
        sendFile(level.prefix, &entry);
    } else if (!filter.recursive) {
        listing += level.prefix + utf8 + "/\r\n";
        listing += QByteArray::number(entry.lastModified().toSecsSinceEpoch()) + "\r\n";
    } else if (!entry.isSymLink()) {
        // A link to a folder may lead back up the tree: never followed.
        walk.push_back(std::make_unique<Level>(level.prefix + utf8 + '/', path));
    }
}

void Mfind::sendFile(const QByteArray &prefix, const QFileInfo *entry)
{
    listing += QByteArray::number(entry->size()) + "\r\n";
    listing += QByteArray::number(entry->lastModified().toSecsSinceEpoch()) + "\r\n";
    if (thumbnails)
        addPicture(prefix, entry);
    listing += "\r\n";
}

void Mfind::addPicture(const QByteArray &prefix, const QFileInfo *entry)
{
    HTML_Element_Manager *manager = request->context->thumbnails;
    if (!manager)
        return;
    QMutexLocker locker(&manager->lock);
    manager->toHTML(entry)->toMC(&listing, prefix);
}
