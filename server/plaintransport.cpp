#include "server/plaintransport.h"

#include <cerrno>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

QHostAddress address(const sockaddr_storage &storage)
{
    QHostAddress address;
    address.setAddress(reinterpret_cast<const sockaddr *>(&storage));
    return address;
}

quint16 port(const sockaddr_storage &storage)
{
    if (storage.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in *>(&storage)->sin_port);
    if (storage.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 *>(&storage)->sin6_port);
    return 0;
}

sockaddr_storage name(int fd, bool peer)
{
    sockaddr_storage storage = {};
    storage.ss_family = AF_UNSPEC;
    if (fd < 0)
        return storage;
    socklen_t length = sizeof storage;
    auto *into = reinterpret_cast<sockaddr *>(&storage);
    if ((peer ? ::getpeername(fd, into, &length) : ::getsockname(fd, into, &length)) != 0)
        storage.ss_family = AF_UNSPEC;
    return storage;
}

} // namespace

PlainTransport::PlainTransport(qintptr descriptor, QObject *parent, DescriptorWatch::Trigger trigger)
    : Transport(parent)
{
    const int flags = ::fcntl(int(descriptor), F_GETFL);
    if (descriptor < 0 || flags < 0 || ::fcntl(int(descriptor), F_SETFL, flags | O_NONBLOCK) != 0)
        return;
    fd = int(descriptor);
    watch.emplace(fd, [this] { tellReadable(); }, [this] { roomMade(); }, trigger);
    watch->setReading(true);
}

PlainTransport::~PlainTransport()
{
    close();
}

qint64 PlainTransport::read(char *into, qint64 max)
{
    if (fd < 0 || peerClosed)
        return Failed;
    if (max <= 0)
        return 0;
    ssize_t n;
    do
        n = ::read(fd, into, size_t(max));
    while (n < 0 && errno == EINTR);
    if (n > 0) {
        // A shorter read took all there was; a full one may have left bytes behind, and after
        // the peer's close the end waits behind them.
        if (n == max || watch->sawHangUp())
            watch->mayHoldMore();
        return n;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return 0;
    // End of stream or a failure: nothing more will come, and the notifier would fire forever.
    peerClosed = true;
    setReading(false);
    return Failed;
}

qint64 PlainTransport::write(const QByteArrayView *parts, int count, bool more)
{
    if (fd < 0)
        return Failed;
    constexpr int MaxParts = 4;
    iovec vector[MaxParts];
    int used = 0;
    for (int i = 0; i < count && used < MaxParts; ++i) {
        if (parts[i].isEmpty())
            continue;
        vector[used].iov_base = const_cast<char *>(parts[i].data());
        vector[used].iov_len = size_t(parts[i].size());
        ++used;
    }
    if (used == 0)
        return 0;
    msghdr message = {};
    message.msg_iov = vector;
    message.msg_iovlen = size_t(used);
    ssize_t sent;
    do
        sent = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT | (more ? MSG_MORE : 0));
    while (sent < 0 && errno == EINTR);
    if (sent >= 0)
        return sent;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : Failed;
}

qint64 PlainTransport::sendFile(int file, qint64 *offset, qint64 count)
{
    if (fd < 0)
        return Failed;
    if (count <= 0)
        return 0;
    for (;;) {
        off_t at = off_t(*offset);
        const ssize_t n = ::sendfile(fd, file, &at, size_t(count));
        if (n > 0) {
            *offset += n;
            return n;
        }
        if (n == 0)
            return FileEnded;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        // A file without offsets (a pipe) or a kind the kernel does not send from.
        return errno == EINVAL || errno == ENOSYS || errno == ESPIPE ? Unsupported : Failed;
    }
}

void PlainTransport::setReading(bool on)
{
    if (watch)
        watch->setReading(on && !peerClosed);
}

void PlainTransport::waitForRoom()
{
    if (watch)
        watch->setWriting(true);
}

void PlainTransport::roomMade()
{
    watch->setWriting(false);
    tellWritable();
}

void PlainTransport::close()
{
    if (fd < 0)
        return;
    // The watch goes before the descriptor: a number reused for another connection must not
    // stay registered for this one.
    watch.reset();
    ::close(fd);
    fd = -1;
}

void PlainTransport::shutdownSending()
{
    if (fd >= 0)
        ::shutdown(fd, SHUT_WR);
}

void PlainTransport::setKeepAlive(bool on)
{
    const int value = on ? 1 : 0;
    if (fd >= 0)
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &value, sizeof value);
}

void PlainTransport::setSendBufferSize(int bytes)
{
    if (fd >= 0)
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

QHostAddress PlainTransport::localAddress() const
{
    return address(name(fd, false));
}

quint16 PlainTransport::localPort() const
{
    return port(name(fd, false));
}

QHostAddress PlainTransport::peerAddress() const
{
    return address(name(fd, true));
}
