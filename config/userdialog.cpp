#include "config/userdialog.h"

#include "widgets/prompt.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QVBoxLayout>

UserDialog::UserDialog(QTableWidget *table, QWidget *parent)
    : QDialog(parent)
    , table(table)
{
    userEdit = new QLineEdit;
    passwordEdit = new QLineEdit;
    auto *userLabel = new QLabel(QLatin1Char('&') + tr("User") + QLatin1Char(':'));
    auto *passwordLabel = new QLabel(QLatin1Char('&') + tr("Password") + QLatin1Char(':'));
    userLabel->setBuddy(userEdit);
    passwordLabel->setBuddy(passwordEdit);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &UserDialog::oK);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *grid = new QGridLayout;
    grid->addWidget(userLabel, 0, 0);
    grid->addWidget(userEdit, 0, 1);
    grid->addWidget(passwordLabel, 1, 0);
    grid->addWidget(passwordEdit, 1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
}

QString UserDialog::refusal(const QString &name, const QString &password, const QTableWidget *table, int row)
{
    if (name.isEmpty())
        return tr("A user needs a name.");
    if (password.isEmpty())
        return tr("A user needs a password.");
    if (name.contains(u':'))
        return tr("A user name cannot contain \":\".");
    for (int other = 0; table && other < table->rowCount(); ++other) {
        const QTableWidgetItem *cell = table->item(other, 0);
        if (other != row && cell && cell->text() == name)
            return tr("There is a user of this name already.");
    }
    return QString();
}

void UserDialog::oK()
{
    const QString name = userEdit->text();
    const QString password = passwordEdit->text();
    // Nothing to add yet: the dialog waits for both.
    if (name.isEmpty() || password.isEmpty())
        return;
    const QString refused = refusal(name, password, table, -1);
    if (!refused.isEmpty()) {
        Prompt::warning(this, refused);
        return;
    }
    const int row = table->rowCount();
    table->insertRow(row);
    table->setItem(row, 0, new QTableWidgetItem(name));
    table->setItem(row, 1, new QTableWidgetItem(password));
    accept();
}
