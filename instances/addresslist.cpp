#include "instances/addresslist.h"

#include "config/configuration.h"
#include "config/profiledialog.h"
#include "instances/addresssource.h"
#include "instances/serveritem.h"
#include "server/trafficmeter.h"
#include "server/webserver.h"
#include "widgets/eventhandler.h"
#include "widgets/prompt.h"

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QNetworkAddressEntry>
#include <QSaveFile>
#include <QSettings>
#include <QStyleFactory>
#include <QTableWidget>
#include <QToolButton>

AddressList::AddressList(QWidget *parent)
    : QWidget(parent)
{
    settings = new QSettings(Configuration::ConfigDir + QStringLiteral("list.ini"), QSettings::IniFormat, this);
    // Written to a new file that replaces the old one whole: a crash while saving never leaves
    // half a list.
    settings->setAtomicSyncRequired(true);

    startButton = new QToolButton;
    startButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    startButton->setIconSize(QSize(48, 48));
    startButton->setMinimumHeight(120);
    connect(startButton, &QToolButton::clicked, this, &AddressList::startButtonPressed);
    setStartButton(false);
    layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(startButton, 0, Qt::AlignTop);
    publicLabel = new QLabel;
    menu = new QMenu(this);

    connect(&netRequest, &NetRequest::dnsState, this, &AddressList::dnsState);
    connect(&netRequest, &NetRequest::publicIP, this, &AddressList::publicIP);
    connect(&netRequest, &NetRequest::noNet, this, &AddressList::noNet);
}

AddressList::~AddressList()
{
    shutdown();
    // The main window's layout holds the line once it is placed.
    if (!publicLabel->parent())
        delete publicLabel;
}

void AddressList::shutdown()
{
    networkManager.disconnect();
    for (QTableWidget *t : {expertTable, simpleTable}) {
        if (!t)
            continue;
        for (int row = 0; row < t->rowCount(); ++row) {
            if (auto *item = static_cast<ServerItem *>(t->item(row, 0))) {
                item->blockSignals(true);
                item->stopAll();
            }
        }
    }
}

QTableWidget *AddressList::makeTable(bool expert)
{
    auto *t = new QTableWidget(this);
    if (expert) {
        t->setColumnCount(3);
        t->setHorizontalHeaderLabels({tr("Address"), tr("Config"), tr("Status")});
        t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
        t->setMinimumHeight(230);
        t->setMinimumWidth(360);
        connect(t, &QTableWidget::cellPressed, this, &AddressList::cellPressed);
        connect(t, &QTableWidget::itemSelectionChanged, this, &AddressList::itemSelectionChanged);
    } else {
        t->setColumnCount(1);
        t->setHorizontalHeaderLabels({tr("Network Addresses")});
        t->setMaximumHeight(200);
        t->setMinimumWidth(240);
    }
    setTable(t);
    return t;
}

void AddressList::setTable(QTableWidget *t)
{
    if (!tableStyle) {
        tableStyle = QStyleFactory::create(QStringLiteral("Fusion"));
        if (tableStyle)
            tableStyle->setParent(this);
    }
    if (tableStyle)
        t->setStyle(tableStyle);
    QPalette palette = t->palette();
    palette.setColor(QPalette::BrightText, Qt::black);
    t->setPalette(palette);
    t->setIconSize(QSize(48, 48));
    t->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->verticalHeader()->hide();
    // The short simple table sits at the top beside its button; the expert one takes the height.
    layout->insertWidget(0, t, 1, t->columnCount() == 1 ? Qt::AlignTop : Qt::Alignment());
}

void AddressList::stopItems(QTableWidget *t)
{
    if (!t)
        return;
    for (int row = 0; row < t->rowCount(); ++row) {
        if (auto *item = static_cast<ServerItem *>(t->item(row, 0)))
            item->stop();
    }
}

