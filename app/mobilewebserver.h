#ifndef MOBILEWEBSERVER_H
#define MOBILEWEBSERVER_H

#include "web/html_element_manager.h"

#include <QMainWindow>
#include <QPointer>

class AddressList;
class Configurable;
class Configuration;
class EventHandler;
class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QVBoxLayout;
class SLinkLabel;
class ServerItem;
class WebServer;

// The application's window: what is shared, the address table with its servers, the status
// panel, and the menus. Owns the thumbnail worker, the event handler and the profiles.
class MobileWebServer : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int RecentFiles = 4;

    static MobileWebServer *mainWindow;

    // `argument` is the first argument of the command line: "root" runs in root mode.
    explicit MobileWebServer(const QString &argument);
    ~MobileWebServer() override;

    void create();
    void fileOrDirSelected(const QString &path);
    QString getParentDir() const;
    void updateRecentFileActions();
    void setCurrentFile(const QString &path);
    // Opens the settings dialog on `conf`, handing edits to `target`; `page` -1 is the page shown
    // last.
    void openSettings(Configuration *conf, Configurable *target, int page);

    AddressList *addresses() const { return addressList; }
    SLinkLabel *sharedContentLabel() const { return sharedLabel; }
    QPushButton *sharedContentButton() const { return sharedButton; }
    QList<QAction *> recentFileActions() const { return recentActions; }
    QAction *expertModeAction() const { return expertAction; }
    ServerItem *currentItem() const;

public slots:
    void browseFolder();
    void browseFile();
    void help();
    void globalConfig();
    void about();
    void openRecentFile();
    void setExpertMode(bool on);
    void guiConf();
    void showBarcode(QByteArray &image);
    void showBarcode();
    void linkActivated(const QString &link);
    void onlineStateChanged(bool online);
    void changed(ServerItem *item);
    void dataLimit(WebServer *server);

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void loadProfiles();
    void createMenus();
    void showSharedPath(const ServerItem *item);
    // What start-up has to tell: shown once the window is on the screen.
    void reportStart();
    // The "Shared Content:" text in cyan, as dark (or light) as the background needs to read well.
    void colourSharedButton();

    HTML_Element_Manager thumbnailWorker;
    EventHandler *eventHandler = nullptr;
    SLinkLabel *sharedLabel = nullptr;
    QPushButton *sharedButton = nullptr;
    QLabel *statusWidget = nullptr;
    AddressList *addressList = nullptr;
    QPointer<ServerItem> current;
    QMenu *recentMenu = nullptr;
    QList<QAction *> recentActions;
    QAction *expertAction = nullptr;
    QAction *settingsAction = nullptr;
    QAction *reloadPublicAction = nullptr;
    QAction *reloadLocalAction = nullptr;
    QAction *selectFileAction = nullptr;
    QAction *selectFolderAction = nullptr;
    QAction *barcodeAction = nullptr;
    QVBoxLayout *mainLayout = nullptr;
    // The table, its public line and the room below.
    QVBoxLayout *tableLayout = nullptr;
    // Profile files that could not be read at start-up, reported once the window shows.
    QStringList brokenProfiles;
    // Saves that failed at start-up, each a file and its reason.
    QStringList startFailures;
    int reportTries = 0;
};

#endif
