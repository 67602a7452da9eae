#ifndef GUIFIXTURE_H
#define GUIFIXTURE_H

#include "testserver.h"

#include "app/mobilewebserver.h"
#include "config/configuration.h"
#include "instances/fixedaddresses.h"
#include "widgets/prompt.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <memory>

class PagedDialog;
class QAction;
class QLineEdit;
class QTableWidget;
class ServerItem;

// Answers the application's questions from a script and records what was asked.
class ScriptedPrompt : public Prompt
{
public:
    struct Asked
    {
        QString text;             // a message box's text, an input dialog's label
        bool parentShown = false; // the window it belongs to was on the screen
    };

    int exec(QDialog *dialog) override;
    void show(QWidget *window, Presentation how) override;
    QString existingDirectory(QWidget *, const QString &, const QString &) override { return chosenPath; }

    QStringList texts() const;
    // Ends a shown dialog with the button of that text, as a person does; returns its result.
    static int end(QDialog *dialog, const QString &button);

    // Consumed in order by message boxes (the text of the button to press; the default button
    // without one) and input dialogs (the text to type; cancelled without one).
    QStringList answers;
    // Consumed in order by the other dialogs: each drives its dialog through the widgets, ends it
    // and returns what exec() would. Without one a dialog is rejected.
    QList<std::function<int(QDialog *)>> dialogs;
    QString chosenPath;
    QList<Asked> asked;
};

// Stands in for an outside web service on 127.0.0.1: records the path of every request and
// answers each with 200 and the body `respond` gives for its path.
class FakeService : public QObject
{
    Q_OBJECT

public:
    FakeService();
    // "http://127.0.0.1:PORT"
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(listener.serverPort()); }

    std::function<QByteArray(const QByteArray &path)> respond;
    QList<QByteArray> requests;
    QList<QUrl> opened; // by the desktop, when a test hands it the web addresses to open

public slots:
    void open(const QUrl &url) { opened.append(url); }

private:
    QTcpServer listener;
};

// A temporary home folder (HOME and the profile folder in it), the scripted prompt, two
// loopback addresses and a fake service on loopback for the open-port check and the dynamic DNS
// (QR codes are made here), installed for the life of the fixture.
class GuiFixture
{
public:
    GuiFixture();
    ~GuiFixture();

    // Writes the global profile, so that the window starts without the terms.
    void writeGlobal(bool expert, const std::function<void(Configuration &)> &edit = {});
    // Writes the profile `name` into the file `file` + ".cnf" (in expert mode, as the profile
    // dialog makes them).
    static void writeProfile(const QString &file, const QString &name,
                             const std::function<void(Configuration &)> &edit = {});
    static std::unique_ptr<MobileWebServer> open() { return std::make_unique<MobileWebServer>(QString()); }
    // Accepts the window's close and destroys it, as the end of the program does.
    static void quit(std::unique_ptr<MobileWebServer> &window);
    // Chooses the share for `row` and starts it from its status cell: its server item, or
    // nullptr when it does not listen.
    ServerItem *startShare(MobileWebServer *window, int row) const;

    static QString listIni() { return Configuration::ConfigDir + QStringLiteral("list.ini"); }
    QString share() const { return home.path() + QStringLiteral("/share"); }

    static quint16 freePort();
    // Presses a cell with the mouse, as a person does.
    static void pressCell(QTableWidget *table, int row, int column);
    // The action of the window's menus with this text, or nullptr.
    static QAction *menuAction(MobileWebServer *window, const QString &text);
    // Chooses an entry of a row's context menu (on its "Config" cell).
    static void contextAction(MobileWebServer *window, int row, const QString &text);
    static QList<ServerItem *> items(MobileWebServer *window);
    // Clicks the icon of page `row` in a dialog's page column.
    static void showPage(PagedDialog *dialog, int row);
    // Clicks the shown button of that text (without its mnemonic) in `window`.
    static void press(QWidget *window, const QString &text);
    // Replaces the text of `edit` as typed.
    static void type(QLineEdit *edit, const QString &text);
    // A GET of `url` (with its query) over a real connection: the status code, 0 when nothing
    // answered.
    static int get(const QByteArray &url, QByteArray *body = nullptr);

    QTemporaryDir home;
    ScriptedPrompt prompt;
    FixedAddresses addresses;
    FakeService services;
    quint16 port;
    QByteArray oldHome;
};

#endif
