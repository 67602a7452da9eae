#include "config/configpage.h"

#include "widgets/linklabel.h"
#include "widgets/messagedialog.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QSpinBox>

ConfigPage::ConfigPage(Configuration *conf, QWidget *parent)
    : QWidget(parent)
    , conf(conf)
{
}

void ConfigPage::help(const QString &name)
{
    MessageDialog("Help", MessageDialog::helpPage(name), this);
}

QLabel *ConfigPage::heading(const QString &text, const QString &name)
{
    QLabel *label = name.isEmpty() ? new QLabel(text) : helpLabel(text, name);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

LinkLabel *ConfigPage::helpLabel(const QString &text, const QString &name)
{
    auto *label = new LinkLabel(text.toHtmlEscaped(), name);
    connect(label, &QLabel::linkActivated, this, &ConfigPage::help);
    return label;
}

void ConfigPage::addRow(QBoxLayout *layout, QWidget *label, QWidget *field)
{
    auto *row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(field, 1);
    layout->addLayout(row);
}

QCheckBox *ConfigPage::checkBox(const QString &text, const char *name, bool checked)
{
    auto *box = new QCheckBox(text);
    box->setObjectName(QLatin1String(name));
    box->setChecked(checked);
    return box;
}

QLineEdit *ConfigPage::lineEdit(const char *name, const QString &text)
{
    auto *edit = new QLineEdit(text);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

QSpinBox *ConfigPage::spinBox(const char *name, int minimum, int maximum, qint32 *field)
{
    auto *box = new QSpinBox;
    box->setObjectName(QLatin1String(name));
    box->setRange(minimum, maximum);
    box->setValue(*field);
    *field = box->value();
    return box;
}
