#include "app/termsdialog.h"

#include "config/configuration.h"
#include "widgets/prompt.h"

#include <QDialogButtonBox>
#include <QPushButton>

TermsDialog::TermsDialog(QWidget *parent)
    : TextDialog(tr("Terms and conditions"), MessageDialog::helpPage(QStringLiteral("terms")), parent)
{
    // Enter accepts, Esc and the window's close button do not.
    buttons()->addButton(tr("I accept"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons()->addButton(tr("I do not"), QDialogButtonBox::RejectRole);
}

bool TermsDialog::run()
{
    const bool accepted = Prompt::current()->exec(this) == QDialog::Accepted;
    if (accepted)
        Configuration::FirstRun = false;
    return accepted;
}
