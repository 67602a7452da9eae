// The desktop window driven through its widgets against two loopback addresses, with real
// listeners on 127.0.0.1, real GETs, a temporary home folder for each case and no display: the
// address table and list.ini (a share that is gone, a port changed while running, a start that
// fails), the profile dialog (new profiles and the names refused for them, renames, removals, also
// of a profile a running listener uses), the settings dialog (access that looks closed, saves
// that fail, a traffic limit taken over by a running listener), the internet lookups against fake
// services on 127.0.0.1, the recent paths, the profiles read at start-up, and the command line.

#include "filesizelimit.h"
#include "httpclient.h"
#include "testserver.h"

#include "app/mobilewebserver.h"
#include "app/slinklabel.h"
#include "config/configdialog.h"
#include "config/configuration.h"
#include "config/pageddialog.h"
#include "config/profiledialog.h"
#include "config/userdialog.h"
#include "instances/addresslist.h"
#include "instances/fixedaddresses.h"
#include "instances/netrequest.h"
#include "instances/serveritem.h"
#include "server/webserver.h"
#include "widgets/inputdialog.h"
#include "widgets/messagedialog.h"
#include "widgets/prompt.h"

#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <functional>
#include <memory>

using Window = std::unique_ptr<MobileWebServer>;

namespace {

// Presses the shown button of that text (without its mnemonic) in `window`, as a person does.
void press(QWidget *window, const QString &text)
{
    for (QAbstractButton *b : window->findChildren<QAbstractButton *>()) {
        if (QString(b->text()).remove(u'&') == text && b->isVisible()) {
            QTest::mouseClick(b, Qt::LeftButton);
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no button %1").arg(text)));
}

// Ends a shown dialog with the button of that text; its result.
int end(QDialog *dialog, const QString &button)
{
    press(dialog, button);
    return dialog->result();
}

// Replaces the text of `edit` as typed.
void type(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

// Presses a cell with the mouse.
void pressCell(QTableWidget *table, int row, int column)
{
    QTableWidgetItem *cell = table->item(row, column);
    QVERIFY(cell);
    const QPoint centre = table->visualItemRect(cell).center();
    QTest::mousePress(table->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, centre);
}

// The action of the window's menus with this text, or nullptr.
QAction *menuAction(MobileWebServer *window, const QString &text)
{
    for (QAction *a : window->menuBar()->findChildren<QAction *>()) {
        // Not the menu's own entry in the menu bar.
        if (a->text() == text && !a->menu())
            return a;
    }
    return nullptr;
}

// Chooses an entry of a row's context menu (on its "Config" cell).
void contextAction(MobileWebServer *window, int row, const QString &text)
{
    pressCell(window->addresses()->currentTable(), row, 1);
    QMenu *menu = window->addresses()->contextMenu();
    QTRY_VERIFY(menu->isVisible());
    for (QAction *a : menu->actions()) {
        if (a->text() == text) {
            menu->hide();
            a->trigger();
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no entry %1 in the context menu").arg(text)));
}

// A GET of `url` (with its query) over a real connection: the status code, 0 when nothing
// answered.
int get(const QByteArray &url)
{
    const QUrl target = QUrl::fromEncoded(url);
    const QByteArray path = target.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
    HttpClient client;
    client.socket.connectToHost(target.host(), quint16(target.port(80)));
    HttpClient::waitUntil([&] { return client.isConnected() || client.isClosed(); });
    if (!client.isConnected())
        return 0;
    return client.exchange("GET " + (path.isEmpty() ? "/" : path) + " HTTP/1.1\r\nHost: " + target.host().toLatin1()
                           + "\r\nConnection: close\r\n\r\n")
        .code;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Accepts the window's close and destroys it, as the end of the program does.
void quit(Window &window)
{
    window->close();
    window.reset();
}

const QByteArray CheckPath = "/tools/open-ports/check.php";
const QByteArray DnsPath = "/cgi-bin/dynip.cgi";

} // namespace

// Answers the application's questions from a script and records what was asked.
class ScriptedPrompt : public Prompt
{
public:
    struct Asked
    {
        QString text;             // a message box's text, an input dialog's label
        bool parentShown = false; // the window it belongs to was on the screen
    };

    int exec(QDialog *dialog) override
    {
        auto *box = qobject_cast<QMessageBox *>(dialog);
        auto *input = qobject_cast<InputDialog *>(dialog);
        if (!box && !input) {
            if (dialogs.isEmpty()) {
                dialog->reject();
                return QDialog::Rejected;
            }
            dialog->show();
            const int result = dialogs.takeFirst()(dialog);
            if (dialog->isVisible())
                dialog->reject();
            return result;
        }
        record(dialog);
        const bool answered = !answers.isEmpty();
        const QString answer = answered ? answers.takeFirst() : QString();
        if (input) {
            input->setText(answer);
            answered ? input->accept() : input->reject();
            return input->result();
        }
        QAbstractButton *pressed = answered ? nullptr : box->defaultButton();
        for (QAbstractButton *b : box->buttons()) {
            if (answered && QString(b->text()).remove(u'&') == answer)
                pressed = b;
        }
        if (!pressed) {
            box->reject();
            return QDialog::Rejected;
        }
        pressed->click();
        const QMessageBox::StandardButton standard = box->standardButton(pressed);
        return standard != QMessageBox::NoButton ? int(standard) : box->result();
    }
    void show(QWidget *window, Presentation) override
    {
        window->setAttribute(Qt::WA_DeleteOnClose);
        record(window);
    }
    QString existingDirectory(QWidget *, const QString &, const QString &) override { return chosenPath; }

    QStringList texts() const
    {
        QStringList list;
        for (const Asked &a : asked)
            list.append(a.text);
        return list;
    }

    // Consumed in order by message boxes (the text of the button to press; the default button
    // without one) and input dialogs (the text to type; cancelled without one).
    QStringList answers;
    // Consumed in order by the other dialogs: each drives its dialog through the widgets, ends it
    // and returns what exec() would. Without one a dialog is rejected.
    QList<std::function<int(QDialog *)>> dialogs;
    QString chosenPath;
    QList<Asked> asked;

private:
    void record(QWidget *window)
    {
        Asked a;
        const QWidget *owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
        a.parentShown = owner && owner->windowHandle() && owner->windowHandle()->isExposed();
        if (auto *text = qobject_cast<TextDialog *>(window))
            a.text = text->text();
        else if (auto *box = qobject_cast<QMessageBox *>(window))
            a.text = box->text();
        else if (auto *input = qobject_cast<InputDialog *>(window))
            a.text = input->labelText();
        asked.append(a);
    }
};

// Stands in for an outside web service on 127.0.0.1: records the path of every request and
// answers each with 200 and the body `respond` gives for its path.
class FakeService : public QObject
{
    Q_OBJECT

public:
    FakeService()
    {
        listener.listen(QHostAddress::LocalHost, 0);
        connect(&listener, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = listener.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            }
        });
    }
    // "http://127.0.0.1:PORT"
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(listener.serverPort()); }

    std::function<QByteArray(const QByteArray &path)> respond = [](const QByteArray &) { return "ok"; };
    QList<QByteArray> requests;
    QList<QUrl> opened; // by the desktop, when a test hands it the web addresses to open

public slots:
    void open(const QUrl &url) { opened.append(url); }

private:
    // One request a connection: its head, then the answer and the close.
    void read(QTcpSocket *socket)
    {
        const QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
        socket->setProperty("buffer", buffer);
        if (!buffer.contains("\r\n\r\n"))
            return;
        const QByteArray target = buffer.left(buffer.indexOf('\n')).split(' ').value(1);
        requests.append(target.left(target.indexOf('?')));
        const QByteArray answer = respond(requests.last());
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: "
                      + QByteArray::number(answer.size()) + "\r\nConnection: close\r\n\r\n" + answer);
        socket->disconnectFromHost();
    }

    QTcpServer listener;
};

// A temporary home folder (HOME and the profile folder in it), the scripted prompt, two
// loopback addresses and a fake service on loopback for the open-port check and the dynamic DNS
// (QR codes are made here), installed for the life of the fixture.
class GuiFixture
{
public:
    GuiFixture()
        : port(freePort()), oldHome(qgetenv("HOME"))
    {
        qputenv("HOME", home.path().toLocal8Bit());
        Configuration::setDirectories(home.path(), TestServer::buildDir(), QStringLiteral("C"));
        Configuration::FirstRun = false;
        Configuration::RootMode = false;
        QDir().mkpath(share());
        addresses.set({QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2")});
        Prompt::install(&prompt);
        AddressSource::install(&addresses);
        // Nothing goes to the internet: the lookups ask the fake, QR codes are made here.
        qputenv("TESSALY_PORTCHECK_URL", services.base().toUtf8());
        qputenv("TESSALY_DDNS_URL", services.base().toUtf8());
        qputenv("TESSALY_DDNS_DOMAIN", "dyn.example.net");
        qputenv("TESSALY_QR_URL", "");
    }
    ~GuiFixture()
    {
        Prompt::install(nullptr);
        AddressSource::install(nullptr);
        qputenv("HOME", oldHome);
    }

    // Writes the global profile, so that the window starts without the terms.
    void writeGlobal(bool expert, const std::function<void(Configuration &)> &edit = {})
    {
        Configuration global;
        global.load(Configuration::ConfigDir + QStringLiteral("Global.conf"));
        Configuration::FirstRun = false;
        global.expertMode = expert;
        global.port = port;
        global.profileName = QStringLiteral("Default");
        if (edit)
            edit(global);
        if (!global.save())
            qFatal("cannot write the global profile");
    }
    // Writes the profile `name` into the file `file` + ".cnf" (in expert mode, as the profile
    // dialog makes them).
    static void writeProfile(const QString &file, const QString &name,
                             const std::function<void(Configuration &)> &edit = {})
    {
        Configuration p;
        p.setFileName(file);
        p.profileName = name;
        p.expertMode = true;
        if (edit)
            edit(p);
        if (!p.save())
            qFatal("cannot write the profile %s", qPrintable(file));
    }
    static Window open() { return std::make_unique<MobileWebServer>(QString()); }
    // Chooses the share for `row` and starts it from its status cell: its server item, or
    // nullptr when it does not listen.
    ServerItem *startShare(MobileWebServer *window, int row) const
    {
        window->addresses()->currentTable()->setCurrentCell(row, 1);
        window->fileOrDirSelected(share());
        pressCell(window->addresses()->currentTable(), row, 2);
        ServerItem *item = window->addresses()->getServer(row);
        return item && item->webServer->isListening() ? item : nullptr;
    }
    static QString listIni() { return Configuration::ConfigDir + QStringLiteral("list.ini"); }
    QString share() const { return home.path() + QStringLiteral("/share"); }

    QTemporaryDir home;
    ScriptedPrompt prompt;
    FixedAddresses addresses;
    FakeService services;
    quint16 port;
    QByteArray oldHome;
};

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void listIni_data();
    void listIni();
    void vanishedShareAtStart();
    void startPortChangeAndStop();
    void profileDialog_data();
    void profileDialog();
    void globalSettings_data();
    void globalSettings();
    void passwordQuestion_data();
    void passwordQuestion();
    void recentFiles_data();
    void recentFiles();
    void brokenProfiles();
    void commandLine_data();
    void commandLine();
};

void TestMainWindow::listIni_data()
{
    QTest::addColumn<bool>("expert");
    QTest::addColumn<int>("addresses");
    QTest::addColumn<QByteArray>("ini");
    // "port share" for each row: the port or "G", the global profile's; the share "H" (home), "S"
    // (the share), "F" (the file in it) or "N" (nothing).
    QTest::addColumn<QString>("rows");
    const QByteArray three = "[General]\nlen=3\n[0]\nport=9001\nfile=@SHARE@\n[1]\nport=9002\nfile=@SHARE@/f.txt\n"
                             "[2]\nport=9003\n";
    QTest::newRow("expert: len 3 on one address") << true << 1 << three << "9001 S, 9002 F, 9003 H";
    // In simple mode the global profile, which the settings edit, gives the port.
    QTest::newRow("simple: every row takes section 0") << false << 2 << three << "G S, G S";
    QTest::newRow("expert: no file") << true << 2 << QByteArray() << "G H, G H";
    QTest::newRow("len far too large") << true << 1 << QByteArray("[General]\nlen=100000000\n")
                                       << QStringList(AddressList::MaxRows, QStringLiteral("G H")).join(", ");
    QTest::newRow("len negative") << true << 2 << QByteArray("[General]\nlen=-4\n") << "G H, G H";
    QTest::newRow("len not a number") << true << 1 << QByteArray("[General]\nlen=three\n") << "G H";
    QTest::newRow("port 0, 65536, letters")
        << true << 3 << QByteArray("[0]\nport=0\n[1]\nport=65536\n[2]\nport=eighty\n") << "G H, G H, G H";
    QTest::newRow("port below 1024 outside root mode") << true << 1 << QByteArray("[0]\nport=80\n") << "G H";
    QTest::newRow("port 65535") << true << 1 << QByteArray("[0]\nport=65535\n") << "65535 H";
    // Nothing rather than the home folder.
    QTest::newRow("deleted folder") << true << 1 << QByteArray("[0]\nfile=@SHARE@/gone\n") << "G N";
    QTest::newRow("garbage") << true << 2 << QByteArray("\x01\x02[[[\n=\n[0\nport\n\xff\xfe") << "G H, G H";
}

void TestMainWindow::listIni()
{
    QFETCH(bool, expert);
    QFETCH(int, addresses);
    QFETCH(QByteArray, ini);
    QFETCH(QString, rows);
    GuiFixture f;
    TestServer::writeFile(f.share() + QStringLiteral("/f.txt"), "file");
    QStringList ips;
    for (int i = 1; i <= addresses; ++i)
        ips.append(QStringLiteral("127.0.0.%1").arg(i));
    f.addresses.set(ips);
    f.writeGlobal(expert);
    TestServer::writeFile(f.listIni(), ini.replace("@SHARE@", f.share().toUtf8()));
    // Read, then written back at the end and read again: the same rows.
    for (int round = 0; round < 2; ++round) {
        Window window = f.open();
        QStringList found;
        for (int i = 0; i < window->addresses()->getServerCount(); ++i) {
            const WebServer *server = window->addresses()->getServer(i)->webServer;
            const QString root = server->root.filePath().isEmpty() ? QString() : server->root.absoluteFilePath();
            const QString share = root.isEmpty()                          ? QStringLiteral("N")
                                  : root == f.home.path()                 ? QStringLiteral("H")
                                  : root == f.share()                     ? QStringLiteral("S")
                                  : root == f.share() + QLatin1String("/f.txt") ? QStringLiteral("F")
                                                                          : root;
            QCOMPARE(server->singleFile, share == QLatin1String("F"));
            found.append((server->port == f.port ? QStringLiteral("G") : QString::number(server->port)) + u' ' + share);
        }
        QCOMPARE(found.join(QStringLiteral(", ")), rows);
        quit(window);
    }
}

void TestMainWindow::vanishedShareAtStart()
{
    GuiFixture f;
    TestServer::writeFile(f.share() + QStringLiteral("/a.txt"), "A");
    const QString gone = f.share() + QStringLiteral("/gone");
    f.writeGlobal(true);
    TestServer::writeFile(f.listIni(), "[General]\nlen=2\n[0]\nfile=" + gone.toUtf8() + "\n[1]\nfile=" + f.share().toUtf8() + "\n");
    Window window = f.open();
    QTRY_COMPARE(f.prompt.texts().size(), 1);
    QVERIFY(f.prompt.texts().first().startsWith(QStringLiteral("What was shared is gone:\n%1\n").arg(gone)));
    QVERIFY(f.prompt.asked.first().parentShown);
    ServerItem *item = window->addresses()->getServer(0);
    QVERIFY(window->sharedContentLabel()->toolTip().contains(gone));
    // The row beside it shares what was stored for it.
    QCOMPARE(window->addresses()->getServer(1)->webServer->root.absoluteFilePath(), f.share());

    // The row does not start, and says why.
    f.prompt.asked.clear();
    pressCell(window->addresses()->currentTable(), 0, 2);
    QVERIFY(!item->webServer->isListening());
    QCOMPARE(get(item->getUrl() + "/a.txt"), 0);
    QVERIFY(f.prompt.texts().value(0).contains(QStringLiteral("Nothing is shared: %1 is gone.").arg(gone)));
    // What was stored stays (the listIni rows read it back): it is shared again once it is back.
    quit(window);
}

// A start that fails is reported once; then only the pressed row's server runs, its port changes
// while it runs, and pressed again it stops.
void TestMainWindow::startPortChangeAndStop()
{
    GuiFixture f;
    TestServer::writeFile(f.share() + QStringLiteral("/hello.txt"), "hello from the share");
    f.writeGlobal(true);
    Window window = f.open();
    QTableWidget *table = window->addresses()->currentTable();
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress(QStringLiteral("127.0.0.2")), f.port));
    QVERIFY(!f.startShare(window.get(), 1));
    ServerItem *item = window->addresses()->getServer(1);
    QCOMPARE(f.prompt.asked.size(), 1);
    QVERIFY2(f.prompt.texts().first().startsWith(QStringLiteral("Unable to start the server\n")), qPrintable(f.prompt.texts().first()));
    QVERIFY(f.prompt.texts().first().endsWith(QStringLiteral("\n127.0.0.2:%1").arg(f.port)));
    // The same report while the first is still on screen is not stacked.
    pressCell(table, 1, 2);
    QCOMPARE(f.prompt.asked.size(), 1);
    taken.close();
    pressCell(table, 1, 2);
    QCOMPARE(get(window->addresses()->getServer(0)->getUrl()), 0);
    QVERIFY(window->sharedContentLabel()->isEnabled());
    const QByteArray before = item->getUrl() + "/hello.txt";
    const quint16 next = freePort();
    f.prompt.answers = {QString::number(next)};
    contextAction(window.get(), 1, QStringLiteral("Change port"));
    QCOMPARE(get(item->getUrl() + "/hello.txt"), 200);
    QCOMPARE(get(before), 0);
    QCOMPARE(table->item(1, 0)->text(), QStringLiteral("http://127.0.0.2:%1").arg(next));
    pressCell(table, 1, 2);
    QCOMPARE(get(item->getUrl()), 0);
    QVERIFY(!window->sharedContentLabel()->isEnabled());
    quit(window);
}

void TestMainWindow::profileDialog_data()
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
    const QStringList removed = {"Default", "renamed"};
    const QString d = QStringLiteral("Default");
    const QString e100 = QString(50, QChar(0xe9));
    const QString control = QStringLiteral("A profile name cannot contain control characters.");
    const QString tooLong = QStringLiteral("A profile name has at most 100 bytes.");
    const QString global = QStringLiteral("The global profile is not removable.");
    QTest::newRow("new: no name") << "new" << 0 << "" << "" << noName << before << d;
    QTest::newRow("new: .") << "new" << 0 << "." << "" << "A profile cannot be named \".\" or \"..\"." << before << d;
    QTest::newRow("new: a way out of the folder") << "new" << 0 << "../x" << "" << slash << before << d;
    QTest::newRow("new: a tab") << "new" << 0 << "a\tb" << "" << control << before << d;
    QTest::newRow("new: 101 bytes") << "new" << 0 << e100 + u'x' << "" << tooLong << before << d;
    QTest::newRow("new: the global profile's name") << "new" << 0 << "Default" << "" << taken << before << d;
    QTest::newRow("new: another profile's name") << "new" << 0 << "work" << "" << taken << before << d;
    QTest::newRow("new: the file of a renamed profile")
        << "new" << 0 << "zold" << "" << "The profile folder holds a file of this name already." << before << d;
    QTest::newRow("new: a name") << "new" << 0 << "office" << "" << "" << before + QStringList{"office"} << d;
    QTest::newRow("new: 100 bytes") << "new" << 0 << e100 << "" << "" << before + QStringList{e100} << d;
    // Its file is Global.cnf, not the global profile's Global.conf.
    QTest::newRow("new: Global") << "new" << 0 << "Global" << "" << "" << before + QStringList{"Global"} << d;
    QTest::newRow("new: markup and an ampersand") << "new" << 0 << "R&D <b>" << "" << ""
                                                  << before + QStringList{"R&D <b>"} << d;
    QTest::newRow("rename: a profile") << "rename" << 1 << "office" << "running" << ""
                                       << QStringList{"Default", "office", "renamed"} << "office";
    // Typing over the global profile's entry renames it and chooses it for the row.
    QTest::newRow("rename: the global profile") << "rename" << 0 << "Home" << "running" << ""
                                                << QStringList{"Home", "work", "renamed"} << "Home";
    QTest::newRow("rename: a name with a slash") << "rename" << 1 << "a/b" << "running" << slash << before << "work";
    QTest::newRow("rename: no name") << "rename" << 1 << "" << "running" << noName << before << "work";
    // The box goes to the entry of a name typed in full: the rename is refused all the same, and
    // the row is not moved to that profile.
    QTest::newRow("rename: another profile's name")
        << "rename" << 1 << "Default" << "running" << taken << before << "work";
    QTest::newRow("rename: the global profile under another's name")
        << "rename" << 0 << "work" << "running" << taken << before << "work";
    QTest::newRow("remove: an unused profile") << "remove" << 1 << "" << "" << "" << removed << d;
    QTest::newRow("remove: a profile whose file is gone") << "remove" << 1 << "" << "file gone" << "" << removed << d;
    QTest::newRow("remove: the global profile") << "remove" << 0 << "" << "" << global << before << d;
    QTest::newRow("remove: a profile of a stopped row") << "remove" << 1 << "" << "row" << used << before << "work";
    QTest::newRow("remove: a profile of a running server")
        << "remove" << 1 << "" << "running" << used << before << "work";
    // The row has another profile by then; the upload was accepted with this one.
    QTest::newRow("remove: the profile of an upload still arriving")
        << "remove" << 1 << "" << "upload" << used << before << d;
}

