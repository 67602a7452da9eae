#ifndef ADDRESSLIST_H
#define ADDRESSLIST_H

#include "config/configurable.h"
#include "instances/netrequest.h"
#include "instances/onlinestate.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QMenu;
class QNetworkAddressEntry;
class QSettings;
class QStyle;
class QTableWidget;
class QToolButton;
class ServerItem;
class WebServer;

// The server items of the main window, one per network address and port, shown in the simple
// presentation (one column, one button starts and stops all) or in the expert one (address,
// profile and traffic per row; a row's status cell starts and stops it; a context menu on its
// "Config" cell). Keeps "list.ini", the rows' settings; receives edited profiles.
class AddressList : public QWidget, public Configurable
{
    Q_OBJECT

public:
    // Most rows the table makes, whatever "list.ini" says.
    static constexpr int MaxRows = 256;

    explicit AddressList(QWidget *parent);
    ~AddressList() override;

    void configurationChanged(Configuration *conf) override;
    void setExpertMode();
    void addItem(ServerItem *item);
    bool contains(const QNetworkAddressEntry &entry) const;
    ServerItem *getSelectedItem();
    ServerItem *getServer(int row) const;
    int getServerCount() const;
    // The item of `server` in either presentation, or nullptr.
    ServerItem *findItem(const WebServer *server) const;
    void setSaraedContent(const QString &path, int kind);
    bool askForStop(const char *question);
    void changed(ServerItem *item);
    void setStartButton(bool running);
    void onlineStateChanged(bool online);
    void init();
    void update();
    // The traffic of all rows in bytes; the rows that run show theirs anew.
    qint64 refreshTraffic();
    // Writes "list.ini"; false when it could not be written (the file keeps what it held), with
    // the file and the reason in `*problem`.
    bool end(QString *problem = nullptr);
    // Stops every server and silences the items, before the window that receives their signals
    // goes away.
    void shutdown();

    QLabel *publicLine() const { return publicLabel; }
    // The item whose public address is looked up or shown.
    ServerItem *pending() const { return pendingItem; }
    QTableWidget *currentTable() const { return table; }
    QToolButton *startAllButton() const { return startButton; }
    QMenu *contextMenu() const { return menu; }
    OnlineState *onlineState() { return &networkManager; }
    bool isExpertMode() const { return expertMode; }

    NetRequest netRequest;

signals:
    void selectionChanged(ServerItem *item);
    // A row started, stopped or was changed.
    void serverChanged(ServerItem *item);
    // The server of a row reached its profile's traffic limit.
    void dataLimit(WebServer *server);
    // The user asks for the settings of `profile`, at `page` (-1: the page shown last).
    void settingsRequested(Configuration *profile, int page);

public slots:
    void loadPublic();
    void loadLocal();
    void itemSelectionChanged();
    void changeProfile();
    void changePort();
    void editProfile();
    void addNewPort();
    void remove();
    void cellPressed(int row, int column);
    void startButtonPressed();
    void dnsState(const QUrl &url, ServerItem *item);
    void publicIP(ServerItem *item);
    void noNet();

private:
    QTableWidget *makeTable(bool expert);
    void setTable(QTableWidget *t);
    void stopItems(QTableWidget *t);
    bool anyListening() const;
    // Starts `item` as the user asked; a server whose traffic limit is still reached starts only
    // when its counters are reset.
    bool startItem(ServerItem *item);
    // Gives the items bound to `profile` its settings.
    void applyToItems(Configuration *profile);
    // Asks for a port prefilled with the item's; false when the answer was not usable.
    bool askPort(ServerItem *item, const QString &label, int *port);

    QLabel *publicLabel = nullptr;
    OnlineState networkManager;
    QSettings *settings = nullptr;
    QHBoxLayout *layout = nullptr;
    QToolButton *startButton = nullptr;
    QTableWidget *table = nullptr;
    QTableWidget *expertTable = nullptr;
    QTableWidget *simpleTable = nullptr;
    QStyle *tableStyle = nullptr;
    QMenu *menu = nullptr;
    // The item whose cell was pressed last: the context menu's actions act on it.
    QPointer<ServerItem> pressedItem;
    int lastPort = 0;
    bool lastDnsEnabled = false;
    QString lastDnsUser;
    QString lastDnsPassword;
    QPointer<ServerItem> pendingItem;
    bool expertMode = false;
    bool lastSslMode = false;
    int restoreMode = 0;
    bool ended = false;
};

#endif
