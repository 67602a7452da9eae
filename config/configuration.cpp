#include "configuration.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

#include <type_traits>

namespace {

// Last word of every profile file; a file that does not end in it is not a profile.
constexpr qint32 fileTrailer = 316;

// The layout of profile files never changes with the Qt version that writes them.
constexpr QDataStream::Version streamVersion = QDataStream::Qt_4_7;

constexpr QFileDevice::Permissions privateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions privateFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// Reads a string list one element at a time. The stored count is only an upper bound: a damaged
// file may claim billions of entries, so nothing is allocated ahead and reading stops at the end
// of the data or at the first stream error.
void readStringList(QDataStream &in, QStringList &list)
{
    list.clear();
    quint32 count = 0;
    in >> count;
    for (quint32 i = 0; i < count && !in.atEnd() && in.status() == QDataStream::Ok; ++i) {
        QString entry;
        in >> entry;
        if (in.status() != QDataStream::Ok)
            break;
        list.append(entry);
    }
}

// What a field of the profile is besides a member: written to the profile file, written to the
// settings file beside it, a setting that an edited copy hands back (apply() copies it, equals()
// compares it), part of the key pair.
enum FieldRole { InMemory = 0, Stored = 1, Setting = 2, Key = 4, Beside = 8 };

// Every field of the profile, once: in the order of the profile file, then the fields kept in
// the settings file beside it (their key there is the last argument), then the fields kept in
// memory only. `visit(member, initial value, roles, key)` is called for each.
// savedOnExit is stored but is no setting: it records how the program last ended, so neither an
// edited copy nor a comparison carries it.
// The profile file's layout is fixed (files written by every earlier version load, and older
// versions load the files written now): a new setting is one more line with Beside | Setting and
// a key of its own.
template <typename Visit>
void forEachField(Visit &&visit)
{
    using C = Configuration;
    const char *const inFile = nullptr;
    visit(&C::users, QStringList(), Stored | Setting, inFile);
    visit(&C::recentFiles, QStringList(), Stored | Setting, inFile);
    visit(&C::port, qint32(8080), Stored | Setting, inFile);
    visit(&C::sslMode, CheckState::Off, Stored | Setting, inFile);
    visit(&C::expertMode, false, Stored | Setting, inFile);
    visit(&C::showFolders, CheckState::On, Stored | Setting, inFile);
    visit(&C::showImages, CheckState::On, Stored | Setting, inFile);
    visit(&C::enableDelete, CheckState::On, Stored | Setting, inFile);
    visit(&C::enableUpload, CheckState::On, Stored | Setting, inFile);
    visit(&C::authMode, AuthMode::None, Stored | Setting, inFile);
    visit(&C::warningMode, CheckState::On, Stored | Setting, inFile);
    visit(&C::dnsEnabled, CheckState::Off, Stored | Setting, inFile);
    visit(&C::maxConnections, qint32(4), Stored | Setting, inFile);
    visit(&C::dataLimitKB, qint32(0), Stored | Setting, inFile);
    visit(&C::sessionLifetime, qint32(600), Stored | Setting, inFile);
    visit(&C::profileName, QString(), Stored | Setting, inFile);
    visit(&C::password, QString(), Stored | Setting, inFile);
    visit(&C::dnsUser, QString(), Stored | Setting, inFile);
    visit(&C::dnsPassword, QString(), Stored | Setting, inFile);
    visit(&C::keyFile, C::defaultKeyFile(), Stored | Setting | Key, inFile);
    visit(&C::keyPassword, QString::fromLatin1(C::DefaultKeyPassword), Stored | Setting | Key, inFile);
    visit(&C::savedOnExit, true, Stored, inFile);
    visit(&C::allowedHosts, QStringList(), Beside | Setting, "server/allowedHosts");
    visit(&C::pages, FolderPages::Classic, Beside | Setting, "folder/pages");
    visit(&C::settingsPage, qint32(0), InMemory, inFile);
    visit(&C::useCount, qint32(0), InMemory, inFile);
}

// The enums are stored as their numbers, whatever a file holds.
template <typename T>
void readField(QDataStream &in, T &value)
{
    if constexpr (std::is_enum_v<T>) {
        std::underlying_type_t<T> number = 0;
        in >> number;
        value = T(number);
    } else {
        in >> value;
    }
}

template <typename T>
void writeField(QDataStream &out, const T &value)
{
    if constexpr (std::is_enum_v<T>)
        out << std::underlying_type_t<T>(value);
    else
        out << value;
}

void readField(QDataStream &in, QStringList &list)
{
    readStringList(in, list);
}

// A value of the settings file beside the profile file.
template <typename T>
void readSetting(const QVariant &stored, T &value)
{
    value = stored.value<T>();
}

void readSetting(const QVariant &stored, QStringList &list)
{
    list = stored.toStringList();
}

// A page style by its name; a name this version does not know leaves the default.
void readSetting(const QVariant &stored, FolderPages &pages)
{
    Configuration::pagesFromName(stored.toString(), &pages);
}

template <typename T>
QVariant toSetting(const T &value)
{
    return QVariant::fromValue(value);
}

QVariant toSetting(FolderPages pages)
{
    return Configuration::pagesName(pages);
}

// Whether `folder` holds the program's data (the icon or the language folder).
bool holdsData(const QString &folder)
{
    return QFileInfo(folder + QStringLiteral("img")).isDir() || QFileInfo(folder + QStringLiteral("lang")).isDir();
}

// The data lies next to the executable in a build and wherever it was put there; an installed
// program finds it in <prefix>/share/tessaly/, beside <prefix>/bin/. With data in neither place
// the executable's folder is used.
QString resourceFolder(const QString &executableDir)
{
    const QString next = executableDir + QLatin1Char('/');
    if (holdsData(next))
        return next;
    const QString installed =
        QDir::cleanPath(executableDir + QLatin1Char('/') + QStringLiteral(TESSALY_INSTALLED_DATA)) + QLatin1Char('/');
    return holdsData(installed) ? installed : next;
}

} // namespace

