// The main window: its menus, what is shared and the recent paths, the terms on the first run,
// the profiles read at start-up, root mode, help and about, the labels and the restored look.

#include "guifixture.h"

#include "app/eventhandler.h"
#include "app/messagedialog.h"
#include "app/mobilewebserver.h"
#include "app/slinklabel.h"
#include "app/startup.h"
#include "config/configuration.h"
#include "config/pagestyle.h"
#include "instances/addresslist.h"
#include "instances/serveritem.h"
#include "server/webserver.h"
#include "web/html_element_manager.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QRegularExpression>
#include <QSettings>
#include <QScreen>
#include <QStyle>
#include <QTextBrowser>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QTranslator>
#include <QWindow>

#include <cmath>

using Window = std::unique_ptr<MobileWebServer>;

namespace {

// The contrast of two colours (WCAG 2).
double contrast(const QColor &a, const QColor &b)
{
    const auto luminance = [](const QColor &c) {
        const auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void menus_data();
    void menus();
    void recentFiles_data();
    void recentFiles();
    void recentPathDeleted();
    void sharedPathLabel_data();
    void sharedPathLabel();
    void missingPath();
    void fileFilterShowsFilesWithoutADot();
    void terms_data();
    void terms();
    void brokenProfiles();
    void rootMode_data();
    void rootMode();
    void helpAndAbout_data();
    void helpAndAbout();
    void sharedPathOpensTheBrowser();
    void linkLabel_data();
    void linkLabel();
    void restoredLook_data();
    void restoredLook();
    void commandLine_data();
    void commandLine();

private:
    static QStringList menuTexts(QMenu *menu);
    QTemporaryDir scratch;
};

void TestMainWindow::initTestCase()
{
    auto *builtin = new QTranslator(qApp);
    QVERIFY(builtin->load(QStringLiteral("C"), QStringLiteral(":/res/lang")));
    QCoreApplication::installTranslator(builtin);
}

QStringList TestMainWindow::menuTexts(QMenu *menu)
{
    QStringList texts;
    const QList<QAction *> actions = menu->actions();
    for (QAction *a : actions) {
        if (a->isVisible())
            texts.append(a->text());
    }
    return texts;
}

void TestMainWindow::menus_data()
{
    QTest::addColumn<bool>("expert");
    QTest::addColumn<QStringList>("file");
    QTest::addColumn<QStringList>("settings");
    const QStringList help = {QStringLiteral("Help"), QStringLiteral("About Tessaly"), QStringLiteral("About Qt")};
    QTest::newRow("simple") << false
        << QStringList{"Select Folder", "Select File", "Barcode"}
        << QStringList{"Settings", "Look and Feel", "Expert mode"};
    QTest::newRow("expert") << true
        << QStringList{"Select Folder", "Select File", "Barcode", "Reload public addressess", "Reload local addresses"}
        << QStringList{"Global Default Settings", "Look and Feel", "Expert mode"};
}

void TestMainWindow::menus()
{
    QFETCH(bool, expert);
    QFETCH(QStringList, file);
    QFETCH(QStringList, settings);
    GuiFixture f;
    f.writeGlobal(expert);
    Window window = f.open();
    const QList<QAction *> menus = window->menuBar()->actions();
    QStringList titles;
    for (QAction *a : menus)
        titles.append(a->text());
    QCOMPARE(titles, (QStringList{"File", "Settings", "Help"}));
    QCOMPARE(menuTexts(menus.at(0)->menu()), file);
    QCOMPARE(menuTexts(menus.at(1)->menu()), settings);
    QCOMPARE(menuTexts(menus.at(2)->menu()), (QStringList{"Help", "About Tessaly", "About Qt"}));
    QVERIFY(window->expertModeAction()->isCheckable());
    QCOMPARE(window->expertModeAction()->isChecked(), expert);
    QCOMPARE(window->windowTitle(), QStringLiteral("Tessaly"));
    QCOMPARE(window->sharedContentButton()->text(), QStringLiteral("Shared Content:"));
    // Without recent paths there is no menu to drop down.
    QVERIFY(!window->sharedContentButton()->menu());
    // Its text reads well on the background (WCAG 2, level AA: a contrast of 4.5 at least).
    const QPalette palette = window->sharedContentButton()->palette();
    QVERIFY2(contrast(palette.color(QPalette::ButtonText), palette.color(QPalette::Window)) >= 4.5,
             qPrintable(palette.color(QPalette::ButtonText).name()));
    // The status line is a line of text high before it shows anything.
    QVERIFY(EventHandler::statusWidget->height() >= EventHandler::statusWidget->fontMetrics().height());
    QVERIFY(!QApplication::windowIcon().isNull());
    // Switching without running servers asks nothing.
    window->expertModeAction()->trigger();
    QCOMPARE(window->addresses()->isExpertMode(), !expert);
    QCOMPARE(menuTexts(menus.at(1)->menu()).first(),
             expert ? QStringLiteral("Settings") : QStringLiteral("Global Default Settings"));
    QVERIFY(f.prompt.asked.isEmpty());
    GuiFixture::quit(window);
}

void TestMainWindow::recentFiles_data()
{
    QTest::addColumn<QStringList>("chosen"); // names of folders under a 5-character root
    QTest::addColumn<QStringList>("recent");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("same path twice") << QStringList{"a", "b", "a"} << QStringList{"a", "b"}
                                     << QStringList{"@a", "@b"};
    QTest::newRow("a fifth path drops the oldest") << QStringList{"a", "b", "c", "d", "e"}
                                                   << QStringList{"e", "d", "c", "b"}
                                                   << QStringList{"@e", "@d", "@c", "@b"};
    // The root is 5 characters and "/": 17 characters in all are shown whole, 18 by the name.
    QTest::newRow("17 and 18 characters") << QStringList{"abcdefghijk", "abcdefghijkl"}
                                          << QStringList{"abcdefghijkl", "abcdefghijk"}
                                          << QStringList{"abcdefghijkl", "@abcdefghijk"};
    QTest::newRow("a name with &") << QStringList{"a&b"} << QStringList{"a&b"} << QStringList{"@a&&b"};
}

void TestMainWindow::recentFiles()
{
    QFETCH(QStringList, chosen);
    QFETCH(QStringList, recent);
    QFETCH(QStringList, texts);
    GuiFixture f;
    // A root of exactly five characters ("/tmp/" is taken by the fixture's folder names).
    const QString root = QStringLiteral("/r%1").arg(QCoreApplication::applicationPid() % 1000, 3, 10, QLatin1Char('0'));
    QVERIFY(QDir().mkpath(root));
    const auto cleanup = qScopeGuard([&] { QDir(root).removeRecursively(); });
    for (const QString &name : chosen)
        QVERIFY(QDir().mkpath(root + u'/' + name));
    f.writeGlobal(false);
    Window window = f.open();
    for (const QString &name : chosen) {
        f.prompt.chosenPath = root + u'/' + name;
        window->browseFolder();
    }
    QStringList expected;
    for (const QString &name : recent)
        expected.append(root + u'/' + name);
    QCOMPARE(Configuration::getGlobalConfig()->recentFiles, expected);
    QStringList shown;
    for (QAction *a : window->recentFileActions()) {
        if (a->isVisible())
            shown.append(a->text());
    }
    QStringList expectedTexts;
    for (const QString &t : texts)
        expectedTexts.append(t.startsWith(u'@') ? root + u'/' + t.mid(1) : t);
    QCOMPARE(shown, expectedTexts);
    QCOMPARE(window->sharedContentButton()->menu()->actions().size(), MobileWebServer::RecentFiles);
    GuiFixture::quit(window);
    Configuration global;
    QVERIFY(global.load(f.configDir() + QStringLiteral("Global.conf")));
    QCOMPARE(global.recentFiles, expected);
}

void TestMainWindow::recentPathDeleted()
{
    GuiFixture f;
    const QString kept = f.share() + QStringLiteral("/kept");
    const QString gone = f.share() + QStringLiteral("/gone");
    QVERIFY(QDir().mkpath(kept));
    QVERIFY(QDir().mkpath(gone));
    f.writeGlobal(false);
    Window window = f.open();
    window->fileOrDirSelected(kept);
    window->fileOrDirSelected(gone);
    QVERIFY(QDir(gone).removeRecursively());
    f.prompt.asked.clear();
    window->recentFileActions().first()->trigger();
    QCOMPARE(Configuration::getGlobalConfig()->recentFiles, QStringList{kept});
    QVERIFY(!window->recentFileActions().at(1)->isVisible());
    QVERIFY(f.prompt.asked.isEmpty());
    // The share stays what it was.
    QCOMPARE(window->currentItem()->webServer->root.absoluteFilePath(), gone);
    window->recentFileActions().first()->trigger();
    QCOMPARE(window->currentItem()->webServer->root.absoluteFilePath(), kept);
    GuiFixture::quit(window);
}

void TestMainWindow::sharedPathLabel_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("folder");
    QTest::newRow("plain folder") << QStringLiteral("plain") << true;
    QTest::newRow("folder with <b>") << QStringLiteral("<b>bold</b>") << true;
    QTest::newRow("file with & and quotes") << QStringLiteral("a&amp;b \"c\".txt") << false;
    QTest::newRow("file with <img") << QStringLiteral("<img src=x>") << false;
    // Shortened in its middle to the room there is, whole in the tool tip.
    QTest::newRow("long folder name") << QString(200, u'x') + QStringLiteral("<end>") << true;
}

void TestMainWindow::sharedPathLabel()
{
    QFETCH(QString, name);
    QFETCH(bool, folder);
    GuiFixture f;
    const QString path = f.share() + u'/' + name;
    if (folder)
        QVERIFY(QDir().mkpath(path));
    else
        f.writeFile(path, "x");
    f.writeGlobal(false);
    Window window = f.open();
    window->fileOrDirSelected(path);
    SLinkLabel *label = window->sharedContentLabel();
    const QString whole = folder ? path + u'/' : path;
    QTextDocument shown;
    shown.setHtml(label->text());
    const QString text = shown.toPlainText();
    QCOMPARE(label->toolTip(), whole);
    if (text != whole) {
        QVERIFY2(text.startsWith(whole.left(5)) && text.endsWith(whole.right(5)) && text.contains(QChar(0x2026)),
                 qPrintable(text));
    }
    QCOMPARE(text == whole, whole.size() < 100);
    // The text fits its area, which shows no scroll bar over it.
    QScrollArea *area = label->getScrollArea();
    QVERIFY(label->fontMetrics().horizontalAdvance(text) <= area->viewport()->width());
    QVERIFY(!area->horizontalScrollBar()->isVisible());
    QTest::mouseClick(window->addresses()->startAllButton(), Qt::LeftButton);
    QVERIFY(label->isEnabled());
    QVERIFY(label->text().startsWith(QStringLiteral("<a href=")));
    shown.setHtml(label->text());
    // The link ends in the eye icon.
    QCOMPARE(shown.toPlainText(), text + QChar::ObjectReplacementCharacter);
    QByteArray body;
    const QByteArray url = window->currentItem()->getUrl();
    QCOMPARE(GuiFixture::get(folder ? url + '/' : url, &body), 200);
    if (!folder)
        QCOMPARE(body, QByteArray("x"));
    GuiFixture::quit(window);
}

void TestMainWindow::missingPath()
{
    GuiFixture f;
    f.writeGlobal(false);
    Window window = f.open();
    const QString missing = f.share() + QStringLiteral("/missing");
    f.prompt.chosenPath = missing;
    window->browseFile();
    QCOMPARE(f.prompt.texts(), QStringList{QLatin1Char('"') + missing + QStringLiteral("\" not exists!")});
    QVERIFY(Configuration::getGlobalConfig()->recentFiles.isEmpty());
    GuiFixture::quit(window);
}

void TestMainWindow::fileFilterShowsFilesWithoutADot()
{
    GuiFixture f;
    f.writeFile(f.share() + QStringLiteral("/README"), "r");
    f.writeFile(f.share() + QStringLiteral("/notes.txt"), "n");
    f.writeGlobal(false);
    Window window = f.open();
    window->fileOrDirSelected(f.share());
    window->browseFile();
    QCOMPARE(f.prompt.lastStartDir, f.share());
    const QRegularExpressionMatch patterns = QRegularExpression(QStringLiteral("\\(([^)]*)\\)")).match(f.prompt.lastFilter);
    QVERIFY(patterns.hasMatch());
    const QStringList listed = QDir(f.share()).entryList(patterns.captured(1).split(u' '), QDir::Files, QDir::Name);
    QCOMPARE(listed, (QStringList{"README", "notes.txt"}));
    GuiFixture::quit(window);
}

void TestMainWindow::terms_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("I accept") << QStringLiteral("I accept") << true;
    QTest::newRow("I do not") << QStringLiteral("I do not") << false;
    QTest::newRow("closed without an answer") << QString() << false;
}

