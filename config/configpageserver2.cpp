#include "config/configpageserver2.h"

#include "config/configuration.h"
#include "widgets/linklabel.h"

#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

ConfigPageServer2::ConfigPageServer2(Configuration *conf, QWidget *parent)
    : ConfigPage(conf, parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(heading(tr("Server Settings 2")));

    QSpinBox *connections = spinBox("maxConnections", 1, 99, &conf->maxConnections);
    addRow(layout, helpLabel(tr("Max. Connections:"), QStringLiteral("connections")), connections);

    QSpinBox *limit = spinBox("dataLimitKB", 0, 1000000000, &conf->dataLimitKB);
    LinkLabel *limitLabel = helpLabel(tr("Network traffic limit [KB]:"), QStringLiteral("limit"));
    limitLabel->setToolTip(tr("0: no limit"));
    limit->setToolTip(limitLabel->toolTip());
    addRow(layout, limitLabel, limit);

    QSpinBox *lifetime = spinBox("sessionLifetime", 60, 10000, &conf->sessionLifetime);
    addRow(layout, helpLabel(tr("Session lifetime [s]:"), QStringLiteral("lifetime")), lifetime);
    layout->addStretch(1);

    connect(connections, &QSpinBox::valueChanged, this, &ConfigPageServer2::maxConnChanged);
    connect(limit, &QSpinBox::valueChanged, this, &ConfigPageServer2::dataLimitChanged);
    connect(lifetime, &QSpinBox::valueChanged, this, &ConfigPageServer2::lifetimeChanged);
}

void ConfigPageServer2::maxConnChanged(int value)
{
    conf->maxConnections = value;
    emit edited();
}

void ConfigPageServer2::dataLimitChanged(int value)
{
    conf->dataLimitKB = value;
    emit edited();
}

void ConfigPageServer2::lifetimeChanged(int value)
{
    conf->sessionLifetime = value;
    emit edited();
}
