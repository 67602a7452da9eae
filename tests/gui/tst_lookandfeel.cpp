// The look and feel dialog from the window's menu, driven through its widgets: styles tried and
// undone however the dialog is closed, styles this platform lacks, colours and the font size
// tried on their pages and applied, the page remembered, and the start restoring what was
// applied.

#include "guifixture.h"

#include "app/eventhandler.h"
#include "app/mobilewebserver.h"
#include "app/startup.h"
#include "config/guiconfig.h"
#include "config/pagefont.h"
#include "config/pagepalette.h"
#include "config/pagestyle.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QTest>

using Window = std::unique_ptr<MobileWebServer>;
using Drive = std::function<void(GUIconfig *)>;

namespace {

const QColor Chosen(0x12, 0x34, 0x56);

void chooseStyle(GUIconfig *dialog, const QString &name)
{
    GuiFixture::showPage(dialog, 0);
    QComboBox *box = dialog->stylePage()->styleBox();
    const int index = box->findText(name);
    QVERIFY(index >= 0);
    // From the list that drops down, as a person picks it.
    box->showPopup();
    QAbstractItemView *list = box->view();
    QTRY_VERIFY(list->isVisible());
    const QPoint at = list->visualRect(list->model()->index(index, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTRY_VERIFY(!list->isVisible());
}

bool applyEnabled(const GUIconfig *dialog)
{
    return dialog->applyControl()->isEnabled();
}

// The colours the dialog sets, in every colour group.
bool sameColours(const QPalette &a, const QPalette &b)
{
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (QPalette::ColorRole role : {QPalette::Base, QPalette::Window, QPalette::Text, QPalette::ButtonText,
                                         QPalette::Button}) {
            if (a.color(group, role) != b.color(group, role))
                return false;
        }
    }
    return true;
}

QString runningStyle()
{
    return QApplication::style()->objectName();
}

// The first control of `window` that is not wholly in sight (outside the window, or under the
// edge of a scrolled area) or smaller than it needs to be, by its class and text; empty when
// there is none. A window is also too narrow for a title it cannot show.
QString clipped(QWidget *window)
{
    QFont bold = window->font();
    bold.setBold(true);
    if (window->width() < QFontMetrics(bold).horizontalAdvance(window->windowTitle()))
        return QStringLiteral("the title ") + window->windowTitle();
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *w : widgets) {
        const bool control = qobject_cast<QAbstractButton *>(w) || qobject_cast<QLabel *>(w)
            || qobject_cast<QLineEdit *>(w) || qobject_cast<QComboBox *>(w) || qobject_cast<QAbstractSpinBox *>(w);
        // The parts of a compound control are its own business.
        const QWidget *parent = w->parentWidget();
        const bool part = qobject_cast<const QComboBox *>(parent) || qobject_cast<const QAbstractSpinBox *>(parent);
        if (!control || part || !w->isVisible())
            continue;
        QRect room = window->rect();
        for (QWidget *up = w->parentWidget(); up && up != window; up = up->parentWidget()) {
            if (qobject_cast<QAbstractScrollArea *>(up->parentWidget()))
                room &= QRect(up->mapTo(window, QPoint()), up->size());
        }
        const QRect at(w->mapTo(window, QPoint()), w->size());
        const QSize needed = w->minimumSizeHint();
        const bool fitted = w->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored
            || (w->width() >= needed.width() && w->height() >= needed.height());
        if (!room.contains(at) || !fitted) {
            const auto *button = qobject_cast<QAbstractButton *>(w);
            const auto *label = qobject_cast<QLabel *>(w);
            return QString::fromLatin1(w->metaObject()->className()) + u' '
                + (button ? button->text() : label ? label->text() : w->objectName());
        }
    }
    return QString();
}

} // namespace

class TestLookAndFeel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void style_data();
    void style();
    void colours_data();
    void colours();
    void fontSize_data();
    void fontSize();
    void lastPage_data();
    void lastPage();
    void appliedLookIsRestoredAtStart();
    void layoutsFollowTheFont_data();
    void layoutsFollowTheFont();

private:
    void open(const Drive &drive, const QString &how);

    QTemporaryDir scratch;
    std::unique_ptr<GuiFixture> f;
    Window window;
    QString startStyle;
    QPalette startPalette;
    QFont startFont;
};

void TestLookAndFeel::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tessaly"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));
    startStyle = runningStyle();
    startPalette = QApplication::palette();
    startFont = QApplication::font();
    PageStyle::DefaultStyle = startStyle;
}