void TestMainWindow::terms()
{
    QFETCH(QString, answer);
    QFETCH(bool, accepted);
    GuiFixture f;
    // Other programs' thumbnails in the home folder, and a leftover of Tessaly's own.
    f.writeFile(f.home.path() + QStringLiteral("/.thumbnails/normal/other.png"), "not ours");
    f.writeFile(f.configDir() + QStringLiteral("tmp/leftover"), "ours");
    if (!answer.isEmpty())
        f.prompt.answers = {answer};
    Window window = f.open();
    QCOMPARE(f.prompt.asked.first().title, QStringLiteral("Terms and conditions"));
    QCOMPARE(f.prompt.asked.first().buttons, (QStringList{"I accept", "I do not"}));
    QVERIFY(f.prompt.asked.first().informative.contains(QStringLiteral("No warranty")));
    // A dialog, not the whole screen: before the window shows, in the middle of the screen.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect terms = f.prompt.asked.first().geometry;
    QVERIFY(screen.contains(terms) && terms != screen);
    QVERIFY((terms.center() - screen.center()).manhattanLength() <= 2);
    QVERIFY(QFileInfo::exists(f.home.path() + QStringLiteral("/.thumbnails/normal/other.png")));
    QVERIFY(!QFileInfo::exists(f.configDir() + QStringLiteral("tmp/leftover")));
    QCOMPARE(window->isVisible(), accepted);
    QCOMPARE(Configuration::FirstRun, !accepted);
    if (accepted) {
        GuiFixture::quit(window);
        QVERIFY(QFileInfo::exists(f.configDir() + QStringLiteral("Global.conf")));
        return;
    }
    // Nothing is shown, and the program ends by itself.
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(99); });
    QCOMPARE(QCoreApplication::exec(), 0);
    window.reset();
    QVERIFY(!QFileInfo::exists(f.configDir() + QStringLiteral("Global.conf")));
    QVERIFY(!QFileInfo::exists(f.listIni()));
}

