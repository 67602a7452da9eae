#include "app/slabel.h"

#include <QScrollArea>

Slabel::Slabel()
{
    setTextFormat(Qt::RichText);
    init();
}

Slabel::Slabel(const QString &text)
    : QLabel(text)
{
    init();
}

void Slabel::init()
{
    scrollArea = new QScrollArea;
    scrollArea->setWidget(this);
    scrollArea->setWidgetResizable(true);
    const int height = sizeHint().height();
    scrollArea->setMinimumHeight(height);
    scrollArea->setMaximumHeight(height + 30);
}
