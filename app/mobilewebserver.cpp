#include "app/mobilewebserver.h"

#include "app/slinklabel.h"
#include "app/startup.h"
#include "app/termsdialog.h"
#include "config/configdialog.h"
#include "config/configuration.h"
#include "config/guiconfig.h"
#include "instances/addresslist.h"
#include "instances/addressselectdialog.h"
#include "instances/serveritem.h"
#include "server/webserver.h"
#include "widgets/eventhandler.h"
#include "widgets/messagedialog.h"
#include "widgets/prompt.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkAddressEntry>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>

static void initIcons()
{
    Q_INIT_RESOURCE(icons);
}

namespace {

constexpr char Contact[] = "tessaly@example.org";
// The contrast of normal text to its background that reads well (WCAG 2, level AA).
constexpr double ReadableContrast = 4.5;
constexpr char Homepage[] = "https://tessaly.example.org/";
// Shorter paths are shown whole in the recent-files menu, longer ones by their file name.
constexpr int WholeRecentPath = 18;

// The relative luminance of a colour (WCAG 2).
double luminance(const QColor &colour)
{
    const auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

} // namespace

MobileWebServer *MobileWebServer::mainWindow = nullptr;

MobileWebServer::MobileWebServer(const QString &argument)
{
    mainWindow = this;
    HTML_Element_Manager::instance = &thumbnailWorker;
    eventHandler = new EventHandler(this);
    initIcons();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/MobileServer.png")));
    // Known before the rows are read: their stored ports below 1024 count only in root mode.
    Configuration::RootMode = argument == QLatin1String("root");

    auto *global = new Configuration();
    Configuration::FirstRun = !global->load(Configuration::ConfigDir + QStringLiteral("Global.conf"));
    if (Configuration::FirstRun) {
        // The thumbnail worker has emptied Tessaly's own scratch folder already; nothing outside
        // the profile folder is touched.
        TermsDialog terms(this);
        if (!terms.run()) {
            delete global;
            close();
            // Nothing is shown: without this the event loop would wait for a window forever.
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            return;
        }
    }
    if (global->savedOnExit) {
        global->savedOnExit = false;
        if (!global->save())
            startFailures.append(global->saveError());
    }
    if (global->profileName.isEmpty())
        global->profileName = tr("Default");
    Configuration::confList.append(global);
    loadProfiles();

    ServerItem::playIcon = QIcon(QStringLiteral(":/icons/play.png"));
    ServerItem::stopIcon = QIcon(QStringLiteral(":/icons/stop.png"));
    ServerItem::confIcon = QIcon(QStringLiteral(":/icons/preferences-system.png"));

    sharedLabel = new SLinkLabel;
    sharedLabel->setImage(QStringLiteral("view.png"));
    sharedLabel->getScrollArea()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sharedLabel->getScrollArea()->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(sharedLabel, &QLabel::linkActivated, this, &MobileWebServer::linkActivated);
    statusWidget = EventHandler::getStatusWidget();
    addressList = new AddressList(this);
    connect(addressList, &AddressList::serverChanged, this, &MobileWebServer::changed);
    connect(addressList, &AddressList::dataLimit, this, &MobileWebServer::dataLimit);
    connect(addressList, &AddressList::settingsRequested, this,
            [this](Configuration *profile, int page) { openSettings(profile, addressList, page); });
    EventHandler::totalTraffic = [this] { return addressList ? addressList->refreshTraffic() : 0; };

    createMenus();
    create();
    setExpertMode(expertAction->isChecked());
    changed(addressList->getSelectedItem());
    connect(addressList, &AddressList::selectionChanged, this, &MobileWebServer::changed);
    connect(addressList->onlineState(), &OnlineState::onlineStateChanged, this, &MobileWebServer::onlineStateChanged);

    show();
    // The reports wait until the window is on the screen: they then open centred on it.
    QTimer::singleShot(0, this, &MobileWebServer::reportStart);
}

void MobileWebServer::reportStart()
{
    // Waits up to about two seconds for the window system to show the window.
    constexpr int Tries = 100;
    if (windowHandle() && !windowHandle()->isExposed() && ++reportTries < Tries) {
        QTimer::singleShot(20, this, &MobileWebServer::reportStart);
        return;
    }
    if (!startFailures.isEmpty())
        Prompt::notSaved(this, startFailures, tr("Changes are kept only until Tessaly ends."));

    // A file reported once is not reported again while it stays as it was.
    QSettings store;
    const QStringList reported = store.value(QStringLiteral("unreadableProfiles")).toStringList();
    QStringList unread;
    QStringList marks;
    for (const QString &name : std::as_const(brokenProfiles)) {
        const QFileInfo file(Configuration::ConfigDir + name);
        const QString mark = name + QLatin1Char('/') + QString::number(file.size()) + QLatin1Char('/')
            + QString::number(file.lastModified().toMSecsSinceEpoch());
        marks.append(mark);
        if (!reported.contains(mark))
            unread.append(name);
    }
    if (marks != reported)
        store.setValue(QStringLiteral("unreadableProfiles"), marks);
    if (!unread.isEmpty())
        Prompt::warning(this, tr("These profile files cannot be read; their profiles start with the default settings:")
                                  + QLatin1Char('\n') + unread.join(QLatin1Char('\n')));

    QStringList gone;
    for (int row = 0; row < addressList->getServerCount(); ++row) {
        const ServerItem *item = addressList->getServer(row);
        if (item->sharesNothing() && !gone.contains(item->missingShare()))
            gone.append(item->missingShare());
    }
    if (!gone.isEmpty())
        Prompt::warning(this, tr("What was shared is gone:") + QLatin1Char('\n') + gone.join(QLatin1Char('\n'))
                                  + QLatin1Char('\n')
                                  + tr("Its servers share nothing and do not start until a folder or a file is chosen "
                                       "(File, Select Folder or Select File)."));

    if (Configuration::RootMode && Configuration::getGlobalConfig()->showWarnings()) {
        QMessageBox box(QMessageBox::Warning, tr("The server run as root!"),
                        tr("Use this mode only if you want to use port 1 - 1024!"), QMessageBox::Ok, this);
        Prompt::current()->exec(&box);
    }
}

MobileWebServer::~MobileWebServer()
{
    // The servers go first, silenced, while everything they report to still exists.
    if (addressList) {
        addressList->shutdown();
        delete addressList;
        addressList = nullptr;
    }
    EventHandler::totalTraffic = nullptr;
    delete eventHandler;
    thumbnailWorker.clear();
    if (HTML_Element_Manager::instance == &thumbnailWorker)
        HTML_Element_Manager::instance = nullptr;
    qDeleteAll(Configuration::confList);
    Configuration::confList.clear();
    if (mainWindow == this)
        mainWindow = nullptr;
}

ServerItem *MobileWebServer::currentItem() const
{
    return current;
}

void MobileWebServer::loadProfiles()
{
    const QDir dir(Configuration::ConfigDir);
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    for (const QString &name : names) {
        if (!name.endsWith(QLatin1String(".cnf")))
            continue;
        auto *profile = new Configuration();
        // Only the global profile decides whether this is a first run.
        const bool firstRun = Configuration::FirstRun;
        if (!profile->load(Configuration::ConfigDir + name)) {
            Configuration::FirstRun = firstRun;
            profile->profileName = name.chopped(4);
            brokenProfiles.append(name);
        }
        // Rows find their profile by its name: a file carrying a name taken already (written
        // elsewhere, or by an older version) is known by its file's name, numbered if need be.
        const auto taken = [](const QString &wanted) {
            for (const Configuration *p : std::as_const(Configuration::confList)) {
                if (p->profileName == wanted)
                    return true;
            }
            return false;
        };
        if (taken(profile->profileName)) {
            QString free = name.chopped(4);
            for (int n = 2; taken(free); ++n)
                free = name.chopped(4) + QStringLiteral(" (%1)").arg(n);
            profile->profileName = free;
        }
        Configuration::confList.append(profile);
    }
}

void MobileWebServer::createMenus()
{
    Configuration *global = Configuration::getGlobalConfig();
    QMenu *file = menuBar()->addMenu(tr("File"));
    selectFolderAction = file->addAction(tr("Select Folder"), this, &MobileWebServer::browseFolder);
    selectFileAction = file->addAction(tr("Select File"), this, &MobileWebServer::browseFile);
    barcodeAction = file->addAction(tr("Barcode"), this, qOverload<>(&MobileWebServer::showBarcode));
    reloadPublicAction = file->addAction(tr("Reload public addressess"), addressList, &AddressList::loadPublic);
    reloadLocalAction = file->addAction(tr("Reload local addresses"), addressList, &AddressList::loadLocal);
    connect(&addressList->netRequest, &NetRequest::qrcode, this, qOverload<QByteArray &>(&MobileWebServer::showBarcode));

    QMenu *settings = menuBar()->addMenu(tr("Settings"));
    settingsAction = settings->addAction(tr("Settings"), this, &MobileWebServer::globalConfig);
    settings->addAction(tr("Look and Feel"), this, &MobileWebServer::guiConf);
    expertAction = settings->addAction(tr("Expert mode"));
    expertAction->setCheckable(true);
    expertAction->setChecked(global->expertMode);
    connect(expertAction, &QAction::toggled, this, &MobileWebServer::setExpertMode);

    QMenu *helpMenu = menuBar()->addMenu(tr("Help"));
    helpMenu->addAction(tr("Help"), this, &MobileWebServer::help);
    helpMenu->addAction(tr("About Tessaly"), this, &MobileWebServer::about);
    helpMenu->addAction(tr("About Qt"), qApp, &QApplication::aboutQt);

    recentMenu = new QMenu(this);
    for (int i = 0; i < RecentFiles; ++i) {
        QAction *action = recentMenu->addAction(QString(), this, &MobileWebServer::openRecentFile);
        action->setVisible(false);
        recentActions.append(action);
    }
    sharedButton = new QPushButton(tr("Shared Content:"));
    sharedButton->setFlat(true);
    colourSharedButton();
    updateRecentFileActions();
}

void MobileWebServer::colourSharedButton()
{
    const QColor background = palette().color(QPalette::Window);
    // Below this luminance a background reads better with light text than with dark.
    constexpr double DarkBackground = 0.18;
    const bool dark = luminance(background) < DarkBackground;
    QColor text(Qt::cyan);
    for (int step = 0; step < 100 && contrast(text, background) < ReadableContrast; ++step)
        text = dark ? text.lighter(105) : text.darker(105);
    QPalette shown = sharedButton->palette();
    shown.setColor(QPalette::ButtonText, text);
    sharedButton->setPalette(shown);
}

void MobileWebServer::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && sharedButton)
        colourSharedButton();
    if (event->type() == QEvent::FontChange && statusWidget)
        statusWidget->setMinimumHeight(statusWidget->fontMetrics().height() + 2 * statusWidget->margin() + 4);
}

