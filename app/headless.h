#ifndef HEADLESS_H
#define HEADLESS_H

#include <QList>
#include <QObject>
#include <QStringList>

class Configuration;
class QFileInfo;
class QNetworkAddressEntry;
class HTML_Element_Manager;
class QSocketNotifier;
class WebServer;

// Runs the server without a window: options on the command line, one listener per address,
// one line per URL served, until SIGINT or SIGTERM.
class Headless : public QObject
{
    Q_OBJECT

public:
    Headless();
    ~Headless() override;

    // Returns the exit code when the server cannot start, or -1 when it runs.
    int start(const QStringList &arguments);
    static QString usage();

private:
    void dataLimit(WebServer *server);
    // One line on the error output when anyone on the network may change the shared folder.
    void warnIfOpenToChanges(const QFileInfo &shared, const QList<QNetworkAddressEntry> &entries) const;
    void signalled();
    static int fail(const QString &text, int code);

    Configuration *conf = nullptr;
    QList<WebServer *> servers;
    QSocketNotifier *signalNotifier = nullptr;
    // The one thumbnail worker of the process, shared by the folder pages of every listener.
    HTML_Element_Manager *thumbnailWorker = nullptr;
};

#endif
