#include "config/configpagedns.h"

#include "config/configuration.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

ConfigPageDNS::ConfigPageDNS(Configuration *conf, QWidget *parent)
    : ConfigPage(conf, parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading(tr("DNS Settings"), QStringLiteral("dns")));
    QCheckBox *enabled = checkBox(tr("Enable DNS Service"), "dnsEnabled", conf->useDNS());
    layout->addWidget(enabled);
    QLineEdit *user = lineEdit("dnsUser", conf->dnsUser);
    addRow(layout, new QLabel(tr("User:")), user);
    QLineEdit *password = lineEdit("dnsPassword", conf->dnsPassword);
    addRow(layout, new QLabel(tr("Password:")), password);
    layout->addStretch(1);

    connect(enabled, &QCheckBox::stateChanged, this, &ConfigPageDNS::dnsChanged);
    connect(user, &QLineEdit::textChanged, this, &ConfigPageDNS::userChanged);
    connect(password, &QLineEdit::textChanged, this, &ConfigPageDNS::passChanged);
}

void ConfigPageDNS::dnsChanged(int state)
{
    conf->dnsEnabled = CheckState(state);
    emit edited();
}

void ConfigPageDNS::userChanged(const QString &text)
{
    conf->dnsUser = text;
    emit edited();
}

void ConfigPageDNS::passChanged(const QString &text)
{
    conf->dnsPassword = text;
    emit edited();
}