void AddressList::setExpertMode()
{
    QTableWidget *&shown = expertMode ? expertTable : simpleTable;
    QTableWidget *other = expertMode ? simpleTable : expertTable;
    startButton->setVisible(!expertMode);
    if (expertMode)
        publicLabel->clear();
    if (!shown)
        shown = makeTable(expertMode);
    if (other) {
        stopItems(table);
        other->hide();
    }
    table = shown;
    table->show();
    if (table->rowCount() > 0) {
        // Their profiles may have been edited while the table was hidden.
        for (int row = 0; row < table->rowCount(); ++row)
            getServer(row)->webServer->configurationChanged(getServer(row)->webServer->config);
        emit selectionChanged(getSelectedItem());
        return;
    }
    loadLocal();
    if (pendingItem)
        loadPublic();
    if (expertMode && table->rowCount() > 0) {
        // The further ports of the rows, as they were at the last exit.
        const int len = qBound(0, settings->value(QStringLiteral("len"), 0).toInt(), MaxRows);
        for (int row = table->rowCount(); row < len; ++row)
            addItem(new ServerItem(new QNetworkAddressEntry(*getServer(0)->webServer->address)));
    }
    emit selectionChanged(getSelectedItem());
}

void AddressList::loadLocal()
{
    if (!table)
        return;
    const QList<QNetworkAddressEntry> addressEntries = AddressSource::current()->entries();
    // From the last row up, so that every row whose address is gone is looked at.
    for (int row = table->rowCount() - 1; row >= 0; --row) {
        ServerItem *item = getServer(row);
        if (!item || !addressEntries.contains(*item->webServer->address))
            table->removeRow(row);
    }
    for (const QNetworkAddressEntry &entry : addressEntries) {
        if (!contains(entry) && table->rowCount() < MaxRows)
            addItem(new ServerItem(new QNetworkAddressEntry(entry)));
    }
    emit selectionChanged(getSelectedItem());
    if (table->rowCount() == 0)
        publicLabel->setText(QStringLiteral("<center><b>") + tr("Network not found") + QStringLiteral("</b></center>"));
    else if (!anyListening())
        publicLabel->clear();
}

bool AddressList::contains(const QNetworkAddressEntry &entry) const
{
    for (int row = 0; row < getServerCount(); ++row) {
        if (*getServer(row)->webServer->address == entry)
            return true;
    }
    return false;
}

void AddressList::addItem(ServerItem *item)
{
    connect(item, &ServerItem::changed, this, &AddressList::serverChanged);
    connect(item->webServer, qOverload<WebServer *>(&WebServer::dataLimit), this, &AddressList::dataLimit);
    const int row = table->rowCount();
    table->insertRow(row);
    table->setItem(row, 0, item);
    if (expertMode) {
        table->setItem(row, 1, item->configCell());
        table->setItem(row, 2, item->statusCell());
        item->restore(settings, row, restoreMode);
    } else {
        item->restore(settings, 0, restoreMode);
    }
    table->resizeRowsToContents();
}

ServerItem *AddressList::getServer(int row) const
{
    if (!table)
        return nullptr;
    return static_cast<ServerItem *>(table->item(row, 0));
}

int AddressList::getServerCount() const
{
    return table ? table->rowCount() : 0;
}

ServerItem *AddressList::findItem(const WebServer *server) const
{
    for (QTableWidget *t : {expertTable, simpleTable}) {
        if (!t)
            continue;
        for (int row = 0; row < t->rowCount(); ++row) {
            auto *item = static_cast<ServerItem *>(t->item(row, 0));
            if (item && item->webServer == server)
                return item;
        }
    }
    return nullptr;
}

ServerItem *AddressList::getSelectedItem()
{
    if (!table)
        return nullptr;
    const int row = table->currentRow();
    if (row >= 0)
        return getServer(row);
    if (table->rowCount() == 0)
        return nullptr;
    {
        const QSignalBlocker blocker(table);
        table->setCurrentCell(0, qMin(1, table->columnCount() - 1));
    }
    return getServer(0);
}

void AddressList::itemSelectionChanged()
{
    emit selectionChanged(getSelectedItem());
}

