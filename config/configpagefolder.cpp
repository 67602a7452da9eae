#include "config/configpagefolder.h"

#include "config/configuration.h"
#include "widgets/linklabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QVBoxLayout>

ConfigPageFolder::ConfigPageFolder(Configuration *conf, QWidget *parent)
    : ConfigPage(conf, parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading(tr("Folder View Settings"), QStringLiteral("folder")));
    addCheckBox(layout, tr("Show images"), "showImages", conf->isThumbnail(), &ConfigPageFolder::viewChanged);
    addCheckBox(layout, tr("Enable deleting"), "enableDelete", conf->isDelete(), &ConfigPageFolder::deleteChanged);
    addCheckBox(layout, tr("Show folders"), "showFolders", conf->isFolder(),
                &ConfigPageFolder::folderEnabledChanged);
    addCheckBox(layout, tr("Enable upload"), "enableUpload", conf->isUpload(), &ConfigPageFolder::uploadChanged);
    auto *pages = new QComboBox;
    pages->setObjectName(QStringLiteral("pages"));
    // In the order of the FolderPages numbers.
    pages->addItems({tr("Classic"), tr("Responsive")});
    pages->setCurrentIndex(int(conf->pages));
    addRow(layout, helpLabel(tr("Page style:"), QStringLiteral("folder")), pages);
    connect(pages, &QComboBox::currentIndexChanged, this, &ConfigPageFolder::pagesChanged);
    layout->addStretch(1);
}

void ConfigPageFolder::addCheckBox(QVBoxLayout *layout, const QString &text, const char *name, bool checked,
                                   void (ConfigPageFolder::*slot)(int))
{
    QCheckBox *box = checkBox(text, name, checked);
    connect(box, &QCheckBox::stateChanged, this, slot);
    layout->addWidget(box);
}

void ConfigPageFolder::set(CheckState Configuration::*field, int state)
{
    conf->*field = CheckState(state);
    emit edited();
}

void ConfigPageFolder::viewChanged(int state)
{
    set(&Configuration::showImages, state);
}

void ConfigPageFolder::deleteChanged(int state)
{
    set(&Configuration::enableDelete, state);
}

void ConfigPageFolder::folderEnabledChanged(int state)
{
    set(&Configuration::showFolders, state);
}

void ConfigPageFolder::uploadChanged(int state)
{
    set(&Configuration::enableUpload, state);
}

void ConfigPageFolder::pagesChanged(int index)
{
    conf->pages = FolderPages(index);
    emit edited();
}