void MobileWebServer::create()
{
    auto *central = new QWidget;
    mainLayout = new QVBoxLayout(central);
    tableLayout = new QVBoxLayout;
    tableLayout->addWidget(addressList);
    tableLayout->addWidget(addressList->publicLine());
    // The room below the table: the short simple table keeps its public line right under it.
    tableLayout->addStretch();
    mainLayout->addLayout(tableLayout, 1);
    // At least one line of text, whatever the font, while it is still empty.
    statusWidget->setMinimumHeight(statusWidget->fontMetrics().height() + 2 * statusWidget->margin() + 4);
    auto *shared = new QHBoxLayout;
    shared->addWidget(sharedButton);
    shared->addWidget(sharedLabel->getScrollArea(), 1);
    mainLayout->addLayout(shared);
    mainLayout->addWidget(statusWidget);
    setCentralWidget(central);
    setWindowTitle(QStringLiteral("Tessaly"));
    // 600 × 480 at the usual font size, larger with a larger font, within most of the screen.
    const QFontMetrics metrics = fontMetrics();
    QSize initial(qMax(600, 85 * metrics.averageCharWidth()), qMax(480, 28 * metrics.height()));
    if (const QScreen *on = screen())
        initial = initial.boundedTo(on->availableGeometry().size() * 9 / 10);
    resize(initial.expandedTo(minimumSizeHint()));
}