bool AddressList::anyListening() const
{
    for (int row = 0; row < getServerCount(); ++row) {
        if (getServer(row)->webServer->isListening())
            return true;
    }
    return false;
}

void AddressList::startButtonPressed()
{
    const bool stopping = anyListening();
    for (int row = 0; row < getServerCount(); ++row) {
        ServerItem *item = getServer(row);
        if (!item)
            continue;
        if (stopping)
            item->stop();
        else
            startItem(item);
    }
    if (EventHandler::statusWidget && EventHandler::statusWidget->text().isEmpty() && anyListening())
        EventHandler::statusmsg(tr("Use shown address in browser"));
}

bool AddressList::startItem(ServerItem *item)
{
    // The counters persist after the limit stopped a server: started as it is, it would stop
    // again at its first request.
    const TrafficMeter &traffic = item->webServer->traffic;
    const qint64 total = traffic.sentBytes + traffic.receivedBytes;
    if (traffic.isLimited() && total >= traffic.limit) {
        QPointer<ServerItem> guarded(item);
        const bool reset = Prompt::question(
            this, tr("The traffic limit of %1, %2 KB, is still reached: %3 KB were sent and received.")
                          .arg(QString::fromLatin1(item->getUrl()))
                          .arg(traffic.limit / 1024)
                          .arg(total / 1000)
                      + QLatin1Char('\n') + tr("Reset its counters and start it?"));
        // The row may be gone once the question is answered.
        if (!reset || !guarded)
            return false;
        item->webServer->traffic.sentBytes = 0;
        item->webServer->traffic.receivedBytes = 0;
    }
    return item->start();
}

void AddressList::setStartButton(bool running)
{
    if (expertMode)
        return;
    startButton->setIcon(running ? ServerItem::stopIcon : ServerItem::playIcon);
    startButton->setText(running ? tr("Stop") : tr("Start"));
}

void AddressList::changed(ServerItem *item)
{
    if (!item) {
        startButton->setEnabled(false);
        return;
    }
    startButton->setEnabled(true);
    if (!item->webServer->isListening()) {
        if (item == pendingItem) {
            publicLabel->clear();
            item->publicReachable = false;
        }
        setStartButton(false);
        return;
    }
    setStartButton(true);
    // The dynamic-DNS account is the global configuration's, like the update itself.
    if (lastDnsEnabled || networkManager.isOnline())
        loadPublic();
}

bool AddressList::askForStop(const char *question)
{
    for (int row = 0; row < getServerCount(); ++row) {
        const ServerItem *item = getServer(row);
        if (item->webServer->isListening() && item->webServer->config->showWarnings())
            return Prompt::question(this, tr("The server is running.") + QLatin1Char('\n')
                                              + QCoreApplication::translate("AddressList", question));
    }
    return true;
}

void AddressList::cellPressed(int row, int column)
{
    ServerItem *item = getServer(row);
    if (!item)
        return;
    pressedItem = item;
    if (column == 1) {
        menu->clear();
        QString name = item->webServer->config->profileName;
        menu->addAction(name.replace(u'&', QStringLiteral("&&")) + QLatin1Char(' ') + tr("Settings"),
                        this, &AddressList::editProfile);
        menu->addAction(tr("Change Config"), this, &AddressList::changeProfile);
        menu->addAction(tr("Add new port"), this, &AddressList::addNewPort);
        menu->addAction(tr("Change port"), this, &AddressList::changePort);
        menu->addAction(tr("Remove"), this, &AddressList::remove);
        menu->popup(QCursor::pos());
    } else if (column == 2) {
        if (item->webServer->isListening())
            item->stop();
        else
            startItem(item);
    }
    if (item == getServer(row))
        table->setCurrentCell(row, 1);
}

void AddressList::editProfile()
{
    if (pressedItem)
        emit settingsRequested(pressedItem->webServer->config, -1);
}

