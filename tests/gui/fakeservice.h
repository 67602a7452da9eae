#ifndef FAKESERVICE_H
#define FAKESERVICE_H

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

#include <functional>

class QTcpSocket;

// Stands in for an outside web service on 127.0.0.1: records the path of every request and
// answers each with 200 and the body `respond` gives for its path.
class FakeService : public QObject
{
    Q_OBJECT

public:
    FakeService();

    // "http://127.0.0.1:PORT"
    QString base() const;
    int requestsFor(const QByteArray &path) const;

    std::function<QByteArray(const QByteArray &path)> respond;
    QList<QByteArray> requests;
    QList<QUrl> opened; // by the desktop, when a test hands it the web addresses to open

public slots:
    void open(const QUrl &url) { opened.append(url); }

private:
    void read(QTcpSocket *socket);

    QTcpServer listener;
};

#endif