void MobileWebServer::setExpertMode(bool on)
{
    if (!addressList->askForStop("Do you want to stop?")) {
        const QSignalBlocker blocker(expertAction);
        expertAction->setChecked(!on);
        return;
    }
    Configuration *global = Configuration::getGlobalConfig();
    global->expertMode = on;
    addressList->configurationChanged(global);
    settingsAction->setText(on ? tr("Global Default Settings") : tr("Settings"));
    // The expert table takes the height; the simple one leaves it below its public line.
    tableLayout->setStretch(0, addressList->isExpertMode() ? 1 : 0);
    tableLayout->setStretch(2, addressList->isExpertMode() ? 0 : 1);
    reloadPublicAction->setVisible(on);
    reloadLocalAction->setVisible(on);
}

void MobileWebServer::globalConfig()
{
    openSettings(Configuration::getGlobalConfig(), addressList, -1);
}

void MobileWebServer::openSettings(Configuration *conf, Configurable *target, int page)
{
    ConfigDialog::edit(conf, target, this, page);
}

void MobileWebServer::guiConf()
{
    GUIconfig dialog(this);
    dialog.run();
}

void MobileWebServer::help()
{
    MessageDialog("Help", MessageDialog::helpPage(QStringLiteral("index")), this);
}

void MobileWebServer::about()
{
    const QString contact = QString::fromLatin1(Contact);
    const QString homepage = QString::fromLatin1(Homepage);
    QMessageBox box(this);
    box.setWindowTitle(tr("About Tessaly"));
    box.setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
    box.setTextFormat(Qt::RichText);
    box.setText(tr("Version") + QStringLiteral(": ") + QLatin1String(Startup::Version) + QStringLiteral("<br>")
                + tr("r4") + QStringLiteral("<br>")
                + tr("Contact") + QStringLiteral(": <a href=\"mailto:") + contact + QStringLiteral("\">") + contact
                + QStringLiteral("</a><br>")
                + tr("Homepage") + QStringLiteral(": <a href=\"") + homepage + QStringLiteral("\">") + homepage
                + QStringLiteral("</a>"));
    box.setStandardButtons(QMessageBox::Ok);
    Prompt::current()->exec(&box);
}

