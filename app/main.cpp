#include "app/headless.h"
#include "app/mobilewebserver.h"
#include "app/startup.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

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

    // The name of the installed desktop entry (packaging/), by which desktops match the window
    // to its menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kestrune.tessaly"));
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QLatin1String(Startup::Version));
    Startup::restoreLook();
    Startup::prepare(app);
    MobileWebServer window(arguments.value(1));
    return app.exec();
}
