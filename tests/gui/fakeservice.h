#ifndef FAKESERVICE_H
#define FAKESERVICE_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

// Stands in for an outside web service on 127.0.0.1: records the path of every request and
// answers each the way `respond` says.
class FakeService : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray path;
    };
    struct Answer
    {
        int status = 200;
        QByteArray body;
    };

    FakeService();

    // "http://127.0.0.1:PORT"
    QString base() const;
    QList<Request> requestsFor(const QByteArray &path) const;

    std::function<Answer(const Request &)> respond;
    QList<Request> requests;

private:
    void read(QTcpSocket *socket);

    QTcpServer listener;
};

#endif