void TestMainWindow::brokenProfiles()
{
    GuiFixture f;
    f.writeGlobal(true);
    Configuration good;
    good.setFileName(QStringLiteral("good"));
    good.profileName = QStringLiteral("good");
    good.port = 9555;
    QVERIFY(good.save());
    f.writeFile(f.configDir() + QStringLiteral("broken.cnf"), QByteArray());
    f.writeFile(f.configDir() + QStringLiteral("cut.cnf"), QByteArray("\0\0\0\1", 4));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, f.home.path() + QStringLiteral("/.config"));
    Window window = f.open();
    QCOMPARE(Configuration::FirstRun, false);
    QTRY_COMPARE(f.prompt.asked.size(), 1);
    QVERIFY(f.prompt.texts().first().endsWith(QStringLiteral("\nbroken.cnf\ncut.cnf")));
    // Once the window is on the screen, centred on it.
    QVERIFY(f.prompt.asked.first().parentShown);
    QStringList names;
    for (const Configuration *p : std::as_const(Configuration::confList))
        names.append(p->profileName);
    QCOMPARE(names, (QStringList{"Default", "broken", "cut", "good"}));
    QCOMPARE(Configuration::confList.at(1)->port, 8080);
    QCOMPARE(Configuration::confList.at(3)->port, 9555);
    // Closing saves as always.
    GuiFixture::quit(window);
    QVERIFY(QFileInfo::exists(f.listIni()));
    Configuration global;
    QVERIFY(global.load(f.configDir() + QStringLiteral("Global.conf")));
    QVERIFY(global.savedOnExit);
    // Told once: the next start tells only of a file that changed since.
    f.writeFile(f.configDir() + QStringLiteral("cut.cnf"), QByteArray("\0\0\0\2\0", 5));
    f.prompt.asked.clear();
    window = f.open();
    QTRY_COMPARE(f.prompt.asked.size(), 1);
    QVERIFY(f.prompt.texts().first().endsWith(QStringLiteral(":\ncut.cnf")));
    GuiFixture::quit(window);
    f.prompt.asked.clear();
    window = f.open();
    QTRY_VERIFY(window->windowHandle()->isExposed());
    QTest::qWait(100);
    QVERIFY(f.prompt.asked.isEmpty());
    GuiFixture::quit(window);
}

