#ifndef PAGESTYLE_H
#define PAGESTYLE_H

#include <QString>

class QPalette;
class QSettings;

// The look and feel's style: the platform's own style and the colours saved per style.
class PageStyle
{
public:
    // The widget style in effect when the application started, before a saved one was applied.
    static QString DefaultStyle;

    // Overlays the colours saved for the style `name` onto `palette`, in every colour group.
    static void setPalette(QPalette *palette, QSettings *settings, const QString &name);
};

#endif
