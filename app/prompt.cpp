#include "app/prompt.h"

#include "config/inputdialog.h"

#include <QColorDialog>
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
