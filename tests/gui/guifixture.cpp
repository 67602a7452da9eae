#include "guifixture.h"

#include "app/mobilewebserver.h"
#include "config/configuration.h"
#include "httpclient.h"
#include "instances/addresslist.h"
#include "instances/netrequest.h"
#include "instances/serveritem.h"

#include <QAbstractButton>
#include <QAction>
#include <QPushButton>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QNetworkReply>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

namespace {

QString withoutMnemonic(QString text)
{
    return text.remove(u'&');
}

} // namespace

ScriptedPrompt::Asked ScriptedPrompt::describe(QWidget *window)
{
    Asked a;
    a.title = window->windowTitle();
    if (auto *box = qobject_cast<QMessageBox *>(window)) {
        a.text = box->text();
        a.informative = box->informativeText();
        const QList<QAbstractButton *> buttons = box->buttons();
        for (QAbstractButton *b : buttons)
            a.buttons.append(withoutMnemonic(b->text()));
    } else if (auto *input = qobject_cast<QInputDialog *>(window)) {
        a.text = input->labelText();
        a.informative = input->textValue();
    } else {
        QStringList labels;
        for (const QLabel *label : window->findChildren<QLabel *>())
            labels.append(label->text());
        a.text = labels.join(u'\n');
        for (const QAbstractButton *b : window->findChildren<QAbstractButton *>())
            a.buttons.append(withoutMnemonic(b->text()));
        for (const QListWidget *list : window->findChildren<QListWidget *>()) {
            for (int i = 0; i < list->count(); ++i)
                a.entries.append(list->item(i)->text());
        }
    }
    return a;
}

int ScriptedPrompt::exec(QDialog *dialog)
{
    asked.append(describe(dialog));
    const bool answered = !answers.isEmpty();
    const QString answer = answered ? answers.takeFirst() : QString();
    if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
        QAbstractButton *pressed = box->defaultButton();
        if (answered) {
            pressed = nullptr;
            const QList<QAbstractButton *> buttons = box->buttons();
            for (QAbstractButton *b : buttons) {
                if (withoutMnemonic(b->text()) == answer)
                    pressed = b;
            }
            if (!pressed)
                qWarning("no button %s in the box", qPrintable(answer));
        }
        if (!pressed) {
            dialog->reject();
            return QDialog::Rejected;
        }
        pressed->click();
        const QMessageBox::StandardButton standard = box->standardButton(pressed);
        return standard != QMessageBox::NoButton ? int(standard) : dialog->result();
    }
    if (auto *input = qobject_cast<QInputDialog *>(dialog)) {
        if (!answered) {
            input->reject();
            return QDialog::Rejected;
        }
        input->setTextValue(answer);
        input->accept();
        return QDialog::Accepted;
    }
    if (answered) {
        for (QAbstractButton *b : dialog->findChildren<QAbstractButton *>()) {
            if (withoutMnemonic(b->text()) == answer) {
                b->click();
                return dialog->result();
            }
        }
        for (QListWidget *list : dialog->findChildren<QListWidget *>()) {
            const QList<QListWidgetItem *> found = list->findItems(answer, Qt::MatchExactly);
            if (!found.isEmpty()) {
                emit list->itemClicked(found.first());
                return dialog->result();
            }
        }
        qWarning("nothing named %s in the dialog", qPrintable(answer));
    }
    dialog->reject();
    return QDialog::Rejected;
}

void ScriptedPrompt::show(QWidget *window, Presentation)
{
    window->setAttribute(Qt::WA_DeleteOnClose);
    asked.append(describe(window));
    shown.append(window);
}

QString ScriptedPrompt::existingDirectory(QWidget *, const QString &, const QString &dir)
{
    lastStartDir = dir;
    return chosenPath;
}

QString ScriptedPrompt::openFileName(QWidget *, const QString &, const QString &dir, const QString &filter)
{
    lastStartDir = dir;
    lastFilter = filter;
    return chosenPath;
}

QStringList ScriptedPrompt::texts() const
{
    QStringList list;
    for (const Asked &a : asked)
        list.append(a.text);
    return list;
}

Browser::Browser(const QString &scheme)
    : scheme(scheme)
{
    QDesktopServices::setUrlHandler(scheme, this, "open");
}

Browser::~Browser()
{
    QDesktopServices::unsetUrlHandler(scheme);
}

void FixedAddresses::set(const QStringList &ips)
{
    list.clear();
    for (const QString &ip : ips) {
        QNetworkAddressEntry entry;
        entry.setIp(QHostAddress(ip));
        entry.setPrefixLength(8);
        entry.setBroadcast(QHostAddress(QStringLiteral("127.255.255.255")));
        list.append(entry);
    }
}

