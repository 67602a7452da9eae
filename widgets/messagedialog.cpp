#include "widgets/messagedialog.h"

#include "config/configuration.h"
#include "widgets/prompt.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Lines of about this many characters read well; a narrower screen makes them shorter.
constexpr int ReadableColumns = 80;
// The part of the screen a text dialog takes at most.
constexpr double MostOfTheScreen = 0.85;

} // namespace

TextDialog::TextDialog(const QString &title, const QString &text, QWidget *parent)
    : QDialog(parent)
    , source(text)
{
    setWindowTitle(title);
    browser = new QTextBrowser;
    browser->setOpenExternalLinks(true);
    browser->setHtml(text);
    buttonBox = new QDialogButtonBox;
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(browser, 1);
    layout->addWidget(buttonBox);
    fit();
}

void TextDialog::showEvent(QShowEvent *event)
{
    // The font, and the window this one belongs to, may have changed since it was made.
    fit();
    QDialog::showEvent(event);
}

void TextDialog::fit()
{
    const QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr;
    const bool onOwner = owner && owner->isVisible();
    const QScreen *on = onOwner ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect room = on ? on->availableGeometry() : QRect(0, 0, 800, 600);
    const QSize most(int(room.width() * MostOfTheScreen), int(room.height() * MostOfTheScreen));

    // The page at a readable width, then the frame around it: the text's frame and scroll bar,
    // the buttons and the margins.
    const int scrollBar = browser->verticalScrollBar()->sizeHint().width();
    const int frame = 2 * browser->frameWidth();
    const QMargins margins = layout()->contentsMargins();
    const int around = margins.left() + margins.right() + frame + scrollBar;
    const int columns = browser->fontMetrics().averageCharWidth() * ReadableColumns;
    const int textWidth = qMax(100, qMin(columns, most.width() - around));
    QTextDocument *page = browser->document();
    page->setTextWidth(textWidth);
    Prompt::keepTitleWhole(this);
    const int wide = std::max({textWidth + around, buttonBox->sizeHint().width() + margins.left() + margins.right(),
                               minimumWidth()});
    const int high = int(page->size().height()) + frame + margins.top() + margins.bottom() + layout()->spacing()
        + buttonBox->sizeHint().height();
    const QSize fitted = QSize(wide, high).boundedTo(most);
    resize(fitted);

    const QPoint centre = onOwner ? owner->frameGeometry().center() : room.center();
    QRect placed(QPoint(), fitted);
    placed.moveCenter(centre);
    // Whole on the screen, even when its window is near an edge.
    placed.moveLeft(qBound(room.left(), placed.left(), qMax(room.left(), room.right() - placed.width())));
    placed.moveTop(qBound(room.top(), placed.top(), qMax(room.top(), room.bottom() - placed.height())));
    move(placed.topLeft());
}

MessageDialog::MessageDialog(const char *title, const QString &text, QWidget *parent)
    : box(new TextDialog(QCoreApplication::translate("MessageDialog", title), text, parent))
{
    box->buttons()->setStandardButtons(QDialogButtonBox::Close);
    box->buttons()->button(QDialogButtonBox::Close)->setDefault(true);
    Prompt::current()->show(box, Prompt::Presentation::Normal);
}

QString MessageDialog::helpPage(const QString &name)
{
    const QString path = Configuration::LangPath + QStringLiteral("help/") + name + QStringLiteral(".html");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("Can't read file: ") + path;
    return QString::fromUtf8(file.readAll());
}
