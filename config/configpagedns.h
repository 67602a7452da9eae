#ifndef CONFIGPAGEDNS_H
#define CONFIGPAGEDNS_H

#include "config/configpage.h"

// The account with the dynamic-DNS provider that keeps a name pointing at this machine.
class ConfigPageDNS : public ConfigPage
{
    Q_OBJECT

public:
    ConfigPageDNS(Configuration *conf, QWidget *parent = nullptr);

public slots:
    void dnsChanged(int state);
    void userChanged(const QString &text);
    void passChanged(const QString &text);
};

#endif