QString MobileWebServer::getParentDir() const
{
    if (!current || current->sharesNothing())
        return QDir::homePath();
    const QFileInfo &shared = current->webServer->root;
    if (!shared.isReadable())
        return QDir::rootPath();
    return shared.isDir() ? shared.absoluteFilePath() : shared.absolutePath();
}

void MobileWebServer::browseFolder()
{
    fileOrDirSelected(Prompt::current()->existingDirectory(this, tr("Select Folder"), getParentDir()));
}

void MobileWebServer::browseFile()
{
    // "*", not "*.*": files without a dot in their name can be shared too.
    fileOrDirSelected(Prompt::current()->openFileName(this, tr("Select File"), getParentDir(),
                                                      tr("All") + QStringLiteral(" (*)")));
}

void MobileWebServer::showSharedPath(const ServerItem *item)
{
    if (item->sharesNothing()) {
        sharedLabel->setElidedText(tr("Nothing is shared: %1 is gone").arg(item->missingShare()));
        return;
    }
    const QFileInfo &shared = item->webServer->root;
    QString shown = shared.absoluteFilePath();
    if (shared.isDir() && !shown.endsWith(u'/'))
        shown += u'/';
    // A path is text, never markup: "<" and "&" show as typed.
    sharedLabel->setElidedText(shown);
}

void MobileWebServer::fileOrDirSelected(const QString &path)
{
    if (path.isEmpty())
        return;
    const QFileInfo shared(path);
    if (!shared.exists()) {
        Prompt::warning(this, QLatin1Char('"') + path + QStringLiteral("\" ") + tr("not exists!"));
        return;
    }
    addressList->setSaraedContent(path, shared.isDir() ? 0 : 1);
    if (current) {
        current->share(shared, !shared.isDir());
        showSharedPath(current);
    }
    setCurrentFile(path);
}

void MobileWebServer::setCurrentFile(const QString &path)
{
    QStringList &recent = Configuration::getGlobalConfig()->recentFiles;
    recent.removeAll(path);
    recent.prepend(path);
    while (recent.size() > RecentFiles)
        recent.removeLast();
    updateRecentFileActions();
}

void MobileWebServer::updateRecentFileActions()
{
    const QStringList &recent = Configuration::getGlobalConfig()->recentFiles;
    const int shown = int(qMin(recent.size(), qsizetype(RecentFiles)));
    for (int i = 0; i < RecentFiles; ++i) {
        QAction *action = recentActions.at(i);
        if (i >= shown) {
            action->setVisible(false);
            continue;
        }
        const QString &path = recent.at(i);
        QString text = path.size() < WholeRecentPath ? path : QFileInfo(path).fileName();
        action->setText(text.replace(u'&', QStringLiteral("&&")));
        action->setData(path);
        action->setVisible(true);
    }
    // An empty menu does not drop down.
    if (sharedButton)
        sharedButton->setMenu(shown > 0 ? recentMenu : nullptr);
}

