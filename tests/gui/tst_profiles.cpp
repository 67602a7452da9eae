// The profile dialog from a row's menu, driven through its widgets: new profiles and the names
// refused for them, renames, removals (also of a profile a running listener on 127.0.0.1 uses).

#include "guifixture.h"
#include "httpclient.h"
#include "httpreply.h"

#include "app/mobilewebserver.h"
#include "config/configuration.h"
#include "config/profiledialog.h"
#include "instances/addresslist.h"
#include "instances/serveritem.h"
#include "server/webserver.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

using Window = std::unique_ptr<MobileWebServer>;
using Drive = std::function<void(ProfileDialog *)>;

namespace {

const QByteArray TextA = "contents of a";

QStringList profileFiles()
{
    return QDir(Configuration::ConfigDir).entryList(QDir::Files, QDir::Name);
}

QStringList profileNames()
{
    QStringList names;
    for (const Configuration *p : std::as_const(Configuration::confList))
        names.append(p->profileName);
    return names;
}

QStringList entries(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts.append(box->itemText(i));
    return texts;
}

QString storedName(const QString &file)
{
    Configuration c;
    return c.load(Configuration::ConfigDir + file) ? c.profileName : QStringLiteral("(unreadable)");
}

// Opens the profile dialog from the "Config" cell of `row`; `drive` works it, "Close" ends it.
void openProfiles(MobileWebServer *window, GuiFixture &f, int row, const Drive &drive)
{
    f.prompt.dialogs.append([drive](QDialog *d) {
        drive(qobject_cast<ProfileDialog *>(d));
        return d->isVisible() ? ScriptedPrompt::end(d, QStringLiteral("Close")) : d->result();
    });
    GuiFixture::contextAction(window, row, QStringLiteral("Change Config"));
    QVERIFY2(f.prompt.dialogs.isEmpty(), "the profile dialog did not open");
}

} // namespace

class TestProfiles : public QObject
{
    Q_OBJECT

private slots:
    void newProfile_data();
    void newProfile();
    void rename_data();
    void rename();
    void remove_data();
    void remove();
};

void TestProfiles::newProfile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("refusal"); // empty: the profile is made
    const QString taken = QStringLiteral("There is a profile of this name already.");
    const QString dots = QStringLiteral("A profile cannot be named \".\" or \"..\".");
    const QString slash = QStringLiteral("A profile name cannot contain \"/\".");
    const QString control = QStringLiteral("A profile name cannot contain control characters.");
    QTest::newRow("no name") << QString() << QStringLiteral("A profile needs a name.");
    QTest::newRow(".") << QStringLiteral(".") << dots;
    QTest::newRow("a way out of the folder") << QStringLiteral("../x") << slash;
    QTest::newRow("a tab") << QStringLiteral("a\tb") << control;
    QTest::newRow("101 bytes") << QString(50, QChar(0xe9)) + u'x' << QStringLiteral("A profile name has at most 100 bytes.");
    QTest::newRow("the global profile's name") << QStringLiteral("Default") << taken;
    QTest::newRow("another profile's name") << QStringLiteral("work") << taken;
    QTest::newRow("the file of a renamed profile") << QStringLiteral("old")
                                                   << QStringLiteral("The profile folder holds a file of this name already.");
    QTest::newRow("a name") << QStringLiteral("office") << QString();
    QTest::newRow("100 bytes") << QString(50, QChar(0xe9)) << QString();
    // Its file is Global.cnf, not the global profile's Global.conf.
    QTest::newRow("Global") << QStringLiteral("Global") << QString();
    QTest::newRow("markup and an ampersand") << QStringLiteral("R&D <b>") << QString();
}

void TestProfiles::newProfile()
{
    QFETCH(QString, name);
    QFETCH(QString, refusal);
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) {
        c.users = {QStringLiteral("anna:secret")};
    });
    GuiFixture::writeProfile(QStringLiteral("work"), QStringLiteral("work"));
    GuiFixture::writeProfile(QStringLiteral("old"), QStringLiteral("renamed"));
    Window window = f.open();
    const QStringList filesBefore = profileFiles();
    const QStringList namesBefore = profileNames();

    QStringList shown;
    openProfiles(window.get(), f, 1, [&](ProfileDialog *dialog) {
        f.prompt.answers = {name};
        GuiFixture::press(dialog, QStringLiteral("New profile"));
        shown = entries(dialog->profiles());
    });
    // The input dialog, then the refusal if any; nothing is written under a name refused.
    QCOMPARE(f.prompt.texts().mid(1), refusal.isEmpty() ? QStringList() : QStringList{refusal});
    const QStringList names = namesBefore + (refusal.isEmpty() ? QStringList{name} : QStringList());
    QCOMPARE(profileNames(), names);
    QCOMPARE(shown, names);
    QCOMPARE(profileFiles().size(), filesBefore.size() + names.size() - namesBefore.size());
    // A new profile starts as a copy of the global one.
    Configuration made;
    if (refusal.isEmpty()) {
        QVERIFY(made.load(f.configDir() + name + QStringLiteral(".cnf")));
        QCOMPARE(made.profileName, name);
        QCOMPARE(made.users, QStringList{QStringLiteral("anna:secret")});
    }
    GuiFixture::quit(window);
}

