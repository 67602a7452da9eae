#ifndef MESSAGEDIALOG_H
#define MESSAGEDIALOG_H

#include <QDialog>
#include <QPointer>
#include <QString>

class QDialogButtonBox;
class QTextBrowser;
class QWidget;

// A page of rich text in a dialog of its own: a title, the text scrolling, buttons below. It is
// sized to its text, up to most of the screen, and centred on the window it belongs to (on the
// screen while that window is not shown).
class TextDialog : public QDialog
{
    Q_OBJECT

public:
    TextDialog(const QString &title, const QString &text, QWidget *parent);

    QString text() const { return source; }
    QTextBrowser *view() const { return browser; }
    QDialogButtonBox *buttons() const { return buttonBox; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Size and place as above.
    void fit();

    QString source;
    QTextBrowser *browser = nullptr;
    QDialogButtonBox *buttonBox = nullptr;
};

// Shows a rich text (a help page) in a text dialog with a "Close" button that deletes itself when
// closed; it does not wait for the dialog to be closed.
class MessageDialog
{
public:
    MessageDialog(const char *title, const QString &text, QWidget *parent);

    // The text of a page under the language folder's "help/", or "Can't read file: " and its
    // name when it cannot be read.
    static QString helpPage(const QString &name);

private:
    QPointer<TextDialog> box;
};

#endif