void TestMainWindow::rootMode_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<int>("warningMode");
    QTest::addColumn<bool>("root");
    QTest::addColumn<bool>("warned");
    QTest::newRow("root") << QStringLiteral("root") << 2 << true << true;
    QTest::newRow("root, warnings off") << QStringLiteral("root") << 0 << true << false;
    QTest::newRow("ROOT") << QStringLiteral("ROOT") << 2 << false << false;
    QTest::newRow("--root") << QStringLiteral("--root") << 2 << false << false;
    QTest::newRow("root with a blank") << QStringLiteral("root ") << 2 << false << false;
    QTest::newRow("no argument") << QString() << 2 << false << false;
}

void TestMainWindow::rootMode()
{
    QFETCH(QString, argument);
    QFETCH(int, warningMode);
    QFETCH(bool, root);
    QFETCH(bool, warned);
    GuiFixture f;
    f.writeGlobal(false, [&](Configuration &c) { c.warningMode = CheckState(warningMode); });
    Window window = f.open(argument);
    QCOMPARE(Configuration::RootMode, root);
    QTRY_VERIFY(window->windowHandle()->isExposed());
    QTRY_COMPARE(f.prompt.asked.size(), warned ? 1 : 0);
    QTest::qWait(50);
    QCOMPARE(f.prompt.asked.size(), warned ? 1 : 0);
    if (warned) {
        // Once the window is on the screen, centred on it.
        QVERIFY(f.prompt.asked.first().parentShown);
        QCOMPARE(f.prompt.asked.first().title, QStringLiteral("The server run as root!"));
        QCOMPARE(f.prompt.asked.first().text, QStringLiteral("Use this mode only if you want to use port 1 - 1024!"));
    }
    QCOMPARE(ServerItem::isUsablePort(80), root);
    window.reset();
}

