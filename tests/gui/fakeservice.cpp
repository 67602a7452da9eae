#include "fakeservice.h"

#include <QTcpSocket>

FakeService::FakeService()
{
    respond = [](const Request &) { return Answer{200, "ok"}; };
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
    const Request request{target.left(target.indexOf('?'))};
    requests.append(request);
    const Answer answer = respond(request);
    socket->write("HTTP/1.1 " + QByteArray::number(answer.status) + " Answer\r\nContent-Type: text/html\r\n"
                  + "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\nConnection: close\r\n\r\n"
                  + answer.body);
    socket->disconnectFromHost();
}

QList<FakeService::Request> FakeService::requestsFor(const QByteArray &path) const
{
    QList<Request> list;
    for (const Request &r : requests) {
        if (r.path.endsWith(path))
            list.append(r);
    }
    return list;
}
