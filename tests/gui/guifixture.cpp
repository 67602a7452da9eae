#include "guifixture.h"

#include "app/mobilewebserver.h"
#include "config/configuration.h"
#include "config/pageddialog.h"
#include "httpclient.h"
#include "instances/addresslist.h"
#include "instances/netrequest.h"
#include "instances/serveritem.h"
#include "widgets/inputdialog.h"
#include "widgets/messagedialog.h"

#include <QAbstractButton>
#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkReply>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>
#include <QWindow>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

QString withoutMnemonic(QString text)
{
    return text.remove(u'&');
}

} // namespace

ScriptedPrompt::Asked ScriptedPrompt::describe(QWidget *window)
{
    Asked a;
    const QWidget *owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    a.parentShown = owner && owner->windowHandle() && owner->windowHandle()->isExposed();
    if (auto *text = qobject_cast<TextDialog *>(window)) {
        a.informative = text->text();
    } else if (auto *box = qobject_cast<QMessageBox *>(window)) {
        a.text = box->text();
        a.informative = box->informativeText();
    } else if (auto *input = qobject_cast<InputDialog *>(window)) {
        a.text = input->labelText();
        a.informative = input->getText();
    } else {
        QStringList labels;
        for (const QLabel *label : window->findChildren<QLabel *>())
            labels.append(label->text());
        a.text = labels.join(u'\n');
    }
    return a;
}

int ScriptedPrompt::exec(QDialog *dialog)
{
    if (qobject_cast<QMessageBox *>(dialog) || qobject_cast<InputDialog *>(dialog))
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
    if (auto *input = qobject_cast<InputDialog *>(dialog)) {
        if (!answered) {
            input->reject();
            return QDialog::Rejected;
        }
        input->setText(answer);
        input->accept();
        return QDialog::Accepted;
    }
    if (!dialogs.isEmpty()) {
        if (answered)
            answers.prepend(answer);
        const std::function<int(QDialog *)> drive = dialogs.takeFirst();
        dialog->show();
        const int result = drive(dialog);
        if (dialog->isVisible()) {
            qWarning("%s was left open", dialog->metaObject()->className());
            dialog->reject();
        }
        return result;
    }
    // Without a driver a dialog is answered by a button or a list entry of that text.
    asked.append(describe(dialog));
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
        // Not meant for this dialog: it stays for the next question.
        answers.prepend(answer);
    }
    dialog->reject();
    return QDialog::Rejected;
}

int ScriptedPrompt::end(QDialog *dialog, const QString &how)
{
    if (how == QLatin1String("Esc")) {
        QTest::keyClick(dialog, Qt::Key_Escape);
    } else if (how == QLatin1String("title bar")) {
        dialog->close();
    } else {
        GuiFixture::press(dialog, how);
    }
    return dialog->result();
}

QColor ScriptedPrompt::color(QWidget *, const QColor &)
{
    return QColor();
}

void ScriptedPrompt::show(QWidget *window, Presentation)
{
    window->setAttribute(Qt::WA_DeleteOnClose);
    asked.append(describe(window));
}

QString ScriptedPrompt::existingDirectory(QWidget *, const QString &, const QString &)
{
    return chosenPath;
}

QString ScriptedPrompt::openFileName(QWidget *, const QString &, const QString &, const QString &)
{
    return chosenPath;
}

QStringList ScriptedPrompt::texts() const
{
    QStringList list;
    for (const Asked &a : asked)
        list.append(a.text);
    return list;
}

ReadOnlyFolder::ReadOnlyFolder(const QString &folder)
    : path(folder)
{
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return;
    savedEffective[0] = data[0].effective;
    savedEffective[1] = data[1].effective;
    for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        data[0].effective &= ~(1u << cap);
    ::syscall(SYS_capset, &header, data);
}

ReadOnlyFolder::~ReadOnlyFolder()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) == 0) {
        data[0].effective = savedEffective[0];
        data[1].effective = savedEffective[1];
        ::syscall(SYS_capset, &header, data);
    }
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
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
    qputenv("TESSALY_PORTCHECK_URL", services.base().toUtf8());
    qputenv("TESSALY_DDNS_URL", services.base().toUtf8());
    qputenv("TESSALY_DDNS_DOMAIN", "dyn.example.net");
    qputenv("TESSALY_QR_URL", "");
}

GuiFixture::~GuiFixture()
{
    NetRequest::setTimeout(NetRequest::DefaultTimeout);
    Prompt::install(nullptr);
    AddressSource::install(nullptr);
    qputenv("HOME", oldHome);
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

void GuiFixture::writeProfile(const QString &file, const QString &name,
                              const std::function<void(Configuration &)> &edit)
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
        // Not the menu's own entry in the menu bar.
        if (a->text() == text && !a->menu())
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

void GuiFixture::press(QWidget *window, const QString &text)
{
    const QList<QAbstractButton *> buttons = window->findChildren<QAbstractButton *>();
    for (QAbstractButton *b : buttons) {
        if (withoutMnemonic(b->text()) == text && b->isVisible()) {
            QTest::mouseClick(b, Qt::LeftButton);
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no button %1").arg(text)));
}

void GuiFixture::type(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

void GuiFixture::showPage(PagedDialog *dialog, int row)
{
    QListWidget *list = dialog->contents();
    QListWidgetItem *entry = list->item(row);
    QVERIFY(entry);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(entry).center());
    QCOMPARE(list->currentRow(), row);
}

int GuiFixture::get(const QByteArray &url, QByteArray *body)
{
    const QUrl target = QUrl::fromEncoded(url);
    QTcpSocket socket;
    socket.connectToHost(target.host(), quint16(target.port(80)));
    if (!HttpClient::waitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState
                                            || socket.state() == QAbstractSocket::UnconnectedState; })
        || socket.state() != QAbstractSocket::ConnectedState)
        return 0;
    QByteArray path = target.path(QUrl::FullyEncoded).isEmpty() ? "/" : target.path(QUrl::FullyEncoded).toLatin1();
    if (target.hasQuery())
        path += '?' + target.query(QUrl::FullyEncoded).toLatin1();
    socket.write("GET " + path + " HTTP/1.1\r\nHost: " + target.host().toLatin1() + "\r\nConnection: close\r\n\r\n");
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
