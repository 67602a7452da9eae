#ifndef USERDIALOG_H
#define USERDIALOG_H

#include <QDialog>

class QLineEdit;
class QTableWidget;

// Adds one account for HTTP Basic to the user table of the authentication page.
class UserDialog : public QDialog
{
    Q_OBJECT

public:
    UserDialog(QTableWidget *table, QWidget *parent);

    // Why `name` with `password` cannot be the account of `row` of `table` (-1: a new one);
    // empty when it can. The name ends at the first ":" of a stored entry, so it holds none;
    // the password may.
    static QString refusal(const QString &name, const QString &password, const QTableWidget *table, int row);

    QLineEdit *userLine() const { return userEdit; }
    QLineEdit *passwordLine() const { return passwordEdit; }

public slots:
    void oK();

private:
    QTableWidget *table;
    QLineEdit *userEdit = nullptr;
    QLineEdit *passwordEdit = nullptr;
};

#endif
