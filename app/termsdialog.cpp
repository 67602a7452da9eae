#include "app/termsdialog.h"

#include "app/messagedialog.h"
#include "app/prompt.h"
#include "config/configuration.h"

#include <QPushButton>

TermsDialog::TermsDialog(QWidget *parent)
    : QMessageBox(parent)
{
    setWindowTitle(tr("Terms and conditions"));
    setTextFormat(Qt::RichText);
    setInformativeText(MessageDialog::helpPage(QStringLiteral("terms")));
    addButton(tr("I do not"), QMessageBox::RejectRole);
    acceptButton = addButton(tr("I accept"), QMessageBox::AcceptRole);
    setWindowState(windowState() | Qt::WindowFullScreen);
}

bool TermsDialog::run()
{
    Prompt::current()->exec(this);
    const bool accepted = clickedButton() == acceptButton;
    if (accepted)
        Configuration::FirstRun = false;
    return accepted;
}
