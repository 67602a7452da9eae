#ifndef CONFIGURABLE_H
#define CONFIGURABLE_H

class Configuration;

// Receives a profile edited in the settings dialog when the user presses Apply.
class Configurable
{
public:
    virtual ~Configurable() = default;
    virtual void configurationChanged(Configuration *conf) { (void)conf; }
};

#endif
