#ifndef PROFILEDIALOG_H
#define PROFILEDIALOG_H

#include <QDialog>

class Configuration;
class QComboBox;

// Chooses the profile of a server; creates, renames and removes profiles. The entries of
// the box are the profiles of Configuration::confList, in its order; the first is the global one.
class ProfileDialog : public QDialog
{
    Q_OBJECT

public:
    // Longest profile name, in bytes of UTF-8; with ".cnf" it stays a usable file name.
    static constexpr int MaxNameBytes = 100;

    // `current` is the profile the server has now.
    ProfileDialog(Configuration *current, QWidget *parent);

    int run();
    Configuration *getConfig() const;
    // The profile chosen with OK; nullptr before.
    Configuration *chosen() const { return chosenProfile; }
    QComboBox *profiles() const { return profileBox; }

    // Why `name` cannot name a new profile, or `renamed` under its new name (its file stays);
    // empty when it can.
    static QString refusal(const QString &name, const Configuration *renamed = nullptr);

public slots:
    void ok();
    void newProfile();
    void deleteProfile();

private:
    // Puts the entry typed over back as it was.
    void restoreEntry(int index);

    QComboBox *profileBox = nullptr;
    // The entry whose name is being typed over, -1 while nothing is typed. The box chooses the
    // entry of a name typed in full, so the entry chosen then is not the one renamed.
    int typedOver = -1;
    Configuration *chosenProfile = nullptr;
};

#endif