void TestMainWindow::profileDialog()
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
    ServerItem *item = window->addresses()->getServer(0);
    Configuration *work = Configuration::confList.at(1);
    if (use == QLatin1String("file gone"))
        QVERIFY(QFile::remove(work->fileName()));
    else if (!use.isEmpty())
        item->useProfile(work);
    if (use == QLatin1String("running") || use == QLatin1String("upload"))
        pressCell(table, 0, 2);
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
            press(d, QStringLiteral("New profile"));
        } else if (action == QLatin1String("rename")) {
            box->setCurrentIndex(entry);
            type(box->lineEdit(), text);
            // Enter: the box takes the text, the dialog its default button, OK.
            QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        } else {
            box->setCurrentIndex(entry);
            press(d, QStringLiteral("Remove profile"));
        }
        for (int i = 0; i < box->count(); ++i)
            shown.append(box->itemText(i));
        stayedOpen = d->isVisible();
        return stayedOpen ? end(d, QStringLiteral("Close")) : d->result();
    });
    contextAction(window.get(), 0, QStringLiteral("Change Config"));
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
    QStringList held;
    for (const Configuration *p : std::as_const(Configuration::confList))
        held.append(p->profileName);
    QCOMPARE(held, names);
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
        QCOMPARE(get(url), item->webServer->config == work ? 200 : 403);
    quit(window);
    // The next start finds every row on its profile again.
    window = f.open();
    QCOMPARE(window->addresses()->getServer(0)->webServer->config->profileName, bound);
    quit(window);
}

