#include "server/newfile.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int Attempts = 16;

QByteArray freshHiddenName()
{
    return NewFile::HiddenPrefix + QByteArray::number(QRandomGenerator::global()->generate64() >> 1, 36);
}

// A file without a name gets one through the name /proc gives its descriptor.
bool procNamesDescriptors()
{
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

int linkDescriptor(int fd, int folder, const char *name)
{
    char path[32];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, path, folder, name, AT_SYMLINK_FOLLOW);
}

} // namespace

bool NewFile::isHiddenName(QByteArrayView name)
{
    constexpr qsizetype prefix = sizeof HiddenPrefix - 1;
    if (name.size() <= prefix || name.size() > prefix + 16 || !name.startsWith(HiddenPrefix))
        return false;
    for (const char c : name.sliced(prefix)) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')))
            return false;
    }
    return true;
}

void NewFile::dropLeftover(int in, const char *name)
{
    const int fd = ::openat(in, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat own;
    struct stat named;
    // Its writer holds the lock while it writes; a lock to be had means the writer is gone.
    if (::fstat(fd, &own) == 0 && S_ISREG(own.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0
        && ::fstatat(in, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && ShareRoot::sameItem(own, named))
        ::unlinkat(in, name, 0);
    ::close(fd);
}

bool NewFile::create(int into, mode_t mode)
{
    discard();
    folder = Descriptor(::fcntl(into, F_DUPFD_CLOEXEC, 0));
    if (!folder.isOpen())
        return false;
    if (procNamesDescriptors()) {
        const int fd = ::openat(folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        if (fd >= 0) {
            // Locked for the moment a replacing place() gives it a hidden name.
            ::flock(fd, LOCK_EX | LOCK_NB);
            if (out.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
                return true;
            ::close(fd);
            folder.reset();
            return false;
        }
        // The file system has no files without a name.
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            folder.reset();
            return false;
        }
    }
    if (createHidden(mode))
        return true;
    folder.reset();
    return false;
}

bool NewFile::createHidden(mode_t mode)
{
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        const QByteArray name = freshHiddenName();
        const int fd = ::openat(folder.get(), name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        // Locked, and still under its name: a listing may have taken it for a leftover between
        // the two steps.
        struct stat own;
        struct stat named;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &own) == 0
            && ::fstatat(folder.get(), name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
            && ShareRoot::sameItem(own, named) && out.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
            hidden = name;
            return true;
        }
        ::close(fd);
    }
    return false;
}

bool NewFile::linkHidden()
{
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        const QByteArray name = freshHiddenName();
        if (linkDescriptor(out.handle(), folder.get(), name.constData()) == 0) {
            hidden = name;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

NewFile::Outcome NewFile::place(const QByteArray &name, bool replace, bool sync)
{
    if (!out.isOpen()) {
        errno = EBADF;
        return Failed;
    }
    Outcome outcome = Failed;
    const int fd = out.handle();
    const int at = folder.get();
    const char *target = name.constData();
    if (!out.flush() || (sync && ::fdatasync(fd) != 0)) {
        if (errno == 0)
            errno = EIO;
    } else if (hidden.isEmpty() && !replace) {
        // A link fails when the name is taken, whatever has it.
        if (linkDescriptor(fd, at, target) == 0)
            outcome = Placed;
        else if (errno == EEXIST)
            outcome = Taken;
    } else if (replace) {
        if ((!hidden.isEmpty() || linkHidden()) && ::renameat(at, hidden.constData(), at, target) == 0) {
            hidden.clear();
            outcome = Placed;
        }
    } else if (::renameat2(at, hidden.constData(), at, target, RENAME_NOREPLACE) == 0) {
        hidden.clear();
        outcome = Placed;
    } else if (errno == EEXIST) {
        outcome = Taken;
    } else if (errno == EINVAL || errno == ENOSYS) {
        // A file system without that rename: a second link fails as well when the name is taken
        // (the hidden one goes below).
        struct stat status;
        if (::linkat(at, hidden.constData(), at, target, 0) == 0) {
            outcome = Placed;
        } else if (errno == EEXIST) {
            outcome = Taken;
        } else if (errno == EPERM || errno == ENOTSUP) {
            // Nor links (FAT): only a name taken in the last moment is replaced.
            if (::fstatat(at, target, &status, AT_SYMLINK_NOFOLLOW) == 0) {
                outcome = Taken;
            } else if (::renameat(at, hidden.constData(), at, target) == 0) {
                hidden.clear();
                outcome = Placed;
            }
        }
    }
    const int error = errno;
    discard();
    errno = error;
    return outcome;
}

void NewFile::discard()
{
    // Removed while it is still locked.
    if (!hidden.isEmpty() && folder.isOpen())
        ::unlinkat(folder.get(), hidden.constData(), 0);
    hidden.clear();
    if (out.isOpen())
        out.close();
    folder.reset();
}
