#include "config/pageddialog.h"

#include "config/configpage.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
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
    contentsWidget->setGridSize(QSize(IconGrid, IconGrid));
    contentsWidget->setFixedWidth(IconGrid + 2);
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
    connect(page, &ConfigPage::configChanged, this, &PagedDialog::pageChanged);
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

void PagedDialog::arrange(const QList<QPushButton *> &buttons)
{
    contentsWidget->setMaximumWidth(100);
    // Every icon in sight.
    contentsWidget->setMinimumHeight(contentsWidget->count() * IconGrid + 2 * contentsWidget->frameWidth() + 4);

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
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scrollArea);
    resize(content->sizeHint() + QSize(4, 4));
}
