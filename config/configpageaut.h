#ifndef CONFIGPAGEAUT_H
#define CONFIGPAGEAUT_H

#include "config/configpage.h"

class QComboBox;
class QStackedWidget;
class QTableWidget;
class QTableWidgetItem;

// Who may use the server: everybody, whoever knows the one password, or the users of the
// table (HTTP Basic).
class ConfigPageAut : public ConfigPage
{
    Q_OBJECT

public:
    ConfigPageAut(Configuration *conf, QWidget *parent = nullptr);

    QTableWidget *userTable() const { return table; }

public slots:
    void authModeChanged(int index);
    void passwordChanged(const QString &text);
    void itemChanged(QTableWidgetItem *item);
    void addUser();
    void removeUser();

private:
    void getPasswords();
    void setPasswords();

    QComboBox *modeBox = nullptr;
    QStackedWidget *panels = nullptr;
    QTableWidget *table = nullptr;
};

#endif