void MobileWebServer::openRecentFile()
{
    auto *action = qobject_cast<QAction *>(sender());
    if (!action)
        return;
    const QString path = action->data().toString();
    if (!QFileInfo::exists(path)) {
        Configuration::getGlobalConfig()->recentFiles.removeAll(path);
        updateRecentFileActions();
        return;
    }
    fileOrDirSelected(path);
}

void MobileWebServer::changed(ServerItem *item)
{
    current = item;
    selectFileAction->setEnabled(item);
    selectFolderAction->setEnabled(item);
    sharedButton->setEnabled(item);
    if (!item) {
        sharedLabel->off();
        addressList->changed(nullptr);
        return;
    }
    if (item->webServer->isListening())
        sharedLabel->on();
    else
        sharedLabel->off();
    showSharedPath(item);
    addressList->changed(item);
}

void MobileWebServer::linkActivated(const QString &)
{
    if (ServerItem *item = addressList->getSelectedItem())
        QDesktopServices::openUrl(QUrl(QString::fromLatin1(item->getUrl())));
}

void MobileWebServer::onlineStateChanged(bool online)
{
    addressList->onlineStateChanged(online);
}

void MobileWebServer::dataLimit(WebServer *server)
{
    // Only a server of one of the rows is stopped and reported.
    ServerItem *item = addressList ? addressList->findItem(server) : nullptr;
    if (!item)
        return;
    item->stopAll();
    item->stop();
    const QString text = tr("Network traffic limit") + QLatin1Char('\n')
        + tr("Max. network traffic limit") + tr(": %1 KB ").arg(server->traffic.limit / 1024) + tr("reached")
        + QLatin1Char('\n') + tr("Server stopped on")
        + tr(" %1:%2.\n").arg(server->address->ip().toString()).arg(server->port)
        + tr("Sent bytes") + tr(": %1 KB").arg(server->traffic.sentBytes / 1000) + QLatin1Char('\n')
        + tr("Received bytes") + tr(": %1 KB").arg(server->traffic.receivedBytes / 1000);
    Prompt::notice(this, QMessageBox::Critical, text);
}

void MobileWebServer::showBarcode()
{
    // The code is made here unless a chart service is configured.
    if (!NetRequest::qrUrl().isEmpty())
        statusBar()->showMessage(tr("Get small qrcode image from internet"), 2000);
    const QString selection = AddressSelectDialog(addressList).getSelection();
    if (!selection.isEmpty())
        addressList->netRequest.getQRcode(selection);
}

void MobileWebServer::showBarcode(QByteArray &image)
{
    // The chart service's short answers arrive empty; whatever does not decode is no picture.
    QPixmap picture;
    if (image.isEmpty() || !picture.loadFromData(image, "PNG")) {
        statusBar()->showMessage(NetRequest::qrUrl().isEmpty() ? tr("The QR code could not be made")
                                                               : tr("Get qrcode image from internet failed"),
                                 2000);
        return;
    }
    auto *box = new QMessageBox(this);
    box->setWindowTitle(tr("QR code"));
    box->setIconPixmap(picture);
    Prompt::current()->show(box, Prompt::Presentation::Maximized);
}

void MobileWebServer::closeEvent(QCloseEvent *event)
{
    if (Configuration::FirstRun || !addressList) {
        event->accept();
        return;
    }
    if (!addressList->askForStop("Do you want to exit?")) {
        event->ignore();
        return;
    }
    QStringList failures;
    QString listProblem;
    if (!addressList->end(&listProblem))
        failures.append(listProblem);
    thumbnailWorker.clear();
    Configuration *global = Configuration::getGlobalConfig();
    global->savedOnExit = true;
    global->expertMode = expertAction->isChecked();
    if (!global->save())
        failures.append(global->saveError());
    if (!failures.isEmpty())
        Prompt::notSaved(this, failures, tr("What was not saved is lost when Tessaly ends."));
    event->accept();
}