void AddressList::changeProfile()
{
    if (!pressedItem)
        return;
    ProfileDialog dialog(pressedItem->webServer->config, this);
    const bool accepted = dialog.run() == QDialog::Accepted;
    // The row may be gone once the dialog is closed (an online change rebuilds the rows).
    if (accepted && pressedItem && dialog.chosen() && dialog.chosen() != pressedItem->webServer->config)
        pressedItem->useProfile(dialog.chosen());
    if (accepted && pressedItem && pressedItem == pendingItem) {
        publicLabel->clear();
        pendingItem->publicReachable = false;
        if (networkManager.isOnline())
            loadPublic();
    }
    update();
}

bool AddressList::askPort(ServerItem *item, const QString &label, int *port)
{
    QString text = QString::number(item->webServer->port);
    if (!Prompt::input(this, label, &text))
        return false;
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    if (ok && value >= 1 && value < 1024 && !Configuration::RootMode) {
        Prompt::warning(this, tr("Ports below 1024 need root mode: start Tessaly as \"tessaly root\"."));
        return false;
    }
    if (!ok || !ServerItem::isUsablePort(value)) {
        Prompt::warning(this, tr("Invalid port"));
        return false;
    }
    *port = int(value);
    return true;
}

void AddressList::addNewPort()
{
    if (!pressedItem || !table)
        return;
    int port = 0;
    restoreMode = 1;
    // The row may be gone once the question is answered (an online change refreshes the rows).
    if (askPort(pressedItem, tr("New port"), &port) && pressedItem && table->rowCount() < MaxRows) {
        auto *item = new ServerItem(pressedItem.data());
        item->setPort(port);
        addItem(item);
    }
    restoreMode = 0;
}

void AddressList::changePort()
{
    if (!pressedItem)
        return;
    int port = 0;
    if (askPort(pressedItem, tr("Port"), &port) && pressedItem)
        pressedItem->setPort(port);
}

void AddressList::remove()
{
    if (!pressedItem || !table || pressedItem->tableWidget() != table)
        return;
    table->removeRow(pressedItem->row());
    emit selectionChanged(getSelectedItem());
}

void AddressList::setSaraedContent(const QString &path, int kind)
{
    const auto share = [&](ServerItem *item) { item->share(QFileInfo(path), kind == 1); };
    if (expertMode) {
        if (ServerItem *item = getSelectedItem())
            share(item);
        return;
    }
    for (int row = 0; row < getServerCount(); ++row)
        share(getServer(row));
}

void AddressList::applyToItems(Configuration *profile)
{
    // Matched by the profile itself, not by its name: a renamed profile may carry the name
    // another one had.
    for (int row = 0; row < getServerCount(); ++row) {
        ServerItem *item = getServer(row);
        if (profile && item->webServer->config == profile)
            item->configurationChanged(profile);
    }
}

void AddressList::configurationChanged(Configuration *conf)
{
    Configuration *global = Configuration::getGlobalConfig();
    Configuration *profile = Configuration::profileOf(conf);
    // An edited copy goes into its profile first, which the rows then take over and which is
    // saved once, however many rows use it.
    const bool edited = profile && profile != conf;
    if (edited)
        profile->apply(conf);
    if (profile != global) {
        applyToItems(profile);
    } else {
        if (expertMode == global->expertMode && table) {
            applyToItems(global);
        } else {
            expertMode = global->expertMode;
            lastDnsEnabled = global->useDNS();
            setExpertMode();
            if (!expertMode)
                applyToItems(global);
        }
        if (global->useDNS() != lastDnsEnabled || global->dnsUser != lastDnsUser
            || global->dnsPassword != lastDnsPassword || global->port != lastPort) {
            lastDnsEnabled = global->useDNS();
            lastDnsUser = global->dnsUser;
            lastDnsPassword = global->dnsPassword;
            lastPort = global->port;
            if (lastDnsEnabled)
                loadPublic();
        }
    }
    if (edited && !profile->save()) {
        QWidget *shown = QApplication::activeModalWidget();
        Prompt::notSaved(shown ? shown : this, {profile->saveError()},
                         tr("The servers keep what was applied until Tessaly ends."));
    }
    if (conf->isSSLmode() != lastSslMode) {
        lastSslMode = conf->isSSLmode();
        changed(getSelectedItem());
    }
}