void TestMainWindow::globalSettings_data()
{
    QTest::addColumn<int>("mode");         // the access chosen on the page; -1: the window is closed
    QTest::addColumn<QString>("password"); // typed on the page
    QTest::addColumn<QString>("user");     // added in the user table's dialog
    QTest::addColumn<int>("limitKB");      // typed as the traffic limit instead; 0: none
    QTest::addColumn<bool>("diskFull");    // for the saves
    QTest::addColumn<QString>("said");     // the one message, a regular expression; empty: none
    QTest::addColumn<int>("status");       // of a GET of a file afterwards, without credentials
    const QString notSaved = QStringLiteral("^Settings could not be saved:\n");
    QTest::newRow("password access without a password") << 1 << "" << "" << 0 << false
        << "^Password access needs a password: an empty one lets everyone in.\nNothing was applied.$" << 200;
    QTest::newRow("password access with a password") << 1 << "s3cret" << "" << 0 << false << "" << 403;
    QTest::newRow("Basic access without a user") << 2 << "" << "" << 0 << false
        << "^Basic HTTP access needs at least one user: without one nobody gets in.\nNothing was applied.$" << 200;
    QTest::newRow("Basic access with a user added") << 2 << "" << "anna" << 0 << false << "" << 401;
    // One message, naming each file with the system's reason; the servers keep what was applied.
    QTest::newRow("Apply on a full disk") << 1 << "s3cret" << "" << 0 << true
        << notSaved + "/.+/Global\\.conf: .+\nThe servers keep what was applied until Tessaly ends\\.$" << 403;
    // Nothing half written either: list.ini is replaced whole or not at all.
    QTest::newRow("the exit on a full disk") << -1 << "" << "" << 0 << true
        << notSaved + "/.+/list\\.ini: .+\n/.+/Global\\.conf: .+\nWhat was not saved is lost when Tessaly ends\\.$" << 0;
    // A connection opened before the limit is lowered: the running listener counts it too, and the
    // window stops the server at the limit and says why.
    QTest::newRow("a traffic limit") << 0 << "" << "" << 2 << false << "^Network traffic limit" << 0;
}