void TestLookAndFeel::init()
{
    // A settings store of its own for every case.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       scratch.path() + u'/' + QString::fromLatin1(QTest::currentTestFunction()) + u'-'
                           + QString::fromLatin1(QTest::currentDataTag()));
    f = std::make_unique<GuiFixture>();
    f->writeGlobal(false);
    window = f->open();
}

void TestLookAndFeel::cleanup()
{
    GuiFixture::quit(window);
    f.reset();
    QApplication::setStyle(startStyle);
    QApplication::setPalette(startPalette);
    QApplication::setFont(startFont);
}

void TestLookAndFeel::open(const Drive &drive, const QString &how)
{
    f->prompt.dialogs.append([drive, how](QDialog *d) {
        auto *dialog = qobject_cast<GUIconfig *>(d);
        if (!dialog) {
            d->reject();
            return int(QDialog::Rejected);
        }
        drive(dialog);
        return ScriptedPrompt::end(dialog, how);
    });
    GuiFixture::menuAction(window.get(), QStringLiteral("Look and Feel"))->trigger();
    QVERIFY2(f->prompt.dialogs.isEmpty(), "the look and feel dialog did not open");
}

void TestLookAndFeel::style_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("available");
    for (const char *how : {"Cancel", "Esc", "title bar"})
        QTest::addRow("windows, %s", how) << QStringLiteral("windows") << false << QString::fromLatin1(how) << true;
    QTest::newRow("windows, applied") << QStringLiteral("windows") << true << QStringLiteral("Cancel") << true;
    for (const char *name : {"plastique", "cleanlooks", "motif", "cde"})
        QTest::addRow("%s", name) << QString::fromLatin1(name) << false << QStringLiteral("Cancel") << false;
}

void TestLookAndFeel::style()
{
    QFETCH(QString, name);
    QFETCH(bool, applied);
    QFETCH(QString, how);
    QFETCH(bool, available);
    const QPalette before = QApplication::palette();
    QStringList offered;
    bool enabled = false;
    QString shown;
    QString during;
    bool previewPalette = false;
    open([&](GUIconfig *dialog) {
        QComboBox *box = dialog->stylePage()->styleBox();
        for (int i = 0; i < box->count(); ++i)
            offered.append(box->itemText(i));
        QCOMPARE(box->currentText(), startStyle);
        chooseStyle(dialog, name);
        during = runningStyle();
        shown = box->currentText();
        enabled = applyEnabled(dialog);
        previewPalette = sameColours(QApplication::palette(), QApplication::style()->standardPalette());
        if (applied) {
            GuiFixture::press(dialog, QStringLiteral("Apply"));
            QVERIFY(!applyEnabled(dialog));
        }
    }, how);
    QCOMPARE(offered, (QStringList{startStyle, "plastique", "cleanlooks", "windows", "motif", "cde"}));
    QCOMPARE(during, available ? name : startStyle);
    QCOMPARE(shown, available ? name : startStyle);
    QCOMPARE(enabled, available);
    QSettings settings;
    if (!available) {
        QCOMPARE(f->prompt.texts(), QStringList{name + QStringLiteral(" style not available on this system.")});
        QCOMPARE(runningStyle(), startStyle);
        QVERIFY(!settings.contains(QStringLiteral("style")));
        return;
    }
    QVERIFY(previewPalette);
    QVERIFY(f->prompt.texts().isEmpty());
    // What was not applied is undone, however the dialog was closed.
    QCOMPARE(runningStyle(), applied ? name : startStyle);
    QCOMPARE(settings.value(QStringLiteral("style")).toString(), applied ? name : QString());
    if (!applied)
        QVERIFY(QApplication::palette() == before);
}

void TestLookAndFeel::colours_data()
{
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QString>("style"); // empty: the platform's own
    QTest::addColumn<bool>("applied");
    QTest::newRow("background, cancelled") << QStringLiteral("background") << QString() << false;
    QTest::newRow("text, applied with the windows style") << QStringLiteral("text") << QStringLiteral("windows") << true;
    QTest::newRow("button, applied with the windows style") << QStringLiteral("button") << QStringLiteral("windows") << true;
    QTest::newRow("background, applied with the platform's style") << QStringLiteral("background") << QString() << true;
}

