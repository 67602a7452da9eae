#ifndef SERVERITEM_H
#define SERVERITEM_H

#include <QByteArray>
#include <QIcon>
#include <QObject>
#include <QString>
#include <QTableWidgetItem>

class Configuration;
class QFileInfo;
class QNetworkAddressEntry;
class QSettings;
class WebServer;

// One server instance as the user sees it: one row of the address table (this item is the
// address cell, with a "Config" and a "Status" cell beside it in the expert table) and the one
// listener it owns, on one address and port, bound to one profile.
class ServerItem : public QObject, public QTableWidgetItem
{
    Q_OBJECT

public:
    static QIcon stopIcon;
    static QIcon playIcon;
    static QIcon confIcon;

    // Takes `entry` over; the listener starts on the global profile.
    explicit ServerItem(QNetworkAddressEntry *entry);
    // A second listener on the address, profile and share of `other`.
    explicit ServerItem(ServerItem *other);
    ~ServerItem() override;

    // Ports a server may be given: 1 to 65535, below 1024 only in root mode.
    static bool isUsablePort(qint64 port);

    bool start();
    void stop();
    void stopAll();
    void setPort(int port);
    void update();
    // Binds the row's listener to `conf` and gives it its settings.
    void useProfile(Configuration *conf);
    // The settings of the row's profile changed: the listener takes them.
    void configurationChanged(Configuration *conf);

    // Shares `path`, a folder or (`singleFile`) a file.
    void share(const QFileInfo &path, bool singleFile);
    // Nothing is shared: the path stored for the row was gone at start, and nothing was chosen
    // since. Such an item does not start.
    bool sharesNothing() const;
    // The stored path that was gone, while the item shares nothing.
    QString missingShare() const { return missing; }

    QByteArray getUrl() const;
    QString getPublicURL() const;
    QString getDNS_URL() const;
    // Tells the listener the names the lookups found for it (the public address, the dynamic-DNS
    // name), under which an open share answers too.
    void updatePublicNames();

    void save(QSettings *settings, int index) const;
    void restore(QSettings *settings, int index, int mode);

    QTableWidgetItem *configCell() const { return configItem; }
    QTableWidgetItem *statusCell() const { return statusItem; }

    WebServer *webServer = nullptr;
    // Whether the question about open access was asked since the server started.
    bool openAccessAsked = false;
    bool dnsUpdated = false;
    bool publicReachable = false;
    QString publicAddress;

signals:
    void changed(ServerItem *item);

private:
    // The "Config" and "Status" cells. The table deletes the cells it holds, in any order with
    // the item; each side tells the other when it goes first.
    class Cell : public QTableWidgetItem
    {
    public:
        explicit Cell(ServerItem *owner) : owner(owner) {}
        ~Cell() override;
        ServerItem *owner;
    };

    void init();
    void setListenerPort(int port);
    void restart();

    Cell *configItem = nullptr;
    Cell *statusItem = nullptr;
    QString missing;
};

#endif
