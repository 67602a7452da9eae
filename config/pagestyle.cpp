#include "config/pagestyle.h"

#include <QColor>
#include <QPalette>
#include <QSettings>

QString PageStyle::DefaultStyle;

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
        const QVariant value = settings->value(QLatin1String(c.key), palette->color(c.role));
        // A value that is no colour gives an invalid colour.
        const QColor colour = value.canConvert<QColor>() ? value.value<QColor>() : QColor();
        palette->setBrush(QPalette::All, c.role, QBrush(colour, Qt::SolidPattern));
    }
    settings->endGroup();
}