void AddressList::update()
{
    for (int row = 0; row < getServerCount(); ++row)
        getServer(row)->update();
    if (!anyListening() && EventHandler::eventHandler)
        EventHandler::eventHandler->stopTimer();
}

qint64 AddressList::refreshTraffic()
{
    qint64 total = 0;
    for (int row = 0; row < getServerCount(); ++row) {
        ServerItem *item = getServer(row);
        if (!item)
            continue;
        total += item->webServer->traffic.sentBytes + item->webServer->traffic.receivedBytes;
        if (item->webServer->isListening())
            item->update();
    }
    return total;
}

bool AddressList::end(QString *problem)
{
    if (expertMode) {
        settings->setValue(QStringLiteral("len"), getServerCount());
        for (int row = 0; row < getServerCount(); ++row)
            getServer(row)->save(settings, row);
    } else if (getServerCount() > 0) {
        getServer(0)->save(settings, 0);
    }
    settings->sync();
    if (settings->status() == QSettings::NoError)
        return true;
    if (problem) {
        // The settings class tells no reason: a write of the file's folder tells the system's.
        QSaveFile probe(settings->fileName());
        QString reason = tr("it could not be written");
        if (!probe.open(QIODevice::WriteOnly))
            reason = probe.errorString();
        probe.cancelWriting();
        *problem = settings->fileName() + QStringLiteral(": ") + reason;
    }
    return false;
}

void AddressList::onlineStateChanged(bool online)
{
    loadLocal();
    if (online) {
        loadPublic();
        return;
    }
    publicLabel->clear();
    if (pendingItem)
        pendingItem->publicReachable = false;
}

void AddressList::loadPublic()
{
    if (!pendingItem)
        pendingItem = getSelectedItem();
    if (!pendingItem)
        return;
    if (!(pendingItem->publicReachable && pendingItem->webServer->isListening()))
        netRequest.getIP(pendingItem);
    if (lastDnsEnabled) {
        if (lastDnsUser.isEmpty() || lastDnsPassword.isEmpty())
            Prompt::warning(this, tr("User and password required for DNS service."));
        if (pendingItem)
            netRequest.getDNS(pendingItem);
    }
}

void AddressList::publicIP(ServerItem *item)
{
    pendingItem = item;
    init();
}

void AddressList::dnsState(const QUrl &url, ServerItem *item)
{
    pendingItem = item;
    if (url.isValid())
        QDesktopServices::openUrl(url);
    init();
}

void AddressList::noNet()
{
    publicLabel->clear();
    if (pendingItem)
        pendingItem->publicReachable = false;
    EventHandler::statusmsg(tr("No internet connection"));
}

void AddressList::init()
{
    if (!pendingItem)
        return;
    if (!pendingItem->publicReachable) {
        publicLabel->setText(QStringLiteral("<center>") + tr("No accessible public address") + QStringLiteral("</center>"));
        return;
    }
    Configuration *profile = pendingItem->webServer->config;
    // Asked once after a server started, not for every answer of the lookups, and never for a
    // server that does not run.
    if (Configuration::getGlobalConfig()->showWarnings() && profile->authMode == AuthMode::None
        && pendingItem->webServer->isListening() && !pendingItem->openAccessAsked) {
        pendingItem->openAccessAsked = true;
        if (Prompt::question(this, tr("The shared files are accessible for everyone.") + QLatin1Char('\n')
                                       + tr("Do you want to set password?")))
            emit settingsRequested(profile, 1);
    }
    if (!pendingItem)
        return;
    const QString line = pendingItem->dnsUpdated
                             ? tr("Public addresses: %1, %2").arg(pendingItem->getDNS_URL(), pendingItem->getPublicURL())
                             : tr("Public address: %1").arg(pendingItem->getPublicURL());
    publicLabel->setText(QStringLiteral("<center>") + line.toHtmlEscaped() + QStringLiteral("</center>"));
}