QList<Configuration *> Configuration::confList;
QString Configuration::ConfigDir;
QString Configuration::ResDir;
QByteArray Configuration::IconDir;
QString Configuration::LangPath;
bool Configuration::FirstRun = false;
bool Configuration::RootMode = false;

Configuration::Configuration()
{
    initValues();
}

Configuration::Configuration(const QString &name)
    : filePath(ConfigDir + name)
{
    // Fields that the file does not hold (settingsPage, useCount) start from their defaults too.
    initValues();
    load();
}

void Configuration::initValues()
{
    forEachField([this](auto member, const auto &initial, int, const char *) { this->*member = initial; });
}

void Configuration::resetKeys()
{
    forEachField([this](auto member, const auto &initial, int roles, const char *) {
        if (roles & Key)
            this->*member = initial;
    });
}

QString Configuration::defaultKeyFile()
{
    return ConfigDir + QStringLiteral("ssl.pem");
}

bool Configuration::load(const QString &fileName)
{
    filePath = fileName;

    QFile file(filePath);
    if (file.open(QIODevice::ReadOnly)) {
        QDataStream in(&file);
        in.setVersion(streamVersion);

        forEachField([this, &in](auto member, const auto &, int roles, const char *) {
            if (roles & Stored)
                readField(in, this->*member);
        });
        qint32 trailer = 0;
        in >> trailer;
        const bool complete = in.status() == QDataStream::Ok && trailer == fileTrailer;
        file.close();
        if (complete) {
            // Older versions kept the default key pair in the resource folder. A profile that
            // still names that file after it has gone gets the user's own default key pair;
            // any other key file, and that one while it exists, stays as it is.
            if (keyFile == ResDir + QStringLiteral("ssl.pem") && !QFileInfo::exists(keyFile))
                resetKeys();
            loadBeside();
            return true;
        }
    }

    initValues();
    FirstRun = true;
    return false;
}

bool Configuration::load()
{
    return load(filePath);
}