void TestLookAndFeel::colours()
{
    QFETCH(QString, sample);
    QFETCH(QString, style);
    QFETCH(bool, applied);
    const QMap<QString, std::pair<QPalette::ColorRole, QList<QPalette::ColorRole>>> samples{
        {QStringLiteral("background"), {QPalette::Base, {QPalette::Base, QPalette::Window}}},
        {QStringLiteral("text"), {QPalette::Text, {QPalette::Text, QPalette::ButtonText}}},
        {QStringLiteral("button"), {QPalette::Button, {QPalette::Button}}},
    };
    const auto picked = samples.value(sample);
    const QPalette::ColorRole from = picked.first;
    const QList<QPalette::ColorRole> &roles = picked.second;
    const QString used = style.isEmpty() ? startStyle : style;
    QPalette appBefore;
    QColor start;
    QPalette tried;
    bool enabled = false;
    f->prompt.colors = {Chosen};
    open([&](GUIconfig *dialog) {
        if (!style.isEmpty())
            chooseStyle(dialog, style);
        appBefore = QApplication::palette();
        GuiFixture::showPage(dialog, 1);
        start = dialog->palettePage()->workingPalette().color(from);
        QTest::mouseClick(dialog->palettePage()->findChild<QPushButton *>(sample), Qt::LeftButton);
        tried = dialog->palettePage()->workingPalette();
        enabled = applyEnabled(dialog);
        // Tried on the page only.
        QVERIFY(QApplication::palette() == appBefore);
        if (applied)
            GuiFixture::press(dialog, QStringLiteral("Apply"));
    }, QStringLiteral("Cancel"));
    QCOMPARE(f->prompt.colorStarts, QList<QColor>{start});
    for (QPalette::ColorRole role : roles) {
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            QCOMPARE(tried.color(group, role), Chosen);
    }
    QVERIFY(enabled);
    // The warning about the platform's own style comes with its colour page.
    QCOMPARE(f->prompt.texts(), style.isEmpty() ? QStringList{QStringLiteral("Color settings not working with ")
                                                               + startStyle + QStringLiteral(" style.")}
                                                : QStringList());
    QSettings settings;
    settings.beginGroup(used);
    if (!applied) {
        QVERIFY(settings.childKeys().isEmpty());
        QVERIFY(QApplication::palette() == appBefore);
        return;
    }
    const QMap<QPalette::ColorRole, QString> keys{{QPalette::Base, "Cbase"}, {QPalette::Window, "Cwbase"},
                                                   {QPalette::Text, "Ctext"}, {QPalette::ButtonText, "Cbtext"},
                                                   {QPalette::Button, "Cbutton"}};
    for (auto it = keys.begin(); it != keys.end(); ++it)
        QCOMPARE(settings.value(it.value()).value<QColor>(), tried.color(it.key()));
    if (style.isEmpty()) {
        // The platform's own style shows its own colours.
        QVERIFY(sameColours(QApplication::palette(), QApplication::style()->standardPalette()));
    } else {
        for (QPalette::ColorRole role : roles)
            QCOMPARE(QApplication::palette().color(role), Chosen);
    }
}

void TestLookAndFeel::fontSize_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("applied");
    QTest::newRow("Cancel") << QStringLiteral("Cancel") << false;
    QTest::newRow("Esc") << QStringLiteral("Esc") << false;
    QTest::newRow("Apply") << QStringLiteral("Cancel") << true;
}

void TestLookAndFeel::fontSize()
{
    QFETCH(QString, how);
    QFETCH(bool, applied);
    const int before = QApplication::font().pointSize();
    const int size = before == 17 ? 18 : 17;
    int shown = 0;
    bool enabled = false;
    int during = 0;
    open([&](GUIconfig *dialog) {
        GuiFixture::showPage(dialog, 2);
        QSpinBox *box = dialog->fontPage()->sizeBox();
        QCOMPARE(box->value(), before);
        QCOMPARE(box->minimum(), 3);
        QCOMPARE(box->maximum(), 24);
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, QString::number(size));
        shown = dialog->fontPage()->font().pointSize();
        during = QApplication::font().pointSize();
        enabled = applyEnabled(dialog);
        // The page grows with the size it shows, and so does the dialog.
        QTRY_COMPARE(clipped(dialog), QString());
        if (applied) {
            GuiFixture::press(dialog, QStringLiteral("Apply"));
            QTRY_COMPARE(clipped(dialog), QString());
        }
    }, how);
    QCOMPARE(shown, size);
    QCOMPARE(during, before);
    QVERIFY(enabled);
    QCOMPARE(QApplication::font().pointSize(), applied ? size : before);
    QSettings settings;
    QCOMPARE(settings.value(QStringLiteral("Fsize")).toInt(), applied ? size : 0);
}

