#ifndef PROMPT_H
#define PROMPT_H

#include <QColor>
#include <QCoreApplication>
#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

// Every question, message, input and file dialog of the application goes through the prompt in
// force: the application's own shows the real dialogs; a test installs one that answers from a
// script and records what was asked.
class Prompt
{
    Q_DECLARE_TR_FUNCTIONS(Prompt)

public:
    enum class Presentation { Normal, Maximized, FullScreen, WindowModal };

    virtual ~Prompt() = default;

    static Prompt *current();
    // `prompt` stays the caller's; nullptr brings back the real dialogs.
    static void install(Prompt *prompt);

    // Runs `dialog` modally and returns its result: the standard button chosen in a message box
    // with standard buttons, else QDialog::Accepted or QDialog::Rejected.
    virtual int exec(QDialog *dialog);
    // Shows a window that asks for no answer and returns at once. The window deletes itself
    // when it is closed.
    virtual void show(QWidget *window, Presentation how);
    virtual QString existingDirectory(QWidget *parent, const QString &caption, const QString &dir);
    virtual QString openFileName(QWidget *parent, const QString &caption, const QString &dir,
                                 const QString &filter);
    // A colour chosen starting at `initial`; an invalid colour when none was.
    virtual QColor color(QWidget *parent, const QColor &initial);

    // A modal warning with an empty title and an OK button.
    static void warning(QWidget *parent, const QString &text);
    // A warning that does not wait for the user: for reports that arrive from the servers while
    // their code is still on the stack.
    static void notice(QWidget *parent, QMessageBox::Icon icon, const QString &text);
    // Yes and No, Yes the default; false exactly when No was chosen.
    static bool question(QWidget *parent, const QString &text);
    // One line of text, prefilled with `*text`; false when it was not accepted.
    static bool input(QWidget *parent, const QString &label, QString *text);
    // Widens `window` so that its title fits in its title bar, beside the bar's icon and buttons.
    static void keepTitleWhole(QWidget *window);
    // A warning that settings were not saved: `failures` name each file with the system's
    // reason, `consequence` says what follows.
    static void notSaved(QWidget *parent, const QStringList &failures, const QString &consequence);
};

#endif
