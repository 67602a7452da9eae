#include "app/messagedialog.h"

#include "app/prompt.h"
#include "config/configuration.h"

#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>

MessageDialog::MessageDialog(const char *title, const QString &text, QWidget *parent)
    : box(new QMessageBox(parent))
{
    box->setTextFormat(Qt::RichText);
    box->setWindowTitle(QCoreApplication::translate("MessageDialog", title));
    box->setInformativeText(text);
    Prompt::current()->show(box, Prompt::Presentation::FullScreen);
}

QString MessageDialog::helpPage(const QString &name)
{
    const QString path = Configuration::LangPath + QStringLiteral("help/") + name + QStringLiteral(".html");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("Can't read file: ") + path;
    return QString::fromUtf8(file.readAll());
}
