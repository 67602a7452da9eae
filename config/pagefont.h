#ifndef PAGEFONT_H
#define PAGEFONT_H

#include "config/configpage.h"

#include <QFont>

class QSpinBox;

// The size of the application's font, tried on this page until it is applied.
class PageFont : public ConfigPage
{
    Q_OBJECT

public:
    explicit PageFont(QWidget *parent = nullptr);

    const QFont &workingFont() const { return working; }
    QSpinBox *sizeBox() const { return box; }

public slots:
    void setSize(int size);

private:
    QFont working;
    QSpinBox *box = nullptr;
};

#endif
