#ifndef GUICONFIG_H
#define GUICONFIG_H

#include "config/pageddialog.h"

#include <QPalette>
#include <QSettings>

class PageFont;
class PagePalette;
class PageStyle;

// The look of the application: its widget style, three colours and the font size, stored in the
// application's settings, from which the start restores them. A style chosen runs at once;
// colours and size show on their pages. What is not applied is undone however the dialog is
// closed.
class GUIconfig : public PagedDialog
{
    Q_OBJECT

public:
    explicit GUIconfig(QWidget *parent);

    int run();

    QPushButton *applyControl() const { return applyButton; }
    PageStyle *stylePage() const { return pageStyle; }
    PagePalette *palettePage() const { return pagePalette; }
    PageFont *fontPage() const { return pageFont; }

public slots:
    void changePage(QListWidgetItem *current, QListWidgetItem *previous);
    void showApplyIfEdited();
    void apply();
    // Every way of closing ends here: "Cancel", Esc and the window's close button.
    void done(int result) override;
    // The dialog is at least as large as the room on screen `screen`.
    void setupSize(int screen);

private:
    void createIcons();

    QSettings settings;
    PagePalette *pagePalette = nullptr;
    PageStyle *pageStyle = nullptr;
    PageFont *pageFont = nullptr;
    QPushButton *applyButton = nullptr;
    // The application's colours as they were last applied (or when the dialog opened).
    QPalette appliedPalette;
};

#endif
