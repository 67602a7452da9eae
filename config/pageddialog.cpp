#include "config/pageddialog.h"

#include "config/configpage.h"

#include "widgets/prompt.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

constexpr int IconGrid = 80;

} // namespace

PagedDialog::PagedDialog(QWidget *parent)
    : QDialog(parent)
{
    contentsWidget = new QListWidget;
    contentsWidget->setViewMode(QListView::IconMode);
    contentsWidget->setWordWrap(true);
    contentsWidget->setMovement(QListView::Static);
    contentsWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pagesWidget = new QStackedWidget;
}

int PagedDialog::pageCount() const
{
    return pagesWidget->count();
}

void PagedDialog::addPage(ConfigPage *page, const QString &icon, const QString &label)
{
    pagesWidget->addWidget(page);
    connect(page, &ConfigPage::edited, this, &PagedDialog::pageChanged);
    auto *entry = new QListWidgetItem(QIcon(icon), label, contentsWidget);
    entry->setTextAlignment(Qt::AlignHCenter);
    entry->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
}

QPushButton *PagedDialog::button(const QString &text)
{
    auto *b = new QPushButton(text);
    b->setAutoDefault(false);
    return b;
}

void PagedDialog::sizeIcons()
{
    // The cells of the page icons hold the icon and its label, whatever the font.
    const QFontMetrics metrics = contentsWidget->fontMetrics();
    int cellWidth = IconGrid;
    for (int row = 0; row < contentsWidget->count(); ++row)
        cellWidth = qMax(cellWidth, metrics.horizontalAdvance(contentsWidget->item(row)->text()) + 2 * metrics.averageCharWidth());
    const int cellHeight = qMax(IconGrid, contentsWidget->iconSize().height() + 2 * metrics.height());
    contentsWidget->setGridSize(QSize(cellWidth, cellHeight));
    const int frame = 2 * contentsWidget->frameWidth();
    contentsWidget->setFixedWidth(cellWidth + frame + 2);
    // Every icon in sight.
    contentsWidget->setMinimumHeight(contentsWidget->count() * cellHeight + frame + 4);
}

void PagedDialog::arrange(const QList<QPushButton *> &buttons)
{
    sizeIcons();
    auto *content = new QWidget;
    auto *columns = new QHBoxLayout;
    columns->addWidget(contentsWidget);
    columns->addWidget(pagesWidget, 1);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    for (QPushButton *b : buttons)
        row->addWidget(b);
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->addLayout(columns, 1);
    contentLayout->addLayout(row);
    scrollArea = new QScrollArea;
    scrollArea->setWidgetResizable(true);
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setWidget(content);
    // A page that grows (a larger font, a page shown in the font it previews) grows the dialog.
    content->installEventFilter(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scrollArea);
    fitContent();
}

void PagedDialog::fitContent()
{
    Prompt::keepTitleWhole(this);
    const QWidget *content = scrollArea->widget();
    // All of it, unless the screen is smaller: then it scrolls.
    QSize wanted = content->sizeHint().expandedTo(content->minimumSizeHint()).expandedTo(minimumSize());
    if (const QScreen *on = screen())
        wanted = wanted.boundedTo(on->availableGeometry().size() * 9 / 10);
    wanted = wanted.expandedTo(size());
    if (wanted != size())
        resize(wanted);
}

bool PagedDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (scrollArea && watched == scrollArea->widget() && event->type() == QEvent::LayoutRequest)
        QMetaObject::invokeMethod(this, &PagedDialog::fitContent, Qt::QueuedConnection);
    return QDialog::eventFilter(watched, event);
}

void PagedDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange && scrollArea)
        sizeIcons();
}
