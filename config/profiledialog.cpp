#include "config/profiledialog.h"

#include "app/prompt.h"
#include "config/configuration.h"
#include "instances/serveritem.h"
#include "server/webserver.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>

ProfileDialog::ProfileDialog(ServerItem *item, QWidget *parent)
    : QDialog(parent)
    , item(item)
{
    setWindowTitle(tr("Change Profile"));
    profileBox = new QComboBox;
    profileBox->setEditable(true);
    // Typing renames the current entry; it never adds one.
    profileBox->setInsertPolicy(QComboBox::NoInsert);
    for (const Configuration *p : std::as_const(Configuration::confList))
        profileBox->addItem(p->profileName);
    if (item)
        profileBox->setCurrentIndex(int(Configuration::confList.indexOf(item->webServer->config)));

    auto *newButton = new QPushButton(tr("New profile"));
    auto *removeButton = new QPushButton(tr("Remove profile"));
    newButton->setAutoDefault(false);
    removeButton->setAutoDefault(false);
    connect(newButton, &QPushButton::clicked, this, &ProfileDialog::newProfile);
    connect(removeButton, &QPushButton::clicked, this, &ProfileDialog::deleteProfile);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::accepted, this, &ProfileDialog::ok);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *row = new QHBoxLayout;
    row->addWidget(newButton);
    row->addWidget(removeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Select profile or edit profile name")));
    layout->addWidget(profileBox);
    layout->addLayout(row);
    layout->addWidget(buttons);
}

int ProfileDialog::run()
{
    return Prompt::current()->exec(this);
}

Configuration *ProfileDialog::getConfig() const
{
    return Configuration::confList.value(profileBox->currentIndex());
}

QString ProfileDialog::refusal(const QString &name, const Configuration *renamed)
{
    // The name becomes the name of a file in the profile folder.
    if (name.trimmed().isEmpty())
        return tr("A profile needs a name.");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return tr("A profile cannot be named \".\" or \"..\".");
    if (name.contains(u'/'))
        return tr("A profile name cannot contain \"/\".");
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return tr("A profile name cannot contain control characters.");
    }
    if (name.toUtf8().size() > MaxNameBytes)
        return tr("A profile name has at most %1 bytes.").arg(MaxNameBytes);
    for (const Configuration *p : std::as_const(Configuration::confList)) {
        if (p != renamed && p->profileName == name)
            return tr("There is a profile of this name already.");
    }
    if (!renamed) {
        Configuration probe;
        probe.setFileName(name);
        if (QFileInfo::exists(probe.fileName()))
            return tr("The profile folder holds a file of this name already.");
    }
    return QString();
}

void ProfileDialog::ok()
{
    Configuration *p = getConfig();
    if (!p)
        return;
    const QString name = profileBox->currentText();
    if (name != p->profileName) {
        const QString refused = refusal(name, p);
        if (!refused.isEmpty()) {
            Prompt::warning(this, refused);
            return;
        }
        // The file keeps its name; it holds the new one from now on, as the rows will.
        p->profileName = name;
        p->save();
    }
    if (item && p != item->webServer->config)
        item->configurationChanged(p);
    accept();
}

void ProfileDialog::newProfile()
{
    QString name;
    if (!Prompt::input(this, tr("Profile name"), &name))
        return;
    const QString refused = refusal(name);
    if (!refused.isEmpty()) {
        Prompt::warning(this, refused);
        return;
    }
    std::unique_ptr<Configuration> p(Configuration::getGlobalConfig()->clone());
    p->setFileName(name);
    p->profileName = name;
    if (!p->save()) {
        Prompt::warning(this, tr("The profile could not be saved."));
        return;
    }
    profileBox->addItem(name);
    Configuration::confList.append(p.release());
}

void ProfileDialog::deleteProfile()
{
    const int i = qMax(0, profileBox->currentIndex());
    Configuration *p = Configuration::confList.value(i);
    if (!p)
        return;
    if (i == 0) {
        Prompt::warning(this, tr("The global profile is not removable."));
        return;
    }
    // Servers refer to their profile: one in use stays until no server runs on it.
    if (p->useCount >= 1) {
        Prompt::warning(this, tr("Used config profile is not removable."));
        return;
    }
    // A file that is gone already is no reason to keep the profile.
    if (!p->remove() && QFileInfo::exists(p->fileName()))
        return;
    profileBox->removeItem(i);
    Configuration::confList.removeAt(i);
    delete p;
}
