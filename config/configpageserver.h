#ifndef CONFIGPAGESERVER_H
#define CONFIGPAGESERVER_H

#include "config/configpage.h"

class QLineEdit;
class QPushButton;
class QSpinBox;

// Warnings, HTTPS, the port and the host names an open share answers to besides the machine's
// own; in expert mode also the key pair for HTTPS.
class ConfigPageServer : public ConfigPage
{
    Q_OBJECT

public:
    ConfigPageServer(Configuration *conf, QWidget *parent = nullptr);

public slots:
    void warningModeChanged(int state);
    void sslChanged(int state);
    void portChanged(int port);
    // The names, separated by commas or blanks.
    void allowedHostsChanged(const QString &text);
    void keyChanged(const QString &text);
    void passwdChanged(const QString &text);
    void browseKey();
    void restore();
    void enableKeys(bool on);

private:
    QSpinBox *portBox = nullptr;
    QLineEdit *keyEdit = nullptr;
    QLineEdit *passwordEdit = nullptr;
    QPushButton *browseButton = nullptr;
    QPushButton *restoreButton = nullptr;
};

#endif
