#ifndef PROFILEDIALOG_H
#define PROFILEDIALOG_H

#include <QDialog>
#include <QPointer>

class Configuration;
class QComboBox;
class ServerItem;

// Chooses the profile of a server item; creates, renames and removes profiles. The entries of
// the box are the profiles of Configuration::confList, in its order; the first is the global one.
class ProfileDialog : public QDialog
{
    Q_OBJECT

public:
    // Longest profile name, in bytes of UTF-8; with ".cnf" it stays a usable file name.
    static constexpr int MaxNameBytes = 100;

    ProfileDialog(ServerItem *item, QWidget *parent);

    int run();
    Configuration *getConfig() const;
    QComboBox *profiles() const { return profileBox; }

    // Why `name` cannot name a new profile, or `renamed` under its new name (its file stays);
    // empty when it can.
    static QString refusal(const QString &name, const Configuration *renamed = nullptr);

public slots:
    void ok();
    void newProfile();
    void deleteProfile();

private:
    QComboBox *profileBox = nullptr;
    // The item may go while the dialog waits: an online change rebuilds the rows.
    QPointer<ServerItem> item;
};

#endif