// The global settings from the window's menu in expert mode, with the first row serving the share.
void TestMainWindow::globalSettings()
{
    QFETCH(int, mode);
    QFETCH(QString, password);
    QFETCH(QString, user);
    QFETCH(int, limitKB);
    QFETCH(bool, diskFull);
    QFETCH(QString, said);
    QFETCH(int, status);
    GuiFixture f;
    f.writeGlobal(true, [&](Configuration &c) { c.warningMode = CheckState::Off; });
    TestServer::writeFile(f.share() + QStringLiteral("/a.txt"), "contents of a");
    TestServer::writeFile(f.share() + QStringLiteral("/big.bin"), QByteArray(5000, 'b'));
    Window window = f.open();
    ServerItem *item = f.startShare(window.get(), 0);
    QVERIFY(item);
    const QByteArray url = item->getUrl() + "/a.txt";
    HttpClient early;
    QVERIFY(early.connectTo(item->webServer->port));
    QCOMPARE(early.exchange("GET /a.txt HTTP/1.1\r\n\r\n").body, "contents of a");
    // The files of the profile folder, and what the window writes there.
    const auto stored = [] {
        const QString dir = Configuration::ConfigDir;
        return QDir(dir).entryList(QDir::Files).join(u' ').toUtf8() + TestServer::readFile(dir + QStringLiteral("Global.conf"))
            + TestServer::readFile(GuiFixture::listIni());
    };
    const QByteArray before = stored();
    bool refused = false;
    f.prompt.dialogs.append([&](QDialog *d) {
        auto *dialog = qobject_cast<ConfigDialog *>(d);
        dialog->contents()->setCurrentRow(limitKB > 0 ? 4 : 1);
        if (limitKB > 0) {
            auto *box = dialog->findChild<QSpinBox *>(QStringLiteral("dataLimitKB"));
            box->setFocus();
            box->selectAll();
            QTest::keyClicks(box, QString::number(limitKB));
        } else {
            dialog->findChild<QComboBox *>(QStringLiteral("authMode"))->setCurrentIndex(mode);
            type(dialog->findChild<QLineEdit *>(QStringLiteral("password")), password);
        }
        if (!user.isEmpty()) {
            f.prompt.dialogs.append([&](QDialog *u) {
                type(qobject_cast<UserDialog *>(u)->userLine(), user);
                type(qobject_cast<UserDialog *>(u)->passwordLine(), QStringLiteral("pw"));
                return end(u, QStringLiteral("OK"));
            });
            press(dialog, QStringLiteral("Add user"));
        }
        press(dialog, QStringLiteral("Apply"));
        refused = !dialog->applyControl()->isHidden();
        return end(d, QStringLiteral("Close"));
    });
    {
        // A disk full for the saves, or none.
        FileSizeLimit limit(diskFull ? 16 : RLIM_INFINITY);
        if (mode < 0)
            window->close();
        else
            menuAction(window.get(), QStringLiteral("Global Default Settings"))->trigger();
    }
    QCOMPARE(f.prompt.dialogs.size(), mode < 0 ? 1 : 0);
    // Refused, the edit stays in the dialog to be mended; else nothing is left to apply.
    QCOMPARE(refused, said.contains(QLatin1String("Nothing was applied")));
    if (limitKB > 0) {
        QVERIFY(item->webServer->isListening());
        early.send("GET /big.bin HTTP/1.1\r\n\r\n");
        QTRY_VERIFY(!item->webServer->isListening());
        QTRY_VERIFY(!f.prompt.texts().isEmpty());
    }
    QCOMPARE(f.prompt.texts().size(), said.isEmpty() ? 0 : 1);
    if (!said.isEmpty())
        QVERIFY2(QRegularExpression(said).match(f.prompt.texts().first()).hasMatch(), qPrintable(f.prompt.texts().first()));
    Configuration saved;
    QVERIFY(saved.load(Configuration::ConfigDir + QStringLiteral("Global.conf")));
    if (diskFull)
        QCOMPARE(stored(), before);
    else
        QCOMPARE(saved.authMode, said.isEmpty() ? AuthMode(mode) : AuthMode::None);
    QCOMPARE(saved.users, user.isEmpty() || !said.isEmpty() ? QStringList() : QStringList{user + QStringLiteral(":pw")});
    // The running server serves as the settings say.
    if (mode >= 0)
        QCOMPARE(get(url), status);
    if (status == 403)
        QCOMPARE(get(url + "?a=log&password=" + password.toUtf8()), 200);
    window.reset();
}

