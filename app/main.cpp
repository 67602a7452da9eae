#include "app/headless.h"
#include "app/mobilewebserver.h"
#include "app/startup.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdlib>

namespace {

constexpr char NoDisplay[] =
    "tessaly: no display to open the window on.\n"
    "Run the server without a window: tessaly --headless (tessaly --help lists its options).";

QtMessageHandler previousHandler = nullptr;

void openingDisplay(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (previousHandler)
        previousHandler(type, context, message);
    else
        QTextStream(stderr) << message << Qt::endl;
    if (type == QtFatalMsg) {
        QTextStream(stderr) << NoDisplay << Qt::endl;
        std::_Exit(1);
    }
}

// Whether a window system can be asked for: a platform named for Qt, or an X11 or Wayland
// display.
bool hasDisplay(const QStringList &arguments)
{
    for (const char *variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        if (!qEnvironmentVariableIsEmpty(variable))
            return true;
    }
    return arguments.contains(QLatin1String("-platform")) || arguments.contains(QLatin1String("--platform"));
}

} // namespace

int main(int argc, char *argv[])
{
    // Before any settings store is opened: it is named after them.
    QCoreApplication::setOrganizationName(QStringLiteral("Tessaly"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));

    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        QTextStream(stdout) << Headless::usage();
        return 0;
    }
    if (arguments.contains(QLatin1String("--headless"))) {
        // Without a window nothing needs GLib's main loop; the plain Unix dispatcher costs less
        // per event.
        if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
            qputenv("QT_NO_GLIB", "1");
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationVersion(QLatin1String(Startup::Version));
        Startup::prepare(app);
        Headless server;
        const int failed = server.start(arguments);
        if (failed >= 0)
            return failed;
        return app.exec();
    }

    if (!hasDisplay(arguments)) {
        QTextStream(stderr) << NoDisplay << Qt::endl;
        return 1;
    }
    // The name of the installed desktop entry (packaging/), by which desktops match the window
    // to its menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kestrune.tessaly"));
    // A display that is named but cannot be opened ends the program in the application's
    // constructor; it then says so instead of aborting.
    previousHandler = qInstallMessageHandler(openingDisplay);
    QApplication app(argc, argv);
    qInstallMessageHandler(previousHandler);
    // Qt has taken its own options (-style, -platform, ...); the window takes "root" alone.
    const QStringList rest = QCoreApplication::arguments().mid(1);
    const int known = rest.value(0) == QLatin1String("root") ? 1 : 0;
    if (rest.size() > known) {
        QTextStream(stderr) << "tessaly: unknown argument " << rest.at(known) << "\n\n" << Headless::usage();
        return 2;
    }
    QCoreApplication::setApplicationVersion(QLatin1String(Startup::Version));
    Startup::restoreLook();
    Startup::prepare(app);
    MobileWebServer window(arguments.value(1));
    return app.exec();
}
