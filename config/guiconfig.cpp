#include "config/guiconfig.h"

#include "config/pagefont.h"
#include "config/pagepalette.h"
#include "config/pagestyle.h"
#include "widgets/prompt.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStyle>

namespace {

enum Page { StylePage, ColourPage, FontPage };

} // namespace

GUIconfig::GUIconfig(QWidget *parent)
    : PagedDialog(parent)
    , appliedPalette(QApplication::palette())
{
    pagePalette = new PagePalette;
    pageStyle = new PageStyle(pagePalette, &settings);
    pageFont = new PageFont;
    QPushButton *cancelButton = button(tr("&Cancel"));
    applyButton = button(tr("&Apply"));
    applyButton->setEnabled(false);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(applyButton, &QPushButton::clicked, this, &GUIconfig::apply);
    createIcons();
    connect(this, &PagedDialog::pageChanged, this, &GUIconfig::showApplyIfEdited);
    setWindowTitle(tr("Look&Feel Settings"));
    arrange({applyButton, cancelButton});
    contentsWidget->setCurrentRow(qBound(0, settings.value(QStringLiteral("lastP"), int(FontPage)).toInt(),
                                         int(FontPage)));
    showApplyIfEdited();
}

int GUIconfig::run()
{
    return Prompt::current()->exec(this);
}

void GUIconfig::createIcons()
{
    addPage(pageStyle, QStringLiteral(":/icons/theme.png"), tr("Style"));
    addPage(pagePalette, QStringLiteral(":/icons/colors.png"), tr("Color"));
    addPage(pageFont, QStringLiteral(":/icons/font.png"), tr("Font"));
    connect(contentsWidget, &QListWidget::currentItemChanged, this, &GUIconfig::changePage);
}

void GUIconfig::changePage(QListWidgetItem *current, QListWidgetItem *previous)
{
    QListWidgetItem *shown = current ? current : previous;
    if (!shown)
        return;
    const int row = contentsWidget->row(shown);
    pagesWidget->setCurrentIndex(row);
    if (row == ColourPage && PageStyle::runningStyle() == PageStyle::DefaultStyle)
        Prompt::warning(this, tr("Color settings not working with ") + PageStyle::DefaultStyle + tr(" style."));
}

void GUIconfig::showApplyIfEdited()
{
    applyButton->setEnabled(QApplication::palette() != pagePalette->workingPalette()
                            || PageStyle::runningStyle() != pageStyle->chosenStyle
                            || QApplication::font().pointSize() != pageFont->workingFont().pointSize());
}

void GUIconfig::apply()
{
    pageStyle->chosenStyle = PageStyle::runningStyle();
    settings.setValue(QStringLiteral("style"), pageStyle->chosenStyle);
    QApplication::setPalette(pagePalette->workingPalette());
    pagePalette->apply(&settings);
    QApplication::setFont(pageFont->workingFont());
    settings.setValue(QStringLiteral("Fsize"), pageFont->workingFont().pointSize());
    // The platform's own style shows its own colours; the ones stored are kept for later.
    if (pageStyle->chosenStyle == PageStyle::DefaultStyle)
        QApplication::setPalette(QApplication::style()->standardPalette());
    appliedPalette = QApplication::palette();
    applyButton->setEnabled(false);
}

void GUIconfig::done(int result)
{
    // What was tried and not applied goes: the style, and the colours it brought.
    if (PageStyle::runningStyle() != pageStyle->chosenStyle)
        QApplication::setStyle(pageStyle->chosenStyle);
    if (QApplication::palette() != appliedPalette)
        QApplication::setPalette(appliedPalette);
    settings.setValue(QStringLiteral("lastP"), contentsWidget->currentRow());
    settings.sync();
    QDialog::done(result);
}

void GUIconfig::setupSize(int screen)
{
    if (QScreen *s = QGuiApplication::screens().value(screen))
        setMinimumSize(s->availableGeometry().size());
}
