#include "config/pagestyle.h"

#include "config/pagepalette.h"
#include "widgets/prompt.h"

#include <QApplication>
#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QPalette>
#include <QSettings>
#include <QStyle>
#include <QVBoxLayout>

QString PageStyle::DefaultStyle;

PageStyle::PageStyle(PagePalette *palettePage, QSettings *settings, QWidget *parent)
    : ConfigPage(nullptr, parent)
    , chosenStyle(runningStyle())
    , palettePage(palettePage)
    , settings(settings)
    , names(offeredStyles())
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading(tr("Style Settings")));
    box = new QComboBox;
    box->setObjectName(QStringLiteral("style"));
    box->addItems(names);
    box->setCurrentIndex(int(names.indexOf(chosenStyle)));
    layout->addWidget(box);
    layout->addStretch(1);
    connect(box, &QComboBox::currentIndexChanged, this, &PageStyle::styleChanged);
}

QStringList PageStyle::offeredStyles()
{
    return {DefaultStyle, QStringLiteral("plastique"), QStringLiteral("cleanlooks"), QStringLiteral("windows"),
            QStringLiteral("motif"), QStringLiteral("cde")};
}

QString PageStyle::runningStyle()
{
    return QApplication::style()->objectName();
}

void PageStyle::styleChanged(int index)
{
    const QString name = names.value(index);
    if (name.isEmpty())
        return;
    if (!QApplication::setStyle(name)) {
        Prompt::warning(this, name + tr(" style not available on this system."));
        // The box shows the style that still runs.
        const QSignalBlocker blocker(box);
        box->setCurrentIndex(int(names.indexOf(runningStyle())));
        return;
    }
    QPalette palette = QApplication::style()->standardPalette();
    setPalette(&palette, settings, name);
    palettePage->setPalette(palette);
    QApplication::setPalette(palette);
    emit edited();
}

void PageStyle::setPalette(QPalette *palette, QSettings *settings, const QString &name)
{
    static const struct {
        const char *key;
        QPalette::ColorRole role;
    } colours[] = {
        {"Cbase", QPalette::Base},       {"Cwbase", QPalette::Window}, {"Ctext", QPalette::Text},
        {"Cbtext", QPalette::ButtonText}, {"Cbutton", QPalette::Button},
    };
    settings->beginGroup(name);
    for (const auto &c : colours) {
        // A colour that was never stored leaves the style's own, which differ by colour group
        // (disabled text is grey).
        if (!settings->contains(QLatin1String(c.key)))
            continue;
        const QVariant value = settings->value(QLatin1String(c.key));
        // A value that is no colour gives an invalid colour.
        const QColor colour = value.canConvert<QColor>() ? value.value<QColor>() : QColor();
        palette->setBrush(QPalette::All, c.role, QBrush(colour, Qt::SolidPattern));
    }
    settings->endGroup();
}