void TestLookAndFeel::lastPage_data()
{
    QTest::addColumn<int>("stored"); // -1: none
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("closedOn");
    QTest::newRow("nothing stored") << -1 << 2 << 0;
    QTest::newRow("the style page") << 0 << 0 << 2;
    QTest::newRow("a page that does not exist") << 7 << 2 << 0;
}

void TestLookAndFeel::lastPage()
{
    QFETCH(int, stored);
    QFETCH(int, shown);
    QFETCH(int, closedOn);
    if (stored >= 0)
        QSettings().setValue(QStringLiteral("lastP"), stored);
    int page = -1;
    open([&](GUIconfig *dialog) {
        page = dialog->pages()->currentIndex();
        QCOMPARE(dialog->contents()->currentRow(), page);
        GuiFixture::showPage(dialog, closedOn);
    }, QStringLiteral("title bar"));
    QCOMPARE(page, shown);
    QCOMPARE(QSettings().value(QStringLiteral("lastP")).toInt(), closedOn);
    open([&](GUIconfig *dialog) { page = dialog->pages()->currentIndex(); }, QStringLiteral("Esc"));
    QCOMPARE(page, closedOn);
}

void TestLookAndFeel::appliedLookIsRestoredAtStart()
{
    f->prompt.colors = {Chosen};
    open([&](GUIconfig *dialog) {
        chooseStyle(dialog, QStringLiteral("windows"));
        GuiFixture::showPage(dialog, 1);
        QTest::mouseClick(dialog->palettePage()->findChild<QPushButton *>(QStringLiteral("button")), Qt::LeftButton);
        GuiFixture::showPage(dialog, 2);
        QSpinBox *box = dialog->fontPage()->sizeBox();
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("19"));
        GuiFixture::press(dialog, QStringLiteral("Apply"));
    }, QStringLiteral("Cancel"));
    // As the next start finds things.
    QApplication::setStyle(startStyle);
    QApplication::setPalette(startPalette);
    QApplication::setFont(startFont);
    Startup::restoreLook();
    QCOMPARE(runningStyle(), QStringLiteral("windows"));
    QCOMPARE(QApplication::palette().color(QPalette::Button), Chosen);
    QCOMPARE(QApplication::font().pointSize(), 19);
    PageStyle::DefaultStyle = startStyle;
}

void TestLookAndFeel::layoutsFollowTheFont_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("shown"); // the window, or the menu entry that opens a dialog
    for (const int size : {8, 12, 16}) {
        for (const char *shown : {"the window", "Settings", "Look and Feel", "Change Config", "Barcode", "Help"})
            QTest::addRow("%s at %d points", shown, size) << size << QString::fromLatin1(shown);
    }
}

void TestLookAndFeel::layoutsFollowTheFont()
{
    QFETCH(int, size);
    QFETCH(QString, shown);
    // As the look and feel applies it, with the window open.
    QFont font = QApplication::font();
    font.setPointSize(size);
    QApplication::setFont(font);
    if (shown == QLatin1String("the window")) {
        QTRY_COMPARE(clipped(window.get()), QString());
        // The status line is a line of text high before it shows anything.
        QTRY_VERIFY(EventHandler::statusWidget->height() >= EventHandler::statusWidget->fontMetrics().height());
        return;
    }
    QString found = QStringLiteral("no dialog");
    if (shown != QLatin1String("Help")) {
        f->prompt.dialogs.append([&](QDialog *dialog) {
            (void)QTest::qWaitFor([&] { return (found = clipped(dialog)).isEmpty(); });
            dialog->reject();
            return int(QDialog::Rejected);
        });
    }
    if (shown == QLatin1String("Change Config")) {
        window->expertModeAction()->trigger();
        GuiFixture::contextAction(window.get(), 0, shown);
    } else {
        GuiFixture::menuAction(window.get(), shown)->trigger();
    }
    if (shown == QLatin1String("Help")) {
        // Shown without waiting for it to be closed.
        QWidget *help = f->prompt.shown.value(0);
        QVERIFY(help);
        help->show();
        (void)QTest::qWaitFor([&] { return (found = clipped(help)).isEmpty(); });
        help->close();
    }
    QCOMPARE(found, QString());
}

QTEST_MAIN(TestLookAndFeel)
#include "tst_lookandfeel.moc"
