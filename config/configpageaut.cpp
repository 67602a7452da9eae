#include "config/configpageaut.h"

#include "config/configuration.h"
#include "config/userdialog.h"
#include "widgets/prompt.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// A cell keeps the text it had when its row was last found sound, to go back to.
constexpr int SoundText = Qt::UserRole;

} // namespace

ConfigPageAut::ConfigPageAut(Configuration *conf, QWidget *parent)
    : ConfigPage(conf, parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading(tr("Authentication Settings"), QStringLiteral("auth")));
    modeBox = new QComboBox;
    modeBox->setObjectName(QStringLiteral("authMode"));
    modeBox->addItems({tr("None"), tr("Password only"), tr("Basic HTTP")});
    layout->addWidget(modeBox);

    panels = new QStackedWidget;
    panels->addWidget(new QWidget);

    auto *passwordPanel = new QWidget;
    auto *passwordLayout = new QVBoxLayout(passwordPanel);
    QLineEdit *password = lineEdit("password", conf->password);
    addRow(passwordLayout, new QLabel(tr("Password") + QLatin1Char(':')), password);
    passwordLayout->addStretch(1);
    connect(password, &QLineEdit::textChanged, this, &ConfigPageAut::passwordChanged);
    panels->addWidget(passwordPanel);

    auto *usersPanel = new QWidget;
    auto *usersLayout = new QVBoxLayout(usersPanel);
    table = new QTableWidget(0, 2);
    table->setObjectName(QStringLiteral("users"));
    table->setHorizontalHeaderLabels({tr("User"), tr("Password")});
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    table->verticalHeader()->hide();
    table->setMaximumHeight(100);
    usersLayout->addWidget(table);
    auto *buttons = new QHBoxLayout;
    auto *add = new QPushButton(tr("Add user"));
    auto *remove = new QPushButton(tr("Remove user"));
    buttons->addWidget(add);
    buttons->addWidget(remove);
    usersLayout->addLayout(buttons);
    panels->addWidget(usersPanel);
    layout->addWidget(panels);
    layout->addStretch(1);

    getPasswords();
    modeBox->setCurrentIndex(qBound(0, int(conf->authMode), 2));
    panels->setCurrentIndex(modeBox->currentIndex());
    connect(modeBox, &QComboBox::currentIndexChanged, this, &ConfigPageAut::authModeChanged);
    connect(table, &QTableWidget::itemChanged, this, &ConfigPageAut::itemChanged);
    connect(add, &QPushButton::clicked, this, &ConfigPageAut::addUser);
    connect(remove, &QPushButton::clicked, this, &ConfigPageAut::removeUser);
}

void ConfigPageAut::authModeChanged(int index)
{
    panels->setCurrentIndex(index);
    conf->authMode = AuthMode(index);
    emit edited();
}

void ConfigPageAut::passwordChanged(const QString &text)
{
    conf->password = text;
    emit edited();
}

void ConfigPageAut::getPasswords()
{
    const QSignalBlocker blocker(table);
    table->setRowCount(0);
    for (const QString &entry : std::as_const(conf->users)) {
        const int colon = int(entry.indexOf(u':'));
        const int row = table->rowCount();
        table->insertRow(row);
        const QString cells[] = {colon < 0 ? entry : entry.left(colon), colon < 0 ? QString() : entry.mid(colon + 1)};
        for (int column = 0; column < 2; ++column) {
            auto *cell = new QTableWidgetItem(cells[column]);
            cell->setData(SoundText, cells[column]);
            table->setItem(row, column, cell);
        }
    }
}

void ConfigPageAut::setPasswords()
{
    QStringList users;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *name = table->item(row, 0);
        const QTableWidgetItem *password = table->item(row, 1);
        if (name && password)
            users.append(name->text() + QLatin1Char(':') + password->text());
    }
    conf->users = users;
}

void ConfigPageAut::itemChanged(QTableWidgetItem *item)
{
    const int row = item->row();
    QTableWidgetItem *name = table->item(row, 0);
    QTableWidgetItem *password = table->item(row, 1);
    // A row being added is looked at once it is complete.
    if (name && password) {
        const QString refusal = UserDialog::refusal(name->text(), password->text(), table, row);
        const QSignalBlocker blocker(table);
        if (!refusal.isEmpty() && item->data(SoundText).isValid()) {
            item->setText(item->data(SoundText).toString());
            Prompt::warning(this, refusal);
            return;
        }
        name->setData(SoundText, name->text());
        password->setData(SoundText, password->text());
    }
    setPasswords();
    emit edited();
}

void ConfigPageAut::addUser()
{
    UserDialog dialog(table, this);
    Prompt::current()->exec(&dialog);
}

void ConfigPageAut::removeUser()
{
    const int row = table->currentRow();
    if (row < 0)
        return;
    table->removeRow(row);
    setPasswords();
    emit edited();
}
