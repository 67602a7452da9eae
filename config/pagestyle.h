#ifndef PAGESTYLE_H
#define PAGESTYLE_H

#include "config/configpage.h"

#include <QString>
#include <QStringList>

class PagePalette;
class QComboBox;
class QPalette;
class QSettings;

// The widget style of the application. A style chosen here runs at once; the dialog undoes it
// unless it is applied.
class PageStyle : public ConfigPage
{
    Q_OBJECT

public:
    // The widget style in effect when the application started, before a saved one was applied.
    static QString DefaultStyle;

    PageStyle(PagePalette *palettePage, QSettings *settings, QWidget *parent = nullptr);

    // Overlays the colours saved for the style `name` onto `palette`, in every colour group.
    static void setPalette(QPalette *palette, QSettings *settings, const QString &name);
    // The styles offered, the platform's own first. Some are of other platforms: choosing one
    // that is missing here says so.
    static QStringList offeredStyles();
    // The object name of the style the application runs with.
    static QString runningStyle();

    QComboBox *styleBox() const { return box; }

    // The style last applied (or running when the dialog opened).
    QString chosenStyle;

public slots:
    void styleChanged(int index);

private:
    PagePalette *palettePage;
    QSettings *settings;
    QStringList names;
    QComboBox *box = nullptr;
};

#endif
