#ifndef CONFIGPAGEFOLDER_H
#define CONFIGPAGEFOLDER_H

#include "config/configpage.h"
#include "config/configuration.h"

class QVBoxLayout;

// What the folder pages show and allow: thumbnails, deleting, sub-folders, uploads; and which
// pages a browser gets.
class ConfigPageFolder : public ConfigPage
{
    Q_OBJECT

public:
    ConfigPageFolder(Configuration *conf, QWidget *parent = nullptr);

public slots:
    void viewChanged(int state);
    void deleteChanged(int state);
    void folderEnabledChanged(int state);
    void uploadChanged(int state);
    void pagesChanged(int index);

private:
    void addCheckBox(QVBoxLayout *layout, const QString &text, const char *name, bool checked,
                     void (ConfigPageFolder::*slot)(int));
    void set(CheckState Configuration::*field, int state);
};

#endif
