#ifndef MESSAGEDIALOG_H
#define MESSAGEDIALOG_H

#include <QPointer>
#include <QString>

class QMessageBox;
class QWidget;

// Shows a rich text (a help page) full screen in a box that deletes itself when closed.
class MessageDialog
{
public:
    MessageDialog(const char *title, const QString &text, QWidget *parent);

    // The text of a page under the language folder's "help/", or "Can't read file: " and its
    // name when it cannot be read.
    static QString helpPage(const QString &name);

private:
    QPointer<QMessageBox> box;
};

#endif
