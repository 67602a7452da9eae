#include "widgets/prompt.h"

#include "widgets/inputdialog.h"

#include <QColorDialog>
#include <QFontMetrics>
#include <QScreen>
#include <QFileDialog>

namespace {

Prompt *installed = nullptr;

} // namespace

Prompt *Prompt::current()
{
    static Prompt dialogs;
    return installed ? installed : &dialogs;
}

void Prompt::install(Prompt *prompt)
{
    installed = prompt;
}

int Prompt::exec(QDialog *dialog)
{
    return dialog->exec();
}

void Prompt::show(QWidget *window, Presentation how)
{
    window->setAttribute(Qt::WA_DeleteOnClose);
    switch (how) {
    case Presentation::Normal: window->show(); break;
    case Presentation::Maximized: window->showMaximized(); break;
    case Presentation::FullScreen: window->showFullScreen(); break;
    case Presentation::WindowModal:
        window->setWindowModality(Qt::WindowModal);
        window->show();
        break;
    }
}

QString Prompt::existingDirectory(QWidget *parent, const QString &caption, const QString &dir)
{
    return QFileDialog::getExistingDirectory(parent, caption, dir, QFileDialog::ShowDirsOnly);
}

QString Prompt::openFileName(QWidget *parent, const QString &caption, const QString &dir,
                             const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QColor Prompt::color(QWidget *parent, const QColor &initial)
{
    return QColorDialog::getColor(initial, parent);
}

void Prompt::warning(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, QString(), text, QMessageBox::Ok, parent);
    current()->exec(&box);
}

void Prompt::notice(QWidget *parent, QMessageBox::Icon icon, const QString &text)
{
    auto *box = new QMessageBox(icon, QString(), text, QMessageBox::Ok, parent);
    current()->show(box, Presentation::WindowModal);
}

bool Prompt::question(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::Question, QString(), text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    return current()->exec(&box) != QMessageBox::No;
}

bool Prompt::input(QWidget *parent, const QString &label, QString *text)
{
    InputDialog dialog(label, *text, parent);
    if (current()->exec(&dialog) != QDialog::Accepted)
        return false;
    *text = dialog.getText();
    return true;
}

void Prompt::notSaved(QWidget *parent, const QStringList &failures, const QString &consequence)
{
    warning(parent, tr("Settings could not be saved:") + QLatin1Char('\n') + failures.join(QLatin1Char('\n'))
                        + QLatin1Char('\n') + consequence);
}

void Prompt::keepTitleWhole(QWidget *window)
{
    QFont font = window->font();
    font.setBold(true);
    const QFontMetrics metrics(font);
    // The title bar's icon, its buttons and its margins take about eight lines' height.
    constexpr int BesideTheTitle = 8;
    int width = metrics.horizontalAdvance(window->windowTitle()) + BesideTheTitle * metrics.height();
    if (const QScreen *screen = window->screen())
        width = qMin(width, screen->availableGeometry().width() * 9 / 10);
    window->setMinimumWidth(qMax(window->minimumWidth(), width));
}
