// The profile dialog from a row's menu, driven through its widgets: new profiles and the names
// refused for them, renames, removals (also of a profile a running listener on 127.0.0.1 uses).

#include "guifixture.h"
#include "httpclient.h"

#include "config/profiledialog.h"
#include "instances/addresslist.h"
#include "instances/serveritem.h"
#include "server/webserver.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

using Window = std::unique_ptr<MobileWebServer>;

namespace {

QStringList profileNames()
{
    QStringList names;
    for (const Configuration *p : std::as_const(Configuration::confList))
        names.append(p->profileName);
    return names;
}

} // namespace

class TestProfiles : public QObject
{
    Q_OBJECT

private slots:
    void profileDialog_data();
    void profileDialog();
};

void TestProfiles::profileDialog_data()
{
    QTest::addColumn<QString>("action"); // "new", "rename" (typed over an entry), "remove"
    QTest::addColumn<int>("entry");      // the entry chosen for a rename or a removal
    QTest::addColumn<QString>("text");   // the name typed
    // How the first row uses "work": "" not at all, "row" stopped, "running" running, "upload"
    // running an upload while the row goes back to the global profile, "file gone" not at all
    // and its file removed.
    QTest::addColumn<QString>("use");
    QTest::addColumn<QString>("refusal"); // empty: done
    QTest::addColumn<QStringList>("names"); // of the profiles afterwards
    QTest::addColumn<QString>("bound");     // the profile of the row afterwards
    const QString taken = QStringLiteral("There is a profile of this name already.");
    const QString slash = QStringLiteral("A profile name cannot contain \"/\".");
    const QString noName = QStringLiteral("A profile needs a name.");
    const QString used = QStringLiteral("Used config profile is not removable.");
    const QStringList before = {"Default", "work", "renamed"};
    const QString e101 = QString(50, QChar(0xe9)) + u'x';
    QTest::newRow("new: no name") << "new" << 0 << QString() << "" << noName << before << "Default";
    QTest::newRow("new: .") << "new" << 0 << "." << "" << "A profile cannot be named \".\" or \"..\"." << before << "Default";
    QTest::newRow("new: a way out of the folder") << "new" << 0 << "../x" << "" << slash << before << "Default";
    QTest::newRow("new: a tab") << "new" << 0 << "a\tb" << ""
                                << "A profile name cannot contain control characters." << before << "Default";
    QTest::newRow("new: 101 bytes") << "new" << 0 << e101 << "" << "A profile name has at most 100 bytes." << before
                                    << "Default";
    QTest::newRow("new: the global profile's name") << "new" << 0 << "Default" << "" << taken << before << "Default";
    QTest::newRow("new: another profile's name") << "new" << 0 << "work" << "" << taken << before << "Default";
    QTest::newRow("new: the file of a renamed profile") << "new" << 0 << "zold" << ""
        << "The profile folder holds a file of this name already." << before << "Default";
    QTest::newRow("new: a name") << "new" << 0 << "office" << "" << "" << before + QStringList{"office"} << "Default";
    QTest::newRow("new: 100 bytes") << "new" << 0 << e101.chopped(1) << "" << "" << before + QStringList{e101.chopped(1)}
                                    << "Default";
    // Its file is Global.cnf, not the global profile's Global.conf.
    QTest::newRow("new: Global") << "new" << 0 << "Global" << "" << "" << before + QStringList{"Global"} << "Default";
    QTest::newRow("new: markup and an ampersand") << "new" << 0 << "R&D <b>" << "" << ""
                                                  << before + QStringList{"R&D <b>"} << "Default";
    QTest::newRow("rename: a profile") << "rename" << 1 << "office" << "running" << ""
                                       << QStringList{"Default", "office", "renamed"} << "office";
    // Typing over the global profile's entry renames it and chooses it for the row.
    QTest::newRow("rename: the global profile") << "rename" << 0 << "Home" << "running" << ""
                                                << QStringList{"Home", "work", "renamed"} << "Home";
    QTest::newRow("rename: a name with a slash") << "rename" << 1 << "a/b" << "running" << slash << before << "work";
    QTest::newRow("rename: no name") << "rename" << 1 << "" << "running" << noName << before << "work";
    // The box goes to the entry of a name typed in full: the rename is refused all the same, and
    // the row is not moved to that profile.
    QTest::newRow("rename: another profile's name") << "rename" << 1 << "Default" << "running" << taken << before
                                                    << "work";
    QTest::newRow("rename: the global profile under another's name") << "rename" << 0 << "work" << "running" << taken
                                                                     << before << "work";
    const QStringList removed = {"Default", "renamed"};
    QTest::newRow("remove: an unused profile") << "remove" << 1 << "" << "" << "" << removed << "Default";
    QTest::newRow("remove: a profile whose file is gone") << "remove" << 1 << "" << "file gone" << "" << removed
                                                          << "Default";
    QTest::newRow("remove: the global profile") << "remove" << 0 << "" << ""
                                                << "The global profile is not removable." << before << "Default";
    QTest::newRow("remove: a profile of a stopped row") << "remove" << 1 << "" << "row" << used << before << "work";
    QTest::newRow("remove: a profile of a running server") << "remove" << 1 << "" << "running" << used << before
                                                           << "work";
    // The row has another profile by then; the upload was accepted with this one.
    QTest::newRow("remove: the profile of an upload still arriving") << "remove" << 1 << "" << "upload" << used
                                                                     << before << "Default";
}

