#include "config/pagefont.h"

#include <QApplication>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

PageFont::PageFont(QWidget *parent)
    : ConfigPage(nullptr, parent)
    , working(QApplication::font())
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading(tr("Font Settings")));
    box = new QSpinBox;
    box->setObjectName(QStringLiteral("size"));
    box->setRange(3, 24);
    box->setValue(working.pointSize());
    addRow(layout, new QLabel(tr("Size:")), box);
    layout->addStretch(1);
    connect(box, &QSpinBox::valueChanged, this, &PageFont::setSize);
}

void PageFont::setSize(int size)
{
    working.setPointSize(size);
    setFont(working);
    emit edited();
}
