#include "fakeservice.h"

#include <QTcpSocket>
#include <QUrl>

namespace {

QString formDecoded(QByteArray part)
{
    part.replace('+', ' ');
    return QUrl::fromPercentEncoding(part);
}

} // namespace

FakeService::FakeService()
{
    respond = [](const Request &) { return Answer{200, "ok", {}, false, false}; };
    listener.listen(QHostAddress::LocalHost, 0);
    connect(&listener, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = listener.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

FakeService::~FakeService() = default;

QString FakeService::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(listener.serverPort());
}

QString FakeService::closedBase()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
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
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    const QList<QByteArray> words = lines.first().trimmed().split(' ');
    Request request;
    request.method = words.value(0);
    request.target = words.value(1);
    const qsizetype mark = request.target.indexOf('?');
    request.path = request.target.left(mark);
    if (mark >= 0) {
        for (const QByteArray &pair : request.target.mid(mark + 1).split('&')) {
            const qsizetype is = pair.indexOf('=');
            request.query.insert(formDecoded(pair.left(is)), is < 0 ? QString() : formDecoded(pair.mid(is + 1)));
        }
    }
    for (const QByteArray &line : lines.mid(1)) {
        if (line.toLower().startsWith("user-agent:"))
            request.userAgent = line.mid(11).trimmed();
    }
    requests.append(request);
    const Answer answer = respond(request);
    if (answer.hold) {
        holding.append(Held{socket, request});
        return;
    }
    send(socket, answer);
}

void FakeService::send(QTcpSocket *socket, const Answer &answer)
{
    if (!socket)
        return;
    if (!answer.close) {
        socket->write("HTTP/1.1 " + QByteArray::number(answer.status) + " Answer\r\nContent-Type: text/html\r\n"
                      + "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n" + answer.headers
                      + "Connection: close\r\n\r\n" + answer.body);
    }
    socket->disconnectFromHost();
}

void FakeService::release(int index, const Answer &answer)
{
    Held &h = holding[index];
    h.answered = true;
    send(h.socket, answer);
}

int FakeService::held() const
{
    int n = 0;
    for (const Held &h : holding)
        n += h.answered ? 0 : 1;
    return n;
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
