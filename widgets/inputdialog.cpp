#include "widgets/inputdialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

InputDialog::InputDialog(const QString &labelText, const QString &text, QWidget *parent)
    : QDialog(parent)
{
    label = new QLabel(labelText + QLatin1Char(':'));
    edit = new QLineEdit(text);
    label->setBuddy(edit);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(edit, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
}

QString InputDialog::getText() const
{
    return edit->text();
}

void InputDialog::setText(const QString &text)
{
    edit->setText(text);
}

QString InputDialog::labelText() const
{
    return label->text();
}
