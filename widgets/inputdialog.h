#ifndef INPUTDIALOG_H
#define INPUTDIALOG_H

#include <QDialog>

class QLabel;
class QLineEdit;

// Asks for one line of text: a profile name, a port.
class InputDialog : public QDialog
{
    Q_OBJECT

public:
    // `label` is shown translated, followed by ":"; the edit starts with `text`.
    InputDialog(const QString &label, const QString &text, QWidget *parent);

    QString getText() const;
    void setText(const QString &text);
    QString labelText() const;

private:
    QLabel *label = nullptr;
    QLineEdit *edit = nullptr;
};

#endif
