#include "config/configdialog.h"

#include "config/configpageaut.h"
#include "config/configpagedns.h"
#include "config/configpagefolder.h"
#include "config/configpageserver.h"
#include "config/configpageserver2.h"
#include "config/configurable.h"
#include "config/configuration.h"
#include "server/keypair.h"
#include "widgets/prompt.h"

#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>

namespace {

// The dialogs open now, innermost last. One opened from inside another's modal loop (the
// question after a public-address lookup does that) edits its own copy; on a profile that one of
// them edits already, that one shows the page asked for instead: two copies of one profile would
// undo each other's edits.
QList<ConfigDialog *> openDialogs;

} // namespace

ConfigDialog::ConfigDialog(Configuration *edited, Configurable *target, QWidget *parent, int page)
    : PagedDialog(parent)
    , profile(edited)
    , target(target)
    , conf(edited->clone())
{
    isGlobal = edited == Configuration::getGlobalConfig();
    openDialogs.append(this);
    addPage(new ConfigPageFolder(conf.get()), QStringLiteral(":/icons/folder.png"), tr("Folder"));
    addPage(new ConfigPageAut(conf.get()), QStringLiteral(":/icons/kgpg.png"), tr("Aut."));
    addPage(new ConfigPageServer(conf.get()), QStringLiteral(":/icons/preferences-network.png"), tr("Server"));
    if (isGlobal && conf->expertMode) {
        addPage(new ConfigPageDNS(conf.get()), QStringLiteral(":/icons/dns.png"), tr("DNS"));
        addPage(new ConfigPageServer2(conf.get()), QStringLiteral(":/icons/preferences-network.png"), tr("Server2"));
        setWindowTitle(conf->profileName + QLatin1Char(' ') + tr("Configuration Settings"));
    } else {
        setWindowTitle(tr("Configuration Settings"));
    }
    connect(this, &PagedDialog::pageChanged, this, &ConfigDialog::showApplyIfEdited);

    QPushButton *closeButton = button(tr("&Close"));
    applyButton = button(tr("&Apply"));
    applyButton->hide();
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(applyButton, &QPushButton::clicked, this, &ConfigDialog::apply);

    connect(contentsWidget, &QListWidget::currentItemChanged, this, &ConfigDialog::changePage);
    if (page < 0)
        page = profile->settingsPage;
    contentsWidget->setCurrentRow(page >= 0 && page < pageCount() ? page : 0);
    arrange({applyButton, closeButton});
    showApplyIfEdited();
}

ConfigDialog::~ConfigDialog()
{
    openDialogs.removeAll(this);
}

int ConfigDialog::edit(Configuration *conf, Configurable *target, QWidget *parent, int page)
{
    if (!conf)
        return QDialog::Rejected;
    for (ConfigDialog *open : std::as_const(openDialogs)) {
        if (open->profile == conf) {
            if (page >= 0 && page < open->pageCount())
                open->contentsWidget->setCurrentRow(page);
            open->raise();
            open->activateWindow();
            return QDialog::Rejected;
        }
    }
    ConfigDialog dialog(conf, target, parent, page);
    return Prompt::current()->exec(&dialog);
}

void ConfigDialog::changePage(QListWidgetItem *current, QListWidgetItem *previous)
{
    QListWidgetItem *shown = current ? current : previous;
    if (shown)
        pagesWidget->setCurrentIndex(contentsWidget->row(shown));
}

void ConfigDialog::showApplyIfEdited()
{
    applyButton->setVisible(!conf->equals(profile));
}

bool ConfigDialog::keysChanged() const
{
    return conf->isSSLmode()
        && (!profile->isSSLmode() || conf->keyFile != profile->keyFile || conf->keyPassword != profile->keyPassword);
}

void ConfigDialog::apply()
{
    const Configuration::AccessFlaw flaw = conf->accessFlaw();
    const QString refusal = flaw == Configuration::AccessFlaw::EmptyPassword
        ? tr("Password access needs a password: an empty one lets everyone in.")
        : flaw == Configuration::AccessFlaw::NoUser
        ? tr("Basic HTTP access needs at least one user: without one nobody gets in.")
        : QString();
    if (!refusal.isEmpty()) {
        Prompt::warning(this, refusal + QLatin1Char('\n') + tr("Nothing was applied."));
        return;
    }
    // A key pair is read before the servers get it: one that does not load is told here, and
    // nothing is applied, so that the servers keep the pair they serve with.
    if (keysChanged()) {
        const KeyPair pair = KeyPair::load(conf->keyFile, conf->keyPassword);
        if (!pair.notMade.isEmpty()) {
            Prompt::warning(this, tr("The key pair %1 cannot be made (%2).").arg(conf->keyFile, pair.notMade) + QLatin1Char('\n')
                                      + tr("Nothing was applied; the servers keep the key pair they have."));
            return;
        }
        if (!pair.isUsable()) {
            Prompt::warning(this, pair.problem() + QLatin1Char('\n')
                                      + tr("Nothing was applied; the servers keep the key pair they have."));
            return;
        }
    }
    if (target)
        target->configurationChanged(conf.get());
    // Hidden when the profile took the edit over, as it does.
    showApplyIfEdited();
}

void ConfigDialog::done(int result)
{
    profile->settingsPage = contentsWidget->currentRow();
    profile->save();
    QDialog::done(result);
}