void TestProfiles::profileDialog()
{
    QFETCH(QString, action);
    QFETCH(int, entry);
    QFETCH(QString, text);
    QFETCH(QString, use);
    QFETCH(QString, refusal);
    QFETCH(QStringList, names);
    QFETCH(QString, bound);
    GuiFixture f;
    // The global profile asks for a password, "work" is open; "renamed" lives in zold.cnf.
    f.writeGlobal(true, [](Configuration &c) {
        c.warningMode = CheckState::Off;
        c.authMode = AuthMode::Password;
        c.password = QStringLiteral("secret");
    });
    GuiFixture::writeProfile(QStringLiteral("work"), QStringLiteral("work"),
                             [](Configuration &p) { p.warningMode = CheckState::Off; });
    GuiFixture::writeProfile(QStringLiteral("zold"), QStringLiteral("renamed"));
    TestServer::writeFile(f.share() + QStringLiteral("/a.txt"), "contents of a");
    Window window = f.open();
    QTableWidget *table = window->addresses()->currentTable();
    table->setCurrentCell(0, 1);
    window->fileOrDirSelected(f.share());
    ServerItem *item = GuiFixture::items(window.get()).at(0);
    Configuration *work = Configuration::confList.at(1);
    if (use == QLatin1String("file gone"))
        QVERIFY(QFile::remove(work->fileName()));
    else if (!use.isEmpty())
        item->useProfile(work);
    if (use == QLatin1String("running") || use == QLatin1String("upload"))
        GuiFixture::pressCell(table, 0, 2);
    const QByteArray url = item->getUrl() + "/a.txt";
    HttpClient uploading;
    const QByteArray rest = "second half\r\n--XyZ--\r\n";
    if (use == QLatin1String("upload")) {
        const QByteArray part = "--XyZ\r\nContent-Disposition: form-data; name=\"file\"; filename=\"up.txt\"\r\n\r\nfirst half, ";
        QSignalSpy requests(item->webServer, &WebServer::clientConnected);
        QVERIFY(uploading.connectTo(item->webServer->port));
        uploading.send("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=XyZ\r\n"
                       "Content-Length: " + QByteArray::number(part.size() + rest.size()) + "\r\n\r\n" + part);
        QTRY_COMPARE(requests.count(), 1);
        QTest::qWait(100);
        item->useProfile(Configuration::getGlobalConfig());
    }

    QStringList shown;
    bool stayedOpen = false;
    int openedOn = -1;
    f.prompt.dialogs.append([&](QDialog *d) {
        QComboBox *box = qobject_cast<ProfileDialog *>(d)->profiles();
        openedOn = box->currentIndex();
        if (action == QLatin1String("new")) {
            f.prompt.answers = {text};
            GuiFixture::press(d, QStringLiteral("New profile"));
        } else if (action == QLatin1String("rename")) {
            box->setCurrentIndex(entry);
            GuiFixture::type(box->lineEdit(), text);
            // Enter: the box takes the text, the dialog its default button, OK.
            QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        } else {
            box->setCurrentIndex(entry);
            GuiFixture::press(d, QStringLiteral("Remove profile"));
        }
        for (int i = 0; i < box->count(); ++i)
            shown.append(box->itemText(i));
        stayedOpen = d->isVisible();
        return stayedOpen ? ScriptedPrompt::end(d, QStringLiteral("Close")) : d->result();
    });
    GuiFixture::contextAction(window.get(), 0, QStringLiteral("Change Config"));
    QVERIFY2(f.prompt.dialogs.isEmpty(), "the profile dialog did not open");
    // It opened on the row's profile.
    QCOMPARE(openedOn, use == QLatin1String("running") || use == QLatin1String("row") ? 1 : 0);
    if (use == QLatin1String("upload")) {
        // The upload ends on the profile it began with.
        QCOMPARE(uploading.exchange(rest).code, 200);
        QCOMPARE(TestServer::readFile(f.share() + QStringLiteral("/up.txt")), "first half, second half");
    }
    // After the input dialog of a new profile: the refusal if any; a rename done ends the dialog.
    QCOMPARE(f.prompt.texts().mid(action == QLatin1String("new") ? 1 : 0),
             refusal.isEmpty() ? QStringList() : QStringList{refusal});
    QCOMPARE(stayedOpen, action != QLatin1String("rename") || !refusal.isEmpty());
    QCOMPARE(profileNames(), names);
    QCOMPARE(shown, names);
    // Each profile file holds a name shown, and each name shown has its file (a new profile one of
    // its own, copied from the global profile), nothing under a name refused.
    QStringList stored;
    for (const QString &file : QDir(Configuration::ConfigDir).entryList({"*.cnf", "*.conf"}, QDir::Files)) {
        Configuration c;
        stored.append(c.load(Configuration::ConfigDir + file) ? c.profileName : file);
        const bool made = action == QLatin1String("new") && refusal.isEmpty() && file == text + QLatin1String(".cnf");
        QCOMPARE(c.authMode == AuthMode::Password, made || file == QLatin1String("Global.conf"));
    }
    stored.sort();
    names.sort();
    QCOMPARE(stored, names);
    QCOMPARE(item->webServer->config->profileName, bound);
    QCOMPARE(table->item(0, 1)->text(), bound);
    // A running row serves as its profile says: openly on "work", with a password on the global
    // profile.
    if (item->webServer->isListening())
        QCOMPARE(GuiFixture::get(url), item->webServer->config == work ? 200 : 403);
    GuiFixture::quit(window);
    // The next start finds every row on its profile again.
    window = f.open();
    QCOMPARE(GuiFixture::items(window.get()).at(0)->webServer->config->profileName, bound);
    GuiFixture::quit(window);
}

QTEST_MAIN(TestProfiles)
#include "tst_profiles.moc"
