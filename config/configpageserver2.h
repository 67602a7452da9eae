#ifndef CONFIGPAGESERVER2_H
#define CONFIGPAGESERVER2_H

#include "config/configpage.h"

// The limits of every server: connections waiting to be served, traffic, session lifetime.
class ConfigPageServer2 : public ConfigPage
{
    Q_OBJECT

public:
    ConfigPageServer2(Configuration *conf, QWidget *parent = nullptr);

public slots:
    void maxConnChanged(int value);
    void dataLimitChanged(int value);
    void lifetimeChanged(int value);
};

#endif
