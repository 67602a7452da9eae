#include "guifixture.h"

#include "config/pageddialog.h"
#include "httpclient.h"
#include "instances/addresslist.h"
#include "instances/netrequest.h"
#include "instances/serveritem.h"
#include "widgets/inputdialog.h"
#include "widgets/messagedialog.h"
#include "server/webserver.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTest>
#include <QWindow>

namespace {

QString withoutMnemonic(QString text)
{
    return text.remove(u'&');
}

ScriptedPrompt::Asked describe(QWidget *window)
{
    ScriptedPrompt::Asked a;
    const QWidget *owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    a.parentShown = owner && owner->windowHandle() && owner->windowHandle()->isExposed();
    if (auto *text = qobject_cast<TextDialog *>(window))
        a.text = text->text();
    else if (auto *box = qobject_cast<QMessageBox *>(window))
        a.text = box->text();
    else if (auto *input = qobject_cast<InputDialog *>(window))
        a.text = input->labelText();
    return a;
}

} // namespace

int ScriptedPrompt::exec(QDialog *dialog)
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
        if (dialog->isVisible()) {
            qWarning("%s was left open", dialog->metaObject()->className());
            dialog->reject();
        }
        return result;
    }
    asked.append(describe(dialog));
    const bool answered = !answers.isEmpty();
    const QString answer = answered ? answers.takeFirst() : QString();
    if (input) {
        input->setText(answer);
        answered ? input->accept() : input->reject();
        return input->result();
    }
    QAbstractButton *pressed = answered ? nullptr : box->defaultButton();
    for (QAbstractButton *b : box->buttons()) {
        if (answered && withoutMnemonic(b->text()) == answer)
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

int ScriptedPrompt::end(QDialog *dialog, const QString &button)
{
    GuiFixture::press(dialog, button);
    return dialog->result();
}

void ScriptedPrompt::show(QWidget *window, Presentation)
{
    window->setAttribute(Qt::WA_DeleteOnClose);
    asked.append(describe(window));
}

QStringList ScriptedPrompt::texts() const
{
    QStringList list;
    for (const Asked &a : asked)
        list.append(a.text);
    return list;
}

GuiFixture::GuiFixture()
    : port(freePort())
{
    oldHome = qgetenv("HOME");
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

GuiFixture::~GuiFixture()
{
    NetRequest::setTimeout(NetRequest::DefaultTimeout);
    Prompt::install(nullptr);
    AddressSource::install(nullptr);
    qputenv("HOME", oldHome);
}

void GuiFixture::writeGlobal(bool expert, const std::function<void(Configuration &)> &edit)
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

void GuiFixture::quit(std::unique_ptr<MobileWebServer> &window)
{
    window->close();
    window.reset();
}

ServerItem *GuiFixture::startShare(MobileWebServer *window, int row) const
{
    window->addresses()->currentTable()->setCurrentCell(row, 1);
    window->fileOrDirSelected(share());
    pressCell(window->addresses()->currentTable(), row, 2);
    ServerItem *item = items(window).value(row);
    return item && item->webServer->isListening() ? item : nullptr;
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
    for (QAction *a : window->menuBar()->findChildren<QAction *>()) {
        // Not the menu's own entry in the menu bar.
        if (a->text() == text && !a->menu())
            return a;
    }
    return nullptr;
}

void GuiFixture::contextAction(MobileWebServer *window, int row, const QString &text)
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

QList<ServerItem *> GuiFixture::items(MobileWebServer *window)
{
    QList<ServerItem *> list;
    for (int row = 0; row < window->addresses()->getServerCount(); ++row)
        list.append(window->addresses()->getServer(row));
    return list;
}

void GuiFixture::press(QWidget *window, const QString &text)
{
    for (QAbstractButton *b : window->findChildren<QAbstractButton *>()) {
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
    const QByteArray path = target.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority);
    HttpClient client;
    client.socket.connectToHost(target.host(), quint16(target.port(80)));
    HttpClient::waitUntil([&] { return client.isConnected() || client.isClosed(); });
    if (!client.isConnected())
        return 0;
    const HttpReply reply = client.exchange("GET " + (path.isEmpty() ? "/" : path) + " HTTP/1.1\r\nHost: "
                                            + target.host().toLatin1() + "\r\nConnection: close\r\n\r\n");
    if (body)
        *body = reply.body;
    return reply.code;
}

FakeService::FakeService()
{
    respond = [](const QByteArray &) { return QByteArray("ok"); };
    listener.listen(QHostAddress::LocalHost, 0);
    connect(&listener, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = listener.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                // One request a connection: its head, then the answer and the close.
                QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
                socket->setProperty("buffer", buffer);
                if (!buffer.contains("\r\n\r\n"))
                    return;
                const QByteArray target = buffer.left(buffer.indexOf('\n')).split(' ').value(1);
                requests.append(target.left(target.indexOf('?')));
                const QByteArray answer = respond(requests.last());
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: "
                              + QByteArray::number(answer.size()) + "\r\nConnection: close\r\n\r\n" + answer);
                socket->disconnectFromHost();
            });
        }
    });
}
