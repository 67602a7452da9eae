#ifndef TERMSDIALOG_H
#define TERMSDIALOG_H

#include "widgets/messagedialog.h"

// The terms shown on the first run. Accepting them clears Configuration::FirstRun; any other way
// of closing the dialog leaves it set.
class TermsDialog : public TextDialog
{
    Q_OBJECT

public:
    explicit TermsDialog(QWidget *parent = nullptr);

    // Shows the dialog and waits for the answer; true when the terms were accepted.
    bool run();
};

#endif