void TestMainWindow::helpAndAbout_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("pages");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("contains");
    QTest::newRow("help") << QStringLiteral("Help") << true << QStringLiteral("Help") << QStringLiteral("Sharing a folder");
    QTest::newRow("help without pages") << QStringLiteral("Help") << false << QStringLiteral("Help")
                                        << QStringLiteral("Can't read file: /nowhere/help/index.html");
    QTest::newRow("about") << QStringLiteral("About Tessaly") << true << QStringLiteral("About Tessaly")
                           << QStringLiteral("Version: 2.5.3<br>Free software without any warranty");
}

void TestMainWindow::helpAndAbout()
{
    QFETCH(QString, action);
    QFETCH(bool, pages);
    QFETCH(QString, title);
    QFETCH(QString, contains);
    GuiFixture f;
    f.writeGlobal(false);
    Window window = f.open();
    const QRect screen = window->screen()->availableGeometry();
    QRect placed = window->frameGeometry();
    placed.moveCenter(screen.center());
    window->move(placed.topLeft());
    if (!pages)
        Configuration::LangPath = QStringLiteral("/nowhere/");
    QAction *help = window->menuBar()->actions().at(2)->menu()->actions().at(action == QLatin1String("Help") ? 0 : 1);
    help->trigger();
    QCOMPARE(f.prompt.asked.size(), 1);
    QCOMPARE(f.prompt.asked.first().title, title);
    const QString shown = f.prompt.asked.first().text + f.prompt.asked.first().informative;
    QVERIFY2(shown.contains(contains), qPrintable(shown));
    if (action == QLatin1String("Help")) {
        // A dialog of its own: a close button, resizable, the text scrolling; centred on the
        // window, as large as its text up to most of the screen.
        auto *dialog = qobject_cast<TextDialog *>(f.prompt.shown.value(0).data());
        QVERIFY(dialog);
        QCOMPARE(f.prompt.asked.first().buttons, QStringList{"Close"});
        QVERIFY(!dialog->isModal());
        QVERIFY(dialog->minimumSize() != dialog->maximumSize());
        QVERIFY(dialog->view()->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff);
        QVERIFY((dialog->geometry().center() - window->frameGeometry().center()).manhattanLength() <= 2);
        QVERIFY(dialog->width() <= screen.width() * 0.85 && dialog->height() <= screen.height() * 0.85);
        const QTextDocument *text = dialog->view()->document();
        // The long page takes most of the height; the short one no more than it needs.
        if (pages)
            QVERIFY(dialog->height() > screen.height() * 0.6);
        else
            QVERIFY(dialog->height() < text->size().height() + 150);
    }
    window.reset();
}

