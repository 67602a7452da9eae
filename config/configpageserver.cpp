#include "config/configpageserver.h"

#include "config/configuration.h"
#include "widgets/linklabel.h"
#include "widgets/prompt.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// Ports below this one are taken only in root mode.
constexpr int FirstUserPort = 1024;
constexpr int LastPort = 65535;

} // namespace

ConfigPageServer::ConfigPageServer(Configuration *conf, QWidget *parent)
    : ConfigPage(conf, parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading(tr("Server Settings")));
    QCheckBox *warnings = checkBox(tr("Show warning messages"), "warningMode", conf->showWarnings());
    layout->addWidget(warnings);
    QCheckBox *ssl = checkBox(tr("SSL/Secure Mode"), "sslMode", conf->isSSLmode());
    layout->addWidget(ssl);
    portBox = spinBox("port", Configuration::RootMode ? 1 : FirstUserPort, LastPort, &conf->port);
    if (!Configuration::RootMode)
        portBox->setToolTip(tr("Ports below 1024 need root mode: start Tessaly as \"tessaly root\"."));
    addRow(layout, helpLabel(tr("Port [1 - 65535]:"), QStringLiteral("port")), portBox);
    QLineEdit *hosts = lineEdit("allowedHosts", conf->allowedHosts.join(QStringLiteral(", ")));
    addRow(layout, helpLabel(tr("Allowed host names"), QStringLiteral("hosts")), hosts);
    connect(hosts, &QLineEdit::textChanged, this, &ConfigPageServer::allowedHostsChanged);
    connect(warnings, &QCheckBox::stateChanged, this, &ConfigPageServer::warningModeChanged);
    connect(ssl, &QCheckBox::stateChanged, this, &ConfigPageServer::sslChanged);
    connect(portBox, &QSpinBox::valueChanged, this, &ConfigPageServer::portChanged);

    if (conf->expertMode) {
        keyEdit = lineEdit("keyFile", conf->keyFile);
        browseButton = new QPushButton(QIcon(QStringLiteral(":/icons/find.png")), QString());
        browseButton->setObjectName(QStringLiteral("browseKey"));
        auto *keyRow = new QHBoxLayout;
        keyRow->addWidget(helpLabel(tr("Key pair:"), QStringLiteral("keys")));
        keyRow->addWidget(keyEdit, 1);
        keyRow->addWidget(browseButton);
        layout->addLayout(keyRow);
        passwordEdit = lineEdit("keyPassword", conf->keyPassword);
        passwordEdit->setEchoMode(QLineEdit::PasswordEchoOnEdit);
        addRow(layout, helpLabel(tr("Password:"), QStringLiteral("passwd")), passwordEdit);
        restoreButton = new QPushButton(tr("Restore default keys"));
        restoreButton->setObjectName(QStringLiteral("restoreKeys"));
        layout->addWidget(restoreButton);
        enableKeys(conf->isSSLmode());
        connect(keyEdit, &QLineEdit::textChanged, this, &ConfigPageServer::keyChanged);
        connect(passwordEdit, &QLineEdit::textChanged, this, &ConfigPageServer::passwdChanged);
        connect(browseButton, &QPushButton::clicked, this, &ConfigPageServer::browseKey);
        connect(restoreButton, &QPushButton::clicked, this, &ConfigPageServer::restore);
    }
    layout->addStretch(1);
}

void ConfigPageServer::warningModeChanged(int state)
{
    conf->warningMode = CheckState(state);
    emit edited();
}

void ConfigPageServer::sslChanged(int state)
{
    // In root mode the port follows the scheme's own.
    if (Configuration::RootMode)
        portBox->setValue(state == Qt::Checked ? 443 : 80);
    if (conf->expertMode)
        enableKeys(state == Qt::Checked);
    conf->sslMode = CheckState(state);
    emit edited();
}

void ConfigPageServer::portChanged(int port)
{
    conf->port = port;
    emit edited();
}

void ConfigPageServer::allowedHostsChanged(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    conf->allowedHosts = text.split(separators, Qt::SkipEmptyParts);
    emit edited();
}

void ConfigPageServer::keyChanged(const QString &text)
{
    conf->keyFile = text;
    emit edited();
}

void ConfigPageServer::passwdChanged(const QString &text)
{
    conf->keyPassword = text;
    emit edited();
}

void ConfigPageServer::browseKey()
{
    const QString file = Prompt::current()->openFileName(this, tr("Open Key File"), conf->keyFile,
                                                         tr("Key pair file") + QStringLiteral(" (*.pem)"));
    if (!file.isEmpty())
        keyEdit->setText(file);
}

void ConfigPageServer::restore()
{
    conf->resetKeys();
    // The edits write the same values back.
    passwordEdit->setText(conf->keyPassword);
    keyEdit->setText(conf->keyFile);
    emit edited();
}

void ConfigPageServer::enableKeys(bool on)
{
    if (!keyEdit)
        return;
    keyEdit->setEnabled(on);
    browseButton->setEnabled(on);
    restoreButton->setEnabled(on);
}