void TestMainWindow::passwordQuestion_data()
{
    QTest::addColumn<int>("warningMode");
    QTest::addColumn<int>("authMode");
    QTest::addColumn<QByteArray>("dns"); // the provider's answer; null: no dynamic DNS
    QTest::addColumn<bool>("started");
    QTest::addColumn<int>("asked"); // times
    QTest::addColumn<QString>("shown"); // the public line (%1: the port)
    const QByteArray updated = QByteArray(120, '.') + "anna.dyn.example.net has been updated";
    const QString one = QStringLiteral("Public address: http://203.0.113.7:%1");
    QTest::newRow("open share, warnings on") << 2 << 0 << QByteArray() << true << 1 << one;
    QTest::newRow("open share, warnings off") << 0 << 0 << QByteArray() << true << 0 << one;
    QTest::newRow("password, warnings on") << 2 << 1 << QByteArray() << true << 0 << one;
    // Two answers (the check's and the update's), one question.
    QTest::newRow("open share, dynamic DNS on") << 2 << 0 << updated << true << 1
                                                << QStringLiteral("Public addresses: http://anna.dyn.example.net:%1, http://203.0.113.7:%1");
    QTest::newRow("open share, dynamic DNS on, no server runs") << 2 << 0 << updated << false << 0
                                                               << QStringLiteral("http://203.0.113.7:%1");
    // The provider's answer is opened for the user to read.
    QTest::newRow("dynamic DNS update refused") << 0 << 0 << QByteArray(120, '.') + "badauth" << true << 0 << one;
}

