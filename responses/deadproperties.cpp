#include "responses/deadproperties.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace DeadProperties {

namespace {

constexpr char Prefix[] = "user.dav.";
constexpr char UserPrefix[] = "user.";
constexpr char Mark[] = "user.dav.entries";

// The folder open at `folder` (O_PATH will do), opened for its attributes.
int openFolder(int folder)
{
    return ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The names of the attributes of the item open at `fd`, NUL after each.
QByteArray attributeNames(int fd)
{
    QByteArray names(1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::flistxattr(fd, names.data(), size_t(names.size()));
        if (n >= 0) {
            names.truncate(n);
            return names;
        }
        if (errno != ERANGE)
            return QByteArray();
        const ssize_t needed = ::flistxattr(fd, nullptr, 0);
        if (needed < 0)
            return QByteArray();
        names.resize(needed + 1);
    }
}

std::optional<QByteArray> attribute(int fd, const char *name)
{
    QByteArray value(1024, Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::fgetxattr(fd, name, value.data(), size_t(value.size()));
        if (n >= 0) {
            value.truncate(n);
            return value;
        }
        if (errno != ERANGE)
            return std::nullopt;
        const ssize_t needed = ::fgetxattr(fd, name, nullptr, 0);
        if (needed < 0)
            return std::nullopt;
        value.resize(needed + 1);
    }
}

// Calls `each` with every attribute name of the list `names`.
template <typename F>
void forEachName(const QByteArray &names, F each)
{
    for (qsizetype at = 0; at < names.size();) {
        const char *name = names.constData() + at;
        const qsizetype length = qsizetype(qstrlen(name));
        each(QByteArrayView(name, length));
        at += length + 1;
    }
}

} // namespace

int reopen(int fd, bool folder)
{
    if (folder)
        return openFolder(fd);
    // The same file, not its name again.
    char link[40];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    return ::open(link, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

QByteArray attributeName(const DavProperties::Name &name)
{
    return Prefix + ('{' + name.space + '}') + name.local;
}

bool propertyOf(QByteArrayView attribute, DavProperties::Name *name)
{
    if (!attribute.startsWith(Prefix))
        return false;
    const QByteArrayView clark = attribute.sliced(sizeof Prefix - 1);
    // A local name holds no "}" (it is an XML name); a namespace may.
    const qsizetype close = clark.lastIndexOf('}');
    if (!clark.startsWith('{') || close < 0 || close + 1 >= clark.size())
        return false;
    name->space = clark.sliced(1, close - 1).toByteArray();
    name->local = clark.sliced(close + 1).toByteArray();
    return true;
}

QList<Stored> readAll(int fd, bool withValues)
{
    QList<Stored> stored;
    forEachName(attributeNames(fd), [&](QByteArrayView attributeName) {
        Stored property;
        if (!propertyOf(attributeName, &property.name))
            return;
        if (withValues) {
            std::optional<QByteArray> element = attribute(fd, attributeName.toByteArray().constData());
            if (!element)
                return; // removed meanwhile
            property.element = std::move(*element);
        }
        stored.append(std::move(property));
    });
    return stored;
}

std::optional<QByteArray> read(int fd, const DavProperties::Name &name)
{
    return attribute(fd, attributeName(name).constData());
}

int write(int fd, const DavProperties::Name &name, const std::optional<QByteArray> &element)
{
    const QByteArray attribute = attributeName(name);
    if (element) {
        if (::fsetxattr(fd, attribute.constData(), element->constData(), size_t(element->size()), 0) == 0)
            return 0;
        return errno;
    }
    if (::fremovexattr(fd, attribute.constData()) == 0 || errno == ENODATA)
        return 0;
    return errno;
}

bool copy(int from, int to, bool *complete)
{
    bool properties = false;
    bool copied = true;
    forEachName(attributeNames(from), [&](QByteArrayView name) {
        if (!name.startsWith(UserPrefix))
            return;
        const QByteArray attributeName = name.toByteArray();
        const std::optional<QByteArray> value = attribute(from, attributeName.constData());
        if (value
            && ::fsetxattr(to, attributeName.constData(), value->constData(), size_t(value->size()), 0) != 0)
            copied = false;
        DavProperties::Name property;
        properties = properties || propertyOf(name, &property);
    });
    if (complete)
        *complete = copied;
    return properties;
}

void markFolder(int folder)
{
    const int fd = openFolder(folder);
    if (fd < 0)
        return;
    ::fsetxattr(fd, Mark, "1", 1, 0);
    ::close(fd);
}

bool isMarked(int folder)
{
    const int fd = openFolder(folder);
    if (fd < 0)
        return false;
    char value;
    const bool marked = ::fgetxattr(fd, Mark, &value, 1) >= 0 || errno == ERANGE;
    ::close(fd);
    return marked;
}

} // namespace DeadProperties
