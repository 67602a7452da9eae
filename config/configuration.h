#ifndef CONFIGURATION_H
#define CONFIGURATION_H

#include <QList>
#include <QString>
#include <QStringList>

// One named profile of server settings. Check-state fields hold 0 (off) or 2 (on).
// The global profile lives in ConfigDir + "Global.conf", every other one in
// ConfigDir + name + ".cnf"; both use the same data-stream layout (see save()).
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
    void setFileName(const QString &name);
    QString fileName() const { return filePath; }
    bool remove();

    Configuration *clone() const;
    void apply(const Configuration *other);
    bool equals(const Configuration *other) const;

    bool isSSLmode() const { return sslMode == 2; }
    bool isFolder() const { return showFolders == 2; }
    bool isThumbnail() const { return showImages == 2; }
    bool isDelete() const { return enableDelete == 2; }
    bool isUpload() const { return enableUpload == 2; }
    bool useDNS() const { return dnsEnabled == 2; }

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
    qint32 sslMode;
    qint32 showFolders;
    qint32 showImages;
    qint32 enableDelete;
    qint32 enableUpload;
    qint32 authMode;
    qint32 warningMode;
    qint32 dnsEnabled;
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

private:
    QString filePath;
};

#endif
