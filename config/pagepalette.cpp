#include "config/pagepalette.h"

#include "config/pagestyle.h"
#include "widgets/prompt.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QVBoxLayout>

PagePalette::PagePalette(QWidget *parent)
    : ConfigPage(nullptr, parent)
    , palette(QApplication::palette())
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading(tr("Color Settings")));
    backgroundButton = sample("background");
    textButton = sample("text");
    buttonButton = sample("button");
    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("Background")), 0, 0);
    grid->addWidget(backgroundButton, 0, 1);
    grid->addWidget(new QLabel(tr("Text")), 1, 0);
    grid->addWidget(textButton, 1, 1);
    grid->addWidget(new QLabel(tr("Button")), 2, 0);
    grid->addWidget(buttonButton, 2, 1);
    layout->addLayout(grid);
    auto *defaults = new QPushButton(tr("Set to default"));
    defaults->setObjectName(QStringLiteral("default"));
    layout->addWidget(defaults);
    layout->addStretch(1);
    setPalette(palette);

    connect(backgroundButton, &QPushButton::clicked, this, &PagePalette::setBackground);
    connect(textButton, &QPushButton::clicked, this, &PagePalette::setText);
    connect(buttonButton, &QPushButton::clicked, this, &PagePalette::setButton);
    connect(defaults, &QPushButton::clicked, this, &PagePalette::setDefault);
}

QPushButton *PagePalette::sample(const char *name)
{
    auto *button = new QPushButton;
    button->setObjectName(QLatin1String(name));
    button->setMinimumWidth(80);
    return button;
}

void PagePalette::paint(QPushButton *button, const QColor &colour)
{
    QPalette p = button->palette();
    p.setColor(QPalette::Button, colour);
    button->setPalette(p);
}

void PagePalette::setPalette(const QPalette &p)
{
    palette = p;
    paint(backgroundButton, palette.color(QPalette::Base));
    paint(textButton, palette.color(QPalette::Text));
    paint(buttonButton, palette.color(QPalette::Button));
}

void PagePalette::choose(QPalette::ColorRole from, std::initializer_list<QPalette::ColorRole> roles)
{
    const QColor colour = Prompt::current()->color(this, palette.color(from));
    if (!colour.isValid())
        return;
    for (QPalette::ColorRole role : roles)
        palette.setColor(QPalette::All, role, colour);
    setPalette(palette);
    emit edited();
}

void PagePalette::setBackground()
{
    choose(QPalette::Base, {QPalette::Base, QPalette::Window});
}

void PagePalette::setText()
{
    choose(QPalette::Text, {QPalette::Text, QPalette::ButtonText});
}

void PagePalette::setButton()
{
    choose(QPalette::Button, {QPalette::Button});
}

void PagePalette::setDefault()
{
    QPalette standard = QApplication::style()->standardPalette();
    standard.setColor(QPalette::All, QPalette::Base, palette.color(QPalette::Window));
    setPalette(standard);
    emit edited();
}

void PagePalette::apply(QSettings *settings) const
{
    settings->beginGroup(PageStyle::runningStyle());
    settings->setValue(QStringLiteral("Cbase"), palette.color(QPalette::Base));
    settings->setValue(QStringLiteral("Ctext"), palette.color(QPalette::Text));
    settings->setValue(QStringLiteral("Cbutton"), palette.color(QPalette::Button));
    settings->setValue(QStringLiteral("Cwbase"), palette.color(QPalette::Window));
    settings->setValue(QStringLiteral("Cbtext"), palette.color(QPalette::ButtonText));
    settings->endGroup();
}
