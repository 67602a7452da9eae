#ifndef CONFIGPAGE_H
#define CONFIGPAGE_H

#include <QWidget>

class Configuration;
class LinkLabel;
class QBoxLayout;
class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

// One page of a settings dialog. The pages of the profile settings write every change straight
// into the dialog's copy of the profile, `conf` (each dialog has its own, so a dialog opened
// from inside another never shares or frees the other's); the look and feel pages have none.
// Every change is signalled, so that the dialog can tell whether there is something to apply.
class ConfigPage : public QWidget
{
    Q_OBJECT

public:
    explicit ConfigPage(Configuration *conf = nullptr, QWidget *parent = nullptr);

signals:
    // The page changed what it edits.
    void edited();

public slots:
    // Shows the help page `name` of the language folder.
    void help(const QString &name);

protected:
    // A bold heading, a link to the help page `name` when one is given.
    QLabel *heading(const QString &text, const QString &name = QString());
    // A label whose link opens the help page `name`.
    LinkLabel *helpLabel(const QString &text, const QString &name);
    // A row of `label` and `field` (the field stretching) added to `layout`.
    static void addRow(QBoxLayout *layout, QWidget *label, QWidget *field);
    // The controls, named `name` (what tests and style sheets find them by).
    static QCheckBox *checkBox(const QString &text, const char *name, bool checked);
    static QLineEdit *lineEdit(const char *name, const QString &text);
    // Starts at `*field`. A stored value outside the range is shown as the nearest one in it and
    // written back, so that the dialog offers to apply what it shows.
    static QSpinBox *spinBox(const char *name, int minimum, int maximum, qint32 *field);

    Configuration *conf;
};

#endif