GuiFixture::GuiFixture()
    : port(freePort())
{
    oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toLocal8Bit());
    Configuration::setDirectories(home.path(), buildDir(), QStringLiteral("C"));
    Configuration::FirstRun = false;
    Configuration::RootMode = false;
    QDir(home.path()).mkpath(QStringLiteral("share"));
    addresses.set({QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2")});
    Prompt::install(&prompt);
    AddressSource::install(&addresses);
    // Nothing goes to the internet: the lookups ask the fake, QR codes are made here.
    setService("TESSALY_PORTCHECK_URL", services.base());
    setService("TESSALY_DDNS_URL", services.base());
    setService("TESSALY_DDNS_DOMAIN", QStringLiteral("dyn.example.net"));
    setService("TESSALY_QR_URL", QStringLiteral(""));
}

GuiFixture::~GuiFixture()
{
    NetRequest::setTimeout(NetRequest::DefaultTimeout);
    Prompt::install(nullptr);
    AddressSource::install(nullptr);
    qputenv("HOME", oldHome);
    for (auto it = oldServices.cbegin(); it != oldServices.cend(); ++it) {
        if (it.value().isNull())
            qunsetenv(it.key().constData());
        else
            qputenv(it.key().constData(), it.value());
    }
}

void GuiFixture::setService(const char *variable, const QString &base)
{
    if (!oldServices.contains(variable))
        oldServices.insert(variable, qEnvironmentVariableIsSet(variable) ? qgetenv(variable) : QByteArray());
    if (base.isNull())
        qunsetenv(variable);
    else
        qputenv(variable, base.toUtf8());
}

QString GuiFixture::configDir() const
{
    return Configuration::ConfigDir;
}

QString GuiFixture::buildDir()
{
    const QByteArray dir = qgetenv("TESSALY_BUILD_DIR");
    return dir.isEmpty() ? QStringLiteral(".") : QString::fromLocal8Bit(dir);
}

void GuiFixture::writeGlobal(bool expert, const std::function<void(Configuration &)> &edit)
{
    Configuration global;
    global.load(configDir() + QStringLiteral("Global.conf"));
    Configuration::FirstRun = false;
    global.expertMode = expert;
    global.port = port;
    global.profileName = QStringLiteral("Default");
    if (edit)
        edit(global);
    if (!global.save())
        qFatal("cannot write the global profile");
}

std::unique_ptr<MobileWebServer> GuiFixture::open(const QString &argument)
{
    return std::make_unique<MobileWebServer>(argument);
}

void GuiFixture::quit(std::unique_ptr<MobileWebServer> &window)
{
    window->close();
    window.reset();
}

void GuiFixture::writeFile(const QString &path, const QByteArray &bytes) const
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

quint16 GuiFixture::freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void GuiFixture::pressCell(QTableWidget *table, int row, int column)
{
    QTableWidgetItem *cell = table->item(row, column);
    QVERIFY(cell);
    const QPoint centre = table->visualItemRect(cell).center();
    QTest::mousePress(table->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseRelease(table->viewport(), Qt::LeftButton, {}, centre);
}

QAction *GuiFixture::menuAction(MobileWebServer *window, const QString &text)
{
    const QList<QAction *> actions = window->menuBar()->findChildren<QAction *>();
    for (QAction *a : actions) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

void GuiFixture::contextAction(MobileWebServer *window, int row, const QString &text)
{
    QTableWidget *table = window->addresses()->currentTable();
    pressCell(table, row, 1);
    QMenu *menu = window->addresses()->contextMenu();
    QTRY_VERIFY(menu->isVisible());
    const QList<QAction *> actions = menu->actions();
    for (QAction *a : actions) {
        if (a->text() == text) {
            menu->hide();
            a->trigger();
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no entry %1 in the context menu").arg(text)));
}

QList<ServerItem *> GuiFixture::items(MobileWebServer *window)
{
    QList<ServerItem *> list;
    AddressList *addresses = window->addresses();
    for (int row = 0; row < addresses->getServerCount(); ++row)
        list.append(addresses->getServer(row));
    return list;
}

int GuiFixture::lookupsInFlight(MobileWebServer *window)
{
    return int(window->addresses()->netRequest.findChildren<QNetworkReply *>().size());
}

int GuiFixture::request(const QByteArray &method, const QByteArray &url, const QByteArray &headers, QByteArray *body)
{
    const QUrl target = QUrl::fromEncoded(url);
    QTcpSocket socket;
    socket.connectToHost(target.host(), quint16(target.port(80)));
    if (!HttpClient::waitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState
                                            || socket.state() == QAbstractSocket::UnconnectedState; })
        || socket.state() != QAbstractSocket::ConnectedState)
        return 0;
    const QByteArray path = target.path(QUrl::FullyEncoded).isEmpty() ? "/" : target.path(QUrl::FullyEncoded).toLatin1();
    socket.write(method + ' ' + path + " HTTP/1.1\r\nHost: " + target.host().toLatin1() + "\r\n" + headers
                 + "Connection: close\r\n\r\n");
    QByteArray received;
    HttpReply reply;
    const bool answered = HttpClient::waitUntil([&] {
        received += socket.readAll();
        return reply.takeFrom(received) || socket.state() == QAbstractSocket::UnconnectedState;
    });
    if (!answered || reply.code == 0)
        return 0;
    if (body)
        *body = reply.body;
    return reply.code;
}