void TestMainWindow::passwordQuestion()
{
    QFETCH(int, warningMode);
    QFETCH(int, authMode);
    QFETCH(QByteArray, dns);
    QFETCH(bool, started);
    QFETCH(int, asked);
    QFETCH(QString, shown);
    GuiFixture f;
    f.writeGlobal(true, [&](Configuration &c) {
        // Dynamic DNS with the account "anna".
        c.dnsEnabled = dns.isNull() ? CheckState::Off : CheckState::On;
        c.dnsUser = QStringLiteral("anna");
        c.dnsPassword = QStringLiteral("s3cret");
        c.warningMode = CheckState(warningMode);
        c.authMode = AuthMode(authMode);
        c.password = QStringLiteral("secret");
    });
    f.services.respond = [&](const QByteArray &path) {
        return path.endsWith(DnsPath) ? dns
                                      : R"({"status":"success","message":"Port )" + QByteArray::number(f.port)
                                            + R"( is open on 203.0.113.7."})";
    };
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &f.services, "open");
    Window window = f.open();
    f.prompt.answers = QStringList(8, QStringLiteral("No"));
    const QString question = QStringLiteral("The shared files are accessible for everyone.\nDo you want to set password?");
    const int checks = f.services.requests.count(CheckPath);
    // A server that starts asks by itself only while the machine counts as online: the menu asks.
    if (started)
        pressCell(window->addresses()->currentTable(), 0, 2);
    menuAction(window.get(), QStringLiteral("Reload public addressess"))->trigger();
    const auto inFlight = [&] { return window->addresses()->netRequest.findChildren<QNetworkReply *>().size(); };
    QTRY_VERIFY(f.services.requests.count(CheckPath) > checks && inFlight() == 0);
    const QString line = shown.arg(f.port);
    QTRY_VERIFY2(window->addresses()->publicLine()->text().contains(line), qPrintable(window->addresses()->publicLine()->text()));
    QCOMPARE(f.prompt.texts().count(question), asked);
    // Asked once for the start, whatever answers come later.
    window->addresses()->publicIP(window->addresses()->getServer(0));
    QCOMPARE(f.prompt.texts().count(question), asked);
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QCOMPARE(f.services.opened.isEmpty(), !dns.contains("badauth"));
    quit(window);
}

