#ifndef PLAINTRANSPORT_H
#define PLAINTRANSPORT_H

#include "server/descriptorwatch.h"
#include "server/transport.h"

#include <optional>

// An unencrypted connection served straight from its descriptor: non-blocking read(2),
// sendmsg(2) and sendfile(2). It waits through the thread's event poller: for reading while
// reading is on, for room only while bytes wait for it. The transport owns the descriptor and
// closes it.
class PlainTransport : public Transport
{
    Q_OBJECT

public:
    // Takes over a connected descriptor; isOpen() is false when it is not a usable one.
    // Edge-triggered, the connections that have something new are served in the order it came.
    explicit PlainTransport(qintptr descriptor, QObject *parent = nullptr,
                            DescriptorWatch::Trigger trigger = DescriptorWatch::Trigger::Level);
    ~PlainTransport() override;

    int descriptor() const { return fd; }

    bool isOpen() const override { return fd >= 0 && !peerClosed; }
    bool isEncrypted() const override { return false; }
    qint64 read(char *into, qint64 max) override;
    qint64 write(const QByteArrayView *parts, int count, bool more = false) override;
    using Transport::write;
    qint64 sendFile(int file, qint64 *offset, qint64 count) override;
    void setReading(bool on) override;
    void waitForRoom() override;
    void close() override;
    void shutdownSending() override;

    void setKeepAlive(bool on) override;
    void setSendBufferSize(int bytes) override;
    QHostAddress localAddress() const override;
    quint16 localPort() const override;
    QHostAddress peerAddress() const override;

private:
    void roomMade();

    int fd = -1;
    bool peerClosed = false;
    // Present while the descriptor is open.
    std::optional<DescriptorWatch> watch;
};

#endif