void TestMainWindow::sharedPathOpensTheBrowser()
{
    GuiFixture f;
    f.writeGlobal(true);
    Window window = f.open();
    Browser browser;
    window->addresses()->currentTable()->setCurrentCell(1, 1);
    window->fileOrDirSelected(f.share());
    emit window->sharedContentLabel()->linkActivated(QStringLiteral("ignored"));
    QCOMPARE(browser.opened, QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.2:%1").arg(f.port))});
    window.reset();
}

void TestMainWindow::linkLabel_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("link");
    QTest::newRow("without an image") << QString() << QStringLiteral("<a href=\"target\">text</a>");
    QTest::newRow("with an image") << QStringLiteral("view.png")
        << QStringLiteral("<a href=\"target\">text<img width=\"24\" height=\"24\" src=\":/icons/view.png\"></a>");
}

void TestMainWindow::linkLabel()
{
    QFETCH(QString, image);
    QFETCH(QString, link);
    auto *created = new SLinkLabel;
    // The scroll area owns the label.
    std::unique_ptr<QScrollArea> area(created->getScrollArea());
    SLinkLabel &label = *created;
    if (!image.isEmpty())
        label.setImage(image);
    label.setLinkText(QStringLiteral("text"), QStringLiteral("target"));
    QCOMPARE(label.text(), link);
    label.off();
    QCOMPARE(label.text(), QStringLiteral("text"));
    QVERIFY(!label.isEnabled());
    label.on();
    QCOMPARE(label.text(), link);
    QCOMPARE(label.cursor().shape(), Qt::PointingHandCursor);
}