void TestMainWindow::recentFiles_data()
{
    QTest::addColumn<QStringList>("chosen"); // names of folders in the home folder
    QTest::addColumn<QStringList>("recent"); // the menu's entries: the names, "&" doubled
    QTest::newRow("same path twice") << QStringList{"a", "b", "a"} << QStringList{"a", "b"};
    QTest::newRow("a fifth path drops the oldest") << QStringList{"a", "b", "c", "d", "e"}
                                                   << QStringList{"e", "d", "c", "b"};
    QTest::newRow("a name with &") << QStringList{"a&b"} << QStringList{"a&&b"};
}

void TestMainWindow::recentFiles()
{
    QFETCH(QStringList, chosen);
    QFETCH(QStringList, recent);
    GuiFixture f;
    f.writeGlobal(false);
    Window window = f.open();
    for (const QString &name : chosen) {
        f.prompt.chosenPath = f.home.filePath(name);
        QVERIFY(QDir().mkpath(f.prompt.chosenPath));
        window->browseFolder();
    }
    QStringList expected;
    for (const QString &text : recent)
        expected.append(f.home.filePath(QString(text).replace(QLatin1String("&&"), QLatin1String("&"))));
    QCOMPARE(Configuration::getGlobalConfig()->recentFiles, expected);
    QStringList shown;
    for (QAction *a : window->recentFileActions()) {
        if (a->isVisible())
            shown.append(a->text());
    }
    QCOMPARE(shown, recent);
    quit(window);
    Configuration global;
    QVERIFY(global.load(Configuration::ConfigDir + QStringLiteral("Global.conf")));
    QCOMPARE(global.recentFiles, expected);
}