void TestProfiles::rename_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QStringList>("names"); // of the profiles afterwards
    QTest::addColumn<QString>("bound");     // the profile of the row afterwards
    const QString taken = QStringLiteral("There is a profile of this name already.");
    const QStringList before = {"Default", "work"};
    QTest::newRow("a profile") << 1 << QStringLiteral("office") << QString()
                               << QStringList{"Default", "office"} << QStringLiteral("office");
    // Typing over the global profile's entry renames it and chooses it for the row.
    QTest::newRow("the global profile") << 0 << QStringLiteral("Home") << QString()
                                        << QStringList{"Home", "work"} << QStringLiteral("Home");
    QTest::newRow("a name with a slash") << 1 << QStringLiteral("a/b") << QStringLiteral("A profile name cannot contain \"/\".")
                                         << before << QStringLiteral("work");
    QTest::newRow("no name") << 1 << QString() << QStringLiteral("A profile needs a name.") << before << QStringLiteral("work");
    // The box goes to the entry of a name typed in full: the rename is refused all the same, and
    // the row is not moved to that profile.
    QTest::newRow("another profile's name") << 1 << QStringLiteral("Default") << taken << before << QStringLiteral("work");
    QTest::newRow("the global profile under another's name") << 0 << QStringLiteral("work") << taken << before
                                                             << QStringLiteral("work");
}

void TestProfiles::rename()
{
    QFETCH(int, entry);
    QFETCH(QString, typed);
    QFETCH(QString, refusal);
    QFETCH(QStringList, names);
    QFETCH(QString, bound);
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) { c.warningMode = CheckState::Off; });
    // The row runs on "work": Basic access for anna.
    GuiFixture::writeProfile(QStringLiteral("work"), QStringLiteral("work"), [](Configuration &p) {
        p.warningMode = CheckState::Off;
        p.authMode = AuthMode::Basic;
        p.users = {QStringLiteral("anna:pw")};
    });
    f.writeFile(f.share() + QStringLiteral("/a.txt"), TextA);
    Window window = f.open();
    window->addresses()->currentTable()->setCurrentCell(0, 1);
    window->fileOrDirSelected(f.share());
    ServerItem *item = GuiFixture::items(window.get()).at(0);
    item->useProfile(Configuration::confList.at(1));
    GuiFixture::pressCell(window->addresses()->currentTable(), 0, 2);
    QVERIFY(item->webServer->isListening());
    const QStringList files = profileFiles();
    bool stayedOpen = false;
    openProfiles(window.get(), f, 0, [&](ProfileDialog *dialog) {
        QComboBox *box = dialog->profiles();
        QCOMPARE(box->currentIndex(), 1);
        box->setCurrentIndex(entry);
        QLineEdit *edit = box->lineEdit();
        GuiFixture::type(edit, typed);
        // Enter: the box takes the text, the dialog its default button, OK.
        QTest::keyClick(edit, Qt::Key_Return);
        // Typing never adds an entry.
        QCOMPARE(box->count(), 2);
        stayedOpen = dialog->isVisible();
    });
    QCOMPARE(stayedOpen, !refusal.isEmpty());
    QCOMPARE(f.prompt.texts(), refusal.isEmpty() ? QStringList() : QStringList{refusal});
    QCOMPARE(profileNames(), names);
    // Files keep their names and hold the names shown.
    QCOMPARE(profileFiles(), files);
    QCOMPARE(storedName(QStringLiteral("Global.conf")), names.at(0));
    QCOMPARE(storedName(QStringLiteral("work.cnf")), names.at(1));
    QCOMPARE(item->webServer->config->profileName, bound);
    QCOMPARE(window->addresses()->currentTable()->item(0, 1)->text(), bound);
    // The running row serves as its profile says: to anna alone on "work", openly on the global
    // profile.
    QVERIFY(item->webServer->isListening());
    const bool work = item->webServer->config == Configuration::confList.at(1);
    QCOMPARE(GuiFixture::get(item->getUrl() + "/a.txt"), work ? 401 : 200);
    GuiFixture::quit(window);
    // The next start finds every row on its profile again.
    Window again = f.open();
    QCOMPARE(GuiFixture::items(again.get()).at(0)->webServer->config->profileName, bound);
    GuiFixture::quit(again);
}

