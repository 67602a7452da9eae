#ifndef PAGEPALETTE_H
#define PAGEPALETTE_H

#include "config/configpage.h"

#include <QPalette>

class QPushButton;
class QSettings;

// Three colours of the application: background, text and buttons. They are tried on this
// page's samples; the application takes them when they are applied.
class PagePalette : public ConfigPage
{
    Q_OBJECT

public:
    explicit PagePalette(QWidget *parent = nullptr);

    void setPalette(const QPalette &p);
    const QPalette &workingPalette() const { return palette; }
    // Stores the colours under the running style's name.
    void apply(QSettings *settings) const;

public slots:
    void setBackground();
    void setText();
    void setButton();
    void setDefault();

private:
    // Asks for a colour starting at `from`; a chosen one goes to every role of `roles`.
    void choose(QPalette::ColorRole from, std::initializer_list<QPalette::ColorRole> roles);
    static QPushButton *sample(const char *name);
    static void paint(QPushButton *button, const QColor &colour);

    QPalette palette;
    QPushButton *backgroundButton = nullptr;
    QPushButton *textButton = nullptr;
    QPushButton *buttonButton = nullptr;
};

#endif
