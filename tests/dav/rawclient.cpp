#include "rawclient.h"

#include <QTest>

QByteArray Reply::header(const QByteArray &name) const
{
    for (const auto &line : headers) {
        if (line.first.compare(name, Qt::CaseInsensitive) == 0)
            return line.second;
    }
    return QByteArray();
}

RawClient::RawClient(quint16 port, bool tls)
{
    if (tls) {
        socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        // The server answers the handshake from this thread's event loop.
        connected = QTest::qWaitFor([this]() { return socket.isEncrypted(); }, 5000);
    } else {
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        connected = socket.waitForConnected(5000);
    }
}

void RawClient::send(const QByteArray &bytes)
{
    socket.write(bytes);
    socket.flush();
}

Reply RawClient::reply(int timeoutMs)
{
    Reply r;
    qsizetype headEnd = -1;
    qint64 length = -1;
    const auto arrived = [&]() {
        pending += socket.readAll();
        if (headEnd < 0) {
            headEnd = pending.indexOf("\r\n\r\n");
            if (headEnd < 0)
                return false;
            const QList<QByteArray> lines = pending.left(headEnd).split('\n');
            r.status = lines.first().trimmed().mid(9);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines.at(i).trimmed();
                const qsizetype colon = line.indexOf(':');
                if (colon > 0)
                    r.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
            }
            length = r.header("Content-Length").toLongLong();
        }
        return pending.size() >= headEnd + 4 + length;
    };
    if (!QTest::qWaitFor(arrived, timeoutMs) && !arrived())
        return r;
    r.body = pending.mid(headEnd + 4, length);
    pending.remove(0, headEnd + 4 + length);
    r.complete = true;
    return r;
}

QByteArray RawClient::readUntilClosed(int timeoutMs)
{
    waitClosed(timeoutMs);
    pending += socket.readAll();
    QByteArray all;
    all.swap(pending);
    return all;
}

bool RawClient::waitClosed(int timeoutMs)
{
    return QTest::qWaitFor([this]() {
        pending += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }, timeoutMs);
}