void TestMainWindow::restoredLook_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("base");
    QTest::addColumn<bool>("applied");
    QTest::newRow("nothing stored") << QString() << 0 << QString() << false;
    QTest::newRow("a font size without a style") << QString() << 17 << QString() << false;
    QTest::newRow("the start-up style") << QStringLiteral("@") << 17 << QStringLiteral("#102030") << true;
    QTest::newRow("Windows") << QStringLiteral("Windows") << 15 << QStringLiteral("#405060") << true;
}

void TestMainWindow::restoredLook()
{
    QFETCH(QString, style);
    QFETCH(int, size);
    QFETCH(QString, base);
    QFETCH(bool, applied);
    QCoreApplication::setOrganizationName(QStringLiteral("Tessaly"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, scratch.path() + u'/' + QTest::currentDataTag());
    const QString startStyle = QApplication::style()->objectName();
    const QFont startFont = QApplication::font();
    const QPalette startPalette = QApplication::palette();
    const QString name = style == QLatin1String("@") ? startStyle : style;
    {
        QSettings settings;
        if (!name.isEmpty())
            settings.setValue(QStringLiteral("style"), name);
        if (size)
            settings.setValue(QStringLiteral("Fsize"), size);
        if (!base.isEmpty())
            settings.setValue(name + QStringLiteral("/Cbase"), QColor(base));
    }
    Startup::restoreLook();
    QCOMPARE(PageStyle::DefaultStyle, startStyle);
    if (applied) {
        QCOMPARE(QApplication::style()->objectName().toLower(), name.toLower());
        QCOMPARE(QApplication::font().pointSize(), size);
        QCOMPARE(QApplication::palette().color(QPalette::Inactive, QPalette::Base), QColor(base));
    } else {
        QCOMPARE(QApplication::style()->objectName(), startStyle);
        QCOMPARE(QApplication::font(), startFont);
    }
    QApplication::setStyle(startStyle);
    QApplication::setFont(startFont);
    QApplication::setPalette(startPalette);
}

void TestMainWindow::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display"); // QT_QPA_PLATFORM, DISPLAY; "" for none
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");    // on the error output, or the output with exit code 0
    const QString usage = QStringLiteral("Usage:");
    const QString noDisplay = QStringLiteral("tessaly --headless");
    QTest::newRow("--help") << QStringList{"--help"} << QString() << 0 << usage;
    QTest::newRow("an unknown option") << QStringList{"--bogus"} << QStringLiteral("offscreen") << 2 << usage;
    QTest::newRow("an unknown word") << QStringList{"rot"} << QStringLiteral("offscreen") << 2 << usage;
    QTest::newRow("root and more") << QStringList{"root", "--port", "80"} << QStringLiteral("offscreen") << 2 << usage;
    QTest::newRow("a headless option without --headless") << QStringList{"--share", "/tmp"}
                                                          << QStringLiteral("offscreen") << 2 << usage;
    QTest::newRow("no display") << QStringList() << QString() << 1 << noDisplay;
    QTest::newRow("root, no display") << QStringList{"root"} << QString() << 1 << noDisplay;
    QTest::newRow("a display that cannot be opened") << QStringList() << QStringLiteral(":") << 1 << noDisplay;
}

void TestMainWindow::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QTemporaryDir home;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    if (display == QLatin1String("offscreen"))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), display);
    else if (!display.isEmpty())
        env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("HOME"), home.path());
    program.setProcessEnvironment(env);
    program.start(GuiFixture::buildDir() + QStringLiteral("/tessaly"), arguments);
    QVERIFY(program.waitForFinished(20000));
    // Ended, not aborted.
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    const QString output = QString::fromLocal8Bit(exitCode == 0 ? program.readAllStandardOutput()
                                                                : program.readAllStandardError());
    QVERIFY2(output.contains(said), qPrintable(output));
    // No window was opened, so nothing was written.
    QVERIFY(!QFileInfo::exists(home.path() + QStringLiteral("/.kestrune/Global.conf")));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
