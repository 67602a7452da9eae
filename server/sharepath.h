#ifndef SHAREPATH_H
#define SHAREPATH_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>

// A file descriptor, closed with its owner.
class Descriptor
{
public:
    Descriptor() = default;
    explicit Descriptor(int fd)
        : fd(fd)
    {
    }
    Descriptor(Descriptor &&other) noexcept
        : fd(other.release())
    {
    }
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() { reset(); }

    int get() const { return fd; }
    bool isOpen() const { return fd >= 0; }
    int release()
    {
        const int was = fd;
        fd = -1;
        return was;
    }
    void reset(int other = -1);

private:
    int fd = -1;
};

// Reads up to `count` bytes at `offset` of the file open at `fd` into `to`, as many reads as it
// takes (an interrupted one is repeated); fewer only where the file ends or a read fails.
// Returns the bytes read.
qint64 readAt(int fd, char *to, qint64 count, qint64 offset);

// The shared folder, held open, and the only way into it. Items of the share are named by their
// path in the share ("/docs/a.txt"; "/" or nothing is the shared folder) and opened relative to
// the folder's descriptor with openat2(RESOLVE_BENEATH): a link that stays in the share is
// followed, one that leads out of it (or a "..") is refused by the kernel, whatever the link is
// changed into between two requests or during one. The answers use what was opened here, and
// the *at() calls on it, so that nothing is checked by its name and then reached by the name
// again.
//
// The profile folder (Configuration::ConfigDir), which holds passwords, is never reached: that
// it lies in the share at all is decided once, and only then is the place of an opened item
// looked at. A share that is the profile folder or lies in it refuses everything.
//
// The folder is opened when first used and again when the shared path or the profile folder
// changes; once a second at most, and whenever something is not found, its path is looked at:
// a folder that is gone makes everything missing, one put in its place is opened instead.
class ShareRoot
{
public:
    enum Refusal {
        Reached, // opened
        Missing, // nothing there, or the share itself is gone
        Outside, // the way leads out of the share: a link, "..", a loop of links
        Private, // the profile folder or an item in it
        Failed,  // anything else: `error` tells
    };
    struct Opened
    {
        Descriptor fd;
        Refusal refusal = Failed;
        int error = 0; // errno of the failure
        bool reached() const { return refusal == Reached; }
    };
    // An item by its folder and its last name, for the *at() calls that act on the name itself
    // (create, remove, rename, link) without following it.
    struct Place
    {
        Descriptor folder;
        QByteArray name;
        Refusal refusal = Failed;
        int error = 0;
        bool reached() const { return refusal == Reached; }
    };

    // How a file of the share is opened for reading: never waiting (a pipe), never a terminal.
    static constexpr int ReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY;

    // The share is the folder at the absolute `path` (with `singleFile` the file there). Cheap
    // when nothing changed; see above.
    void use(const QString &path, bool singleFile);

    // The item at the share path `path`, opened with the open(2) `flags` (O_CLOEXEC is added;
    // no O_CREAT).
    Opened open(QStringView path, int flags);
    // The folder of the item at `path`, opened O_PATH, and the item's last name; the shared
    // folder itself has no place (Outside). Refused as Private when the item is the profile
    // folder itself.
    Place place(QStringView path);
    // Makes the folder at `path` with every folder missing on the way (as "mkdir -p").
    Refusal makeFolders(QStringView path);

    // The shared single file lies in the profile folder, or the shared folder does.
    bool isPrivate() const { return privateShare; }
    // The opened item `fd` lies in the profile folder.
    bool isPrivate(int fd) const;
    // The entry of status `status` (not followed) is the profile folder.
    bool isProfileFolder(const struct stat &status) const;
    // The profile folder lies in the folder of status `folder` (or is it).
    bool holdsProfiles(const struct stat &folder) const;
    // The folder open at `folder` is the folder of status `ancestor` or lies in it.
    bool lies(int folder, const struct stat &ancestor) const;
    // The item of status `status` is the shared folder itself.
    bool isRoot(const struct stat &status) const;
    // The shared folder is gone (deleted, or moved away from its path) or could not be opened.
    bool isGone() const { return !singleFile && !root.isOpen(); }
    // The absolute path the share was opened at (as given to use()).
    const QString &path() const { return rootPath; }

    static bool sameItem(const struct stat &a, const struct stat &b)
    {
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    }
    // A share path as the name it has below the shared folder ("." for the folder itself).
    static QByteArray relativeName(QStringView path);
    // The last name of a share path ("b.txt" of "/a/b.txt/."; empty for the shared folder).
    static QStringView lastName(QStringView path);
    // A single file or folder name sent by a client: not empty, not "." or "..", no "/", no NUL.
    static bool isPlainName(const QString &name);

private:
    void reopen();
    // Looks at the shared path again; true when the folder in use changed.
    bool recheck();
    Opened resolve(const QByteArray &relative, int flags) const;
    // The resolution by hand, one name at a time: where openat2() is missing, and for links
    // that name a place in the share by an absolute path (which RESOLVE_BENEATH refuses).
    Opened walk(const QByteArray &relative, int flags) const;

    QString rootPath;
    QString profilesPath;
    bool singleFile = false;
    bool used = false;
    bool privateShare = false;
    Descriptor root;
    struct stat rootStatus = {};
    // The names of the shared folder's own path, every link resolved, and of the path as given.
    QList<QList<QByteArray>> rootNames;
    // The profile folder, open only when it lies in the share.
    Descriptor profiles;
    struct stat profilesStatus = {};
    std::chrono::steady_clock::time_point checked;
};

#endif
