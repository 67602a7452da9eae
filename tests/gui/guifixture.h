#ifndef GUIFIXTURE_H
#define GUIFIXTURE_H

#include "fakeservice.h"
#include "instances/fixedaddresses.h"
#include "widgets/prompt.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <memory>

class Configuration;
class MobileWebServer;
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
        QString text;        // a message box's text, an input dialog's label
        QString informative; // a box's informative text, an input dialog's prefilled value
        bool parentShown = false; // the window it belongs to was on the screen
    };

    int exec(QDialog *dialog) override;
    void show(QWidget *window, Presentation how) override;
    QString existingDirectory(QWidget *parent, const QString &caption, const QString &dir) override;
    QString openFileName(QWidget *parent, const QString &caption, const QString &dir,
                         const QString &filter) override;
    QColor color(QWidget *parent, const QColor &initial) override;

    QStringList texts() const;
    // Ends a shown dialog as a person does: `how` is the text of one of its buttons, "Esc", or
    // "title bar" (the window's close button). Returns the dialog's result.
    static int end(QDialog *dialog, const QString &how);

    // Consumed in order: the text of the button to press, the text to type, or the entry of a
    // list to click. A box without an answer gets its default button; any other dialog without
    // one is cancelled.
    QStringList answers;
    // Consumed in order by the other dialogs, which are shown first: each drives its dialog
    // through the widgets, ends it and returns what exec() would. Without one a dialog is
    // rejected.
    QList<std::function<int(QDialog *)>> dialogs;
    QString chosenPath;
    QList<Asked> asked;

private:
    static Asked describe(QWidget *window);
};

// Makes `folder` read-only for this process while it lives, for root as well (the process
// drops its power to override file permissions meanwhile).
class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QString &folder);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder &) = delete;
    ReadOnlyFolder &operator=(const ReadOnlyFolder &) = delete;

private:
    QString path;
    quint32 savedEffective[2] = {};
};

// A temporary home folder (HOME and the profile folder in it), the scripted prompt, two
// loopback addresses and a fake service on loopback for the open-port check and the dynamic DNS
// (QR codes are made here), installed for the life of the fixture.
class GuiFixture
{
public:
    GuiFixture();
    ~GuiFixture();

    // Writes the global profile, so that the window starts without the terms (unless `firstRun`).
    void writeGlobal(bool expert, const std::function<void(Configuration &)> &edit = {});
    // Writes the profile `name` into the file `file` + ".cnf" (cloned in expert mode, as the
    // profile dialog makes them).
    static void writeProfile(const QString &file, const QString &name,
                             const std::function<void(Configuration &)> &edit = {});
    std::unique_ptr<MobileWebServer> open(const QString &argument = QString());
    // Accepts the window's close and destroys it, as the end of the program does.
    static void quit(std::unique_ptr<MobileWebServer> &window);

    QString configDir() const;
    QString listIni() const { return configDir() + QStringLiteral("list.ini"); }
    QString share() const { return home.path() + QStringLiteral("/share"); }
    void writeFile(const QString &path, const QByteArray &bytes) const;

    static quint16 freePort();
    static QString buildDir();
    // Presses a cell with the mouse, as a person does.
    static void pressCell(QTableWidget *table, int row, int column);
    // The action of the window's menus with this text, or nullptr.
    static QAction *menuAction(MobileWebServer *window, const QString &text);
    // Chooses an entry of a row's context menu (on its "Config" cell).
    static void contextAction(MobileWebServer *window, int row, const QString &text);
    static QList<ServerItem *> items(MobileWebServer *window);
    // Requests of the window's lookups that have not ended yet.
    static int lookupsInFlight(MobileWebServer *window);
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
