#ifndef CONFIGDIALOG_H
#define CONFIGDIALOG_H

#include "config/pageddialog.h"

#include <memory>

class Configurable;
class Configuration;

// Edits one profile on a copy of its own. "Apply" shows while the copy differs from the profile
// and hands the copy to the target, which takes it into the profile and its servers. However the
// dialog is closed, the page shown is remembered in the profile and the copy goes with the dialog.
class ConfigDialog : public PagedDialog
{
    Q_OBJECT

public:
    // `page` is the page to show first; -1 is the one shown when a dialog on `conf` last closed.
    ConfigDialog(Configuration *conf, Configurable *target, QWidget *parent, int page);
    ~ConfigDialog() override;

    // Runs a dialog on `conf` until it is closed. While one is open on `conf` already (this is
    // called from inside its modal loop), that one turns to `page` and nothing else opens.
    static int edit(Configuration *conf, Configurable *target, QWidget *parent, int page);

    QPushButton *applyControl() const { return applyButton; }
    const Configuration *copy() const { return conf.get(); }

public slots:
    void changePage(QListWidgetItem *current, QListWidgetItem *previous);
    void showApplyIfEdited();
    void apply();
    // Every way of closing ends here: "Close", Esc and the window's close button.
    void done(int result) override;

private:
    bool keysChanged() const;

    bool isGlobal = false;
    QPushButton *applyButton = nullptr;
    Configuration *profile;
    Configurable *target;
    std::unique_ptr<Configuration> conf;
};

#endif