void TestProfiles::remove_data()
{
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("use"); // "", "stopped row", "running row", "file gone", "upload"
    QTest::addColumn<QString>("refusal");
    const QString used = QStringLiteral("Used config profile is not removable.");
    QTest::newRow("an unused profile") << 1 << QString() << QString();
    QTest::newRow("a profile whose file is gone") << 1 << QStringLiteral("file gone") << QString();
    QTest::newRow("the global profile") << 0 << QString() << QStringLiteral("The global profile is not removable.");
    QTest::newRow("a profile of a stopped row") << 1 << QStringLiteral("stopped row") << used;
    QTest::newRow("a profile of a running server") << 1 << QStringLiteral("running row") << used;
    // The row has another profile by then; the upload was accepted with this one.
    QTest::newRow("the profile of an upload still arriving") << 1 << QStringLiteral("upload") << used;
}

void TestProfiles::remove()
{
    QFETCH(int, entry);
    QFETCH(QString, use);
    QFETCH(QString, refusal);
    GuiFixture f;
    f.writeGlobal(true, [](Configuration &c) { c.warningMode = CheckState::Off; });
    GuiFixture::writeProfile(QStringLiteral("work"), QStringLiteral("work"));
    f.writeFile(f.share() + QStringLiteral("/a.txt"), TextA);
    Window window = f.open();
    window->addresses()->currentTable()->setCurrentCell(1, 1);
    window->fileOrDirSelected(f.share());
    ServerItem *item = GuiFixture::items(window.get()).at(1);
    Configuration *work = Configuration::confList.at(1);
    const bool upload = use == QLatin1String("upload");
    if (use.endsWith(QLatin1String("row")) || upload)
        item->useProfile(work);
    if (use == QLatin1String("running row") || upload)
        GuiFixture::pressCell(window->addresses()->currentTable(), 1, 2);
    if (use == QLatin1String("file gone"))
        QVERIFY(QFile::remove(work->fileName()));
    const QByteArray url = item->getUrl() + "/a.txt";
    if (use == QLatin1String("running row"))
        QCOMPARE(GuiFixture::get(url), 200);
    HttpClient uploading;
    const QByteArray rest = "second half\r\n--XyZ--\r\n";
    if (upload) {
        const QByteArray part = "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"up.txt\"\r\n\r\nfirst half, ";
        QSignalSpy requests(item->webServer, &WebServer::clientConnected);
        const QUrl at = QUrl::fromEncoded(item->getUrl());
        uploading.socket.connectToHost(at.host(), quint16(at.port()));
        QVERIFY(HttpClient::waitUntil([&] { return uploading.isConnected(); }));
        uploading.send("POST / HTTP/1.1\r\nHost: " + at.authority().toLatin1() + "\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
                       "Content-Length: " + QByteArray::number(part.size() + rest.size()) + "\r\n\r\n" + part);
        QTRY_COMPARE(requests.count(), 1);
        QTest::qWait(100);
        item->useProfile(Configuration::getGlobalConfig());
    }

    QStringList shown;
    openProfiles(window.get(), f, 0, [&](ProfileDialog *dialog) {
        dialog->profiles()->setCurrentIndex(entry);
        GuiFixture::press(dialog, QStringLiteral("Remove profile"));
        shown = entries(dialog->profiles());
    });
    if (upload) {
        // The upload ends on the profile it began with.
        QCOMPARE(uploading.exchange(rest).code, 200);
        QFile stored(f.share() + QStringLiteral("/up.txt"));
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(stored.readAll(), "first half, second half");
    }
    QCOMPARE(f.prompt.texts(), refusal.isEmpty() ? QStringList() : QStringList{refusal});
    const QStringList names = refusal.isEmpty() ? QStringList{"Default"} : QStringList{"Default", "work"};
    QCOMPARE(profileNames(), names);
    QCOMPARE(shown, names);
    QCOMPARE(QFileInfo::exists(f.configDir() + QStringLiteral("work.cnf")), !refusal.isEmpty() && use != QLatin1String("file gone"));
    QVERIFY(QFileInfo::exists(f.configDir() + QStringLiteral("Global.conf")));
    if (use == QLatin1String("running row")) {
        // The server goes on, on its profile.
        QCOMPARE(item->webServer->config, work);
        QCOMPARE(GuiFixture::get(url), 200);
    }
    GuiFixture::quit(window);
}

QTEST_MAIN(TestProfiles)
#include "tst_profiles.moc"
