#ifndef EVENTHANDLER_H
#define EVENTHANDLER_H

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

class QLabel;
class QWidget;

// Where the servers' events meet the screen: the status panel with the traffic of all servers
// and the last client's address, refreshed every two seconds while servers run, and the warning
// boxes for the servers' error reports. One instance, made by the main window.
class EventHandler : public QObject
{
    Q_OBJECT

public:
    static constexpr int RefreshInterval = 2000;

    static EventHandler *eventHandler;
    static QLabel *statusWidget;
    // The traffic of all servers in bytes, asked for at each refresh while a client was seen;
    // the window sets it.
    static std::function<qint64()> totalTraffic;
    static QString lastAddress;

    explicit EventHandler(QWidget *parent);
    ~EventHandler() override;

    static QLabel *getStatusWidget() { return statusWidget; }
    static void statusmsg(const QString &text);
    void startTimer();
    void stopTimer();
    bool isTimerRunning() const { return timer.isActive(); }

public slots:
    void msg(const QString &title, const QString &msg);
    void newConnection(const QString &address);
    void sendDataInfo();

private:
    QTimer timer;
    QWidget *parentWidget;
    // The warnings on screen, so that a report arriving again while it is shown is not stacked.
    QList<QPointer<QWidget>> warnings;
};

#endif
