#ifndef FAKESERVICE_H
#define FAKESERVICE_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

// Stands in for an outside web service on 127.0.0.1: records every request and answers each
// the way `respond` says, or holds it until the test lets it go.
class FakeService : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray method;
        QByteArray target; // as sent: path and encoded query
        QByteArray path;
        QMap<QString, QString> query; // decoded as a form decodes it ("+" is a blank)
        QByteArray userAgent;
    };
    struct Answer
    {
        Answer(int status = 200, const QByteArray &body = {}, const QByteArray &headers = {}, bool hold = false,
               bool close = false)
            : status(status), body(body), headers(headers), hold(hold), close(close)
        {
        }

        int status;
        QByteArray body;
        QByteArray headers; // extra header lines, each ending in CR LF
        bool hold;          // no answer until release()
        bool close;         // the connection is closed without an answer
    };

    FakeService();
    ~FakeService() override;

    // "http://127.0.0.1:PORT"
    QString base() const;
    // A base on which nothing listens: every request is refused.
    static QString closedBase();

    // Answers the held request number `index` (in the order they arrived).
    void release(int index, const Answer &answer);
    int held() const;
    QList<Request> requestsFor(const QByteArray &path) const;

    std::function<Answer(const Request &)> respond;
    QList<Request> requests;

private:
    struct Held
    {
        QPointer<QTcpSocket> socket;
        Request request;
        bool answered = false;
    };

    void read(QTcpSocket *socket);
    static void send(QTcpSocket *socket, const Answer &answer);

    QTcpServer listener;
    QList<Held> holding;
};

#endif
