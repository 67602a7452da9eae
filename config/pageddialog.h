#ifndef PAGEDDIALOG_H
#define PAGEDDIALOG_H

#include <QDialog>

class ConfigPage;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QScrollArea;
class QStackedWidget;

// A dialog of pages: a column of page icons on the left, the chosen page beside it, the buttons
// below, all in a scroll area for screens too small to show it whole.
class PagedDialog : public QDialog
{
    Q_OBJECT

public:
    explicit PagedDialog(QWidget *parent);

    int pageCount() const;
    QListWidget *contents() const { return contentsWidget; }
    QStackedWidget *pages() const { return pagesWidget; }

signals:
    // A page reported a change.
    void pageChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void addPage(ConfigPage *page, const QString &icon, const QString &label);
    // Lays the dialog out, with `buttons` from left to right under the pages.
    void arrange(const QList<QPushButton *> &buttons);
    // A button that Enter in a text field does not press.
    static QPushButton *button(const QString &text);

    QListWidget *contentsWidget = nullptr;
    QStackedWidget *pagesWidget = nullptr;
    QScrollArea *scrollArea = nullptr;

private:
    void sizeIcons();
    // Grows the dialog to show all of its content (and its title), up to most of the screen.
    void fitContent();
};

#endif