void TestMainWindow::brokenProfiles()
{
    GuiFixture f;
    f.writeGlobal(true);
    GuiFixture::writeProfile(QStringLiteral("good"), QStringLiteral("good"), [](Configuration &c) { c.port = 9555; });
    TestServer::writeFile(Configuration::ConfigDir + QStringLiteral("broken.cnf"), QByteArray());
    TestServer::writeFile(Configuration::ConfigDir + QStringLiteral("cut.cnf"), QByteArray("\0\0\0\1", 4));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, f.home.path() + QStringLiteral("/.config"));
    Window window = f.open();
    QCOMPARE(Configuration::FirstRun, false);
    QTRY_COMPARE(f.prompt.asked.size(), 1);
    QVERIFY(f.prompt.texts().first().endsWith(QStringLiteral("\nbroken.cnf\ncut.cnf")));
    // Once the window is on the screen, centred on it.
    QVERIFY(f.prompt.asked.first().parentShown);
    // A broken file is a profile of its name at the defaults.
    QCOMPARE(Configuration::confList.size(), 4);
    QCOMPARE(Configuration::confList.at(1)->profileName, QStringLiteral("broken"));
    QCOMPARE(Configuration::confList.at(1)->port, 8080);
    QCOMPARE(Configuration::confList.at(3)->port, 9555);
    // Closing saves as always.
    quit(window);
    QVERIFY(QFileInfo::exists(f.listIni()));
    Configuration global;
    QVERIFY(global.load(Configuration::ConfigDir + QStringLiteral("Global.conf")));
    QVERIFY(global.savedOnExit);
    // Told once: the next start tells only of a file that changed since.
    TestServer::writeFile(Configuration::ConfigDir + QStringLiteral("cut.cnf"), QByteArray("\0\0\0\2\0", 5));
    f.prompt.asked.clear();
    window = f.open();
    QTRY_COMPARE(f.prompt.asked.size(), 1);
    QVERIFY(f.prompt.texts().first().endsWith(QStringLiteral(":\ncut.cnf")));
    quit(window);
}

// The options of the window (those of the headless mode are tested with it).
void TestMainWindow::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display"); // QT_QPA_PLATFORM; "" for none
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");    // on the error output
    const QString usage = QStringLiteral("Usage:");
    const QString noDisplay = QStringLiteral("tessaly --headless");
    QTest::newRow("root and more") << QStringList{"root", "--port", "80"} << QStringLiteral("offscreen") << 2 << usage;
    QTest::newRow("a headless option without --headless") << QStringList{"--share", "/tmp"}
                                                          << QStringLiteral("offscreen") << 2 << usage;
    QTest::newRow("no display") << QStringList() << QString() << 1 << noDisplay;
}

void TestMainWindow::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QTemporaryDir home;
    QProcess program;
    // Nothing of the test's own display.
    QProcessEnvironment env;
    if (!display.isEmpty())
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), display);
    env.insert(QStringLiteral("HOME"), home.path());
    program.setProcessEnvironment(env);
    program.start(TestServer::program(), arguments);
    QVERIFY(program.waitForFinished(20000));
    // Ended, not aborted.
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    const QString output = QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(output.contains(said), qPrintable(output));
    // No window was opened, so nothing was written.
    QVERIFY(!QFileInfo::exists(home.path() + QStringLiteral("/.kestrune/Global.conf")));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