bool Configuration::save()
{
    lastSaveError.clear();
    QByteArray data;
    {
        QDataStream out(&data, QIODevice::WriteOnly);
        out.setVersion(streamVersion);
        forEachField([this, &out](auto member, const auto &, int roles, const char *) {
            if (roles & Stored)
                writeField(out, this->*member);
        });
        out << fileTrailer;
        if (out.status() != QDataStream::Ok) {
            lastSaveError = filePath + QStringLiteral(": ") + QStringLiteral("the profile could not be encoded");
            return false;
        }
    }

    // Written to a temporary file that replaces the old one only when everything went well, so
    // a failed save never leaves a half-written profile behind. Profiles hold passwords: owner only.
    QSaveFile file(filePath);
    const auto failed = [&] {
        lastSaveError = filePath + QStringLiteral(": ") + file.errorString();
        file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return failed();
    if (!file.setPermissions(privateFile))
        return failed();
    // commit() does not notice a short write during its final flush (a full disk, a file size
    // limit), so the data is flushed and checked here first.
    if (file.write(data) != data.size() || !file.flush() || file.error() != QFileDevice::NoError)
        return failed();
    if (!file.commit()) {
        lastSaveError = filePath + QStringLiteral(": ") + file.errorString();
        return false;
    }
    if (!saveBeside()) {
        lastSaveError = besideFileName() + QStringLiteral(": ") + QStringLiteral("the file could not be written");
        return false;
    }
    return true;
}

QString Configuration::besideFileName() const
{
    return filePath + QStringLiteral(".ini");
}

void Configuration::loadBeside()
{
    const QString name = besideFileName();
    if (!QFileInfo::exists(name))
        return;
    const QSettings settings(name, QSettings::IniFormat);
    forEachField([this, &settings](auto member, const auto &, int roles, const char *key) {
        const QString keyText = QString::fromLatin1(key);
        if ((roles & Beside) && settings.contains(keyText))
            readSetting(settings.value(keyText), this->*member);
    });
}

bool Configuration::saveBeside() const
{
    const QString name = besideFileName();
    bool asInitial = true;
    forEachField([this, &asInitial](auto member, const auto &initial, int roles, const char *) {
        if (roles & Beside)
            asInitial = asInitial && this->*member == initial;
    });
    // A profile that sets none of these settings has no such file, as before they existed.
    if (asInitial)
        return !QFileInfo::exists(name) || QFile::remove(name);
    QSettings settings(name, QSettings::IniFormat);
    settings.clear();
    forEachField([this, &settings](auto member, const auto &, int roles, const char *key) {
        if (roles & Beside)
            settings.setValue(QString::fromLatin1(key), toSetting(this->*member));
    });
    settings.sync();
    return settings.status() == QSettings::NoError && QFile::setPermissions(name, privateFile);
}

void Configuration::setFileName(const QString &name)
{
    filePath = ConfigDir + name + QStringLiteral(".cnf");
}

bool Configuration::remove()
{
    if (filePath.isEmpty())
        return false;
    QFile::remove(besideFileName());
    return QFile::remove(filePath);
}

Configuration *Configuration::clone() const
{
    auto *copy = new Configuration();
    copy->apply(this);
    return copy;
}

void Configuration::apply(const Configuration *other)
{
    if (!other || other == this)
        return;
    filePath = other->filePath;
    forEachField([this, other](auto member, const auto &, int roles, const char *) {
        if (roles & Setting)
            this->*member = other->*member;
    });
}

bool Configuration::equals(const Configuration *other) const
{
    if (!other)
        return false;
    // QString's == treats a null and an empty string as equal, and so does QStringList's.
    bool same = true;
    forEachField([this, other, &same](auto member, const auto &, int roles, const char *) {
        if (roles & Setting)
            same = same && this->*member == other->*member;
    });
    return same;
}

QString Configuration::pagesName(FolderPages pages)
{
    return pages == FolderPages::Responsive ? QStringLiteral("responsive") : QStringLiteral("classic");
}

bool Configuration::pagesFromName(QStringView name, FolderPages *pages)
{
    for (const FolderPages p : {FolderPages::Classic, FolderPages::Responsive}) {
        if (name == pagesName(p)) {
            *pages = p;
            return true;
        }
    }
    return false;
}

Configuration::AccessFlaw Configuration::accessFlaw() const
{
    if (authMode == AuthMode::Password && password.isEmpty())
        return AccessFlaw::EmptyPassword;
    if (authMode == AuthMode::Basic && users.isEmpty())
        return AccessFlaw::NoUser;
    return AccessFlaw::None;
}

void Configuration::moveUse(Configuration *&held, Configuration *next)
{
    if (held == next)
        return;
    if (held)
        --held->useCount;
    held = next;
    if (held)
        ++held->useCount;
}

Configuration *Configuration::getGlobalConfig()
{
    return confList.isEmpty() ? nullptr : confList.first();
}

Configuration *Configuration::profileOf(const Configuration *conf)
{
    if (!conf)
        return nullptr;
    for (Configuration *p : std::as_const(confList)) {
        if (p == conf)
            return p;
    }
    for (Configuration *p : std::as_const(confList)) {
        if (!conf->filePath.isEmpty() && p->filePath == conf->filePath)
            return p;
    }
    return nullptr;
}

void Configuration::setDirectories(const QString &homeDir, const QString &executableDir,
                                   const QString &localeName)
{
    ConfigDir = homeDir + QStringLiteral("/.kestrune/");
    const QDir configDir(ConfigDir);
    if (!configDir.exists()) {
        // The parents get the usual mode; the profile folder itself is private to the user.
        const QString path = configDir.absolutePath();
        const QFileInfo info(path);
        QDir().mkpath(info.absolutePath());
        if (QDir().mkdir(path, privateFolder))
            QFile::setPermissions(path, privateFolder);
    }

    ResDir = resourceFolder(executableDir);
    IconDir = (ResDir + QStringLiteral("img/")).toLatin1();

    const QString localePath = ResDir + QStringLiteral("lang/") + localeName;
    if (!localeName.isEmpty() && QFileInfo::exists(localePath))
        LangPath = localePath + QLatin1Char('/');
    else
        LangPath = ResDir + QStringLiteral("lang/C/");
}
