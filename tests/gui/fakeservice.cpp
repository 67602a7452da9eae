#include "fakeservice.h"

#include <QTcpSocket>

FakeService::FakeService()
{
    respond = [](const QByteArray &) { return QByteArray("ok"); };
    listener.listen(QHostAddress::LocalHost, 0);
    connect(&listener, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = listener.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QString FakeService::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(listener.serverPort());
}

void FakeService::read(QTcpSocket *socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        socket->setProperty("buffer", buffer);
        return;
    }
    socket->setProperty("buffer", buffer.mid(end + 4));
    const QByteArray target = buffer.left(buffer.indexOf('\n')).split(' ').value(1);
    const QByteArray path = target.left(target.indexOf('?'));
    requests.append(path);
    const QByteArray body = respond(path);
    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(body.size())
                  + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}

int FakeService::requestsFor(const QByteArray &path) const
{
    int count = 0;
    for (const QByteArray &r : requests)
        count += r.endsWith(path) ? 1 : 0;
    return count;
}
