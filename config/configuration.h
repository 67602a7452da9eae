#ifndef CONFIGURATION_H
#define CONFIGURATION_H

#include <QList>
#include <QString>
#include <QStringList>

// A setting switched on or off, stored as the number a check box's state has (Qt::CheckState):
// 0 off, 2 on. Partial (1) is never produced; a file may still hold it.
enum class CheckState : qint32 { Off = 0, Partial = 1, On = 2 };

// How clients prove who they are; the numbers are those stored in profile files.
enum class AuthMode : qint32 {
    None = 0,     // open access
    Password = 1, // the login page, against the profile's password
    Basic = 2,    // HTTP Basic authentication, against the profile's users
};

// Which set of pages a browser gets for the shared folder: the classic pages, laid out for a
// desktop as they have always been, or the responsive ones made for phones as well.
enum class FolderPages : qint32 { Classic = 0, Responsive = 1 };

// One named profile of server settings.
// The global profile lives in ConfigDir + "Global.conf", every other one in
// ConfigDir + name + ".cnf"; both use the same data-stream layout (see save()). Settings that
// layout has no place for are kept beside it, in an INI file of the same name + ".ini"
// (besideFileName()), which exists only while one of them differs from its default.
class Configuration
{
public:
    Configuration();
    explicit Configuration(const QString &name);

    void initValues();
    // The default key pair: ConfigDir + "ssl.pem", protected by DefaultKeyPassword. The listener
    // makes that file the first time it is needed, so every user has a key pair of their own.
    void resetKeys();
    static QString defaultKeyFile();
    static constexpr char DefaultKeyPassword[] = "k4m5n6";

    bool load(const QString &fileName);
    bool load();
    bool save();
    // Why the last save() failed: the file and the system's reason; empty after one that worked.
    QString saveError() const { return lastSaveError; }
    void setFileName(const QString &name);
    QString fileName() const { return filePath; }
    QString besideFileName() const;
    bool remove();

    Configuration *clone() const;
    void apply(const Configuration *other);
    bool equals(const Configuration *other) const;

    bool isSSLmode() const { return sslMode == CheckState::On; }
    bool isFolder() const { return showFolders == CheckState::On; }
    bool isThumbnail() const { return showImages == CheckState::On; }
    bool isDelete() const { return enableDelete == CheckState::On; }
    bool isUpload() const { return enableUpload == CheckState::On; }
    bool useDNS() const { return dnsEnabled == CheckState::On; }
    // Warnings are shown unless the check box is off.
    bool showWarnings() const { return warningMode != CheckState::Off; }
    // Access that looks closed must be closed: password access with an empty password would let
    // everyone in, Basic access without a user nobody. Such a profile is not served.
    enum class AccessFlaw { None, EmptyPassword, NoUser };
    AccessFlaw accessFlaw() const;

    static Configuration *getGlobalConfig();
    // The profile of confList that `conf` is, or that it is an edited copy of (copies keep the
    // file of their profile, and no two profiles share a file); nullptr when there is none.
    static Configuration *profileOf(const Configuration *conf);

    // Directory statics, fixed once at start-up.
    static QList<Configuration *> confList;
    static QString ConfigDir;
    static QString ResDir;
    static QByteArray IconDir;
    static QString LangPath;
    static bool FirstRun;
    static bool RootMode;

    // Sets ConfigDir (created with mode 0700), ResDir, IconDir and LangPath. ResDir is the
    // executable's folder when the data (img/, lang/) is there, else the installed data folder
    // <prefix>/share/tessaly/ when the executable is <prefix>/bin/tessaly.
    static void setDirectories(const QString &homeDir, const QString &executableDir,
                               const QString &localeName);

    qint32 port;
    CheckState sslMode;
    CheckState showFolders;
    CheckState showImages;
    CheckState enableDelete;
    CheckState enableUpload;
    AuthMode authMode;
    CheckState warningMode;
    CheckState dnsEnabled;
    qint32 maxConnections;
    qint32 dataLimitKB;
    qint32 sessionLifetime;
    QString profileName;
    QString password;
    QString dnsUser;
    QString dnsPassword;
    QString keyFile;
    QString keyPassword;
    qint32 settingsPage;
    bool expertMode;
    bool savedOnExit;
    QStringList recentFiles;
    QStringList users;
    qint32 useCount;
    // Moves one use from the profile `held` points at to `next` (either may be null) and points
    // `held` at `next`: a listener or a request holds its profile this way.
    static void moveUse(Configuration *&held, Configuration *next);
    // Kept beside the profile file.
    // Host names (or addresses) under which an open share answers, besides the machine's own
    // names and addresses.
    QStringList allowedHosts;
    FolderPages pages;
    bool isResponsive() const { return pages == FolderPages::Responsive; }
    // The names of the page styles, as settings files and the command line write them.
    static QString pagesName(FolderPages pages);
    // The page style of a name; false when `name` is none.
    static bool pagesFromName(QStringView name, FolderPages *pages);

private:
    void loadBeside();
    bool saveBeside() const;

    QString filePath;
    QString lastSaveError;
};

#endif
