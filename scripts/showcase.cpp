// Opens the window as a person would leave it after sharing a folder and starting a server, for
// the screenshots of the README (scripts/screenshots.sh runs it under Xvfb):
//     tessaly_showcase simple|expert|qr|settings|look|help|profiles FOLDER
// "qr" starts the first row's server alone and shows the QR code of its URL (File → Barcode).
// "settings" opens the global settings on the server page over the expert window, "look" the
// look and feel dialog on its style page, "help" the help page, "profiles" the profile dialog of
// the first row. HOME should be an empty folder: the program writes its
// profile there. When the window (or the dialog) is ready, it prints "ready WIDTHxHEIGHT+X+Y"
// and runs until it is ended. The internet lookups are switched off unless their services are
// named in the environment.

#include "app/mobilewebserver.h"
#include "app/startup.h"
#include "config/configuration.h"
#include "config/profiledialog.h"
#include "instances/addresslist.h"
#include "instances/fixedaddresses.h"
#include "instances/serveritem.h"
#include "server/webserver.h"

#include <QApplication>
#include <QDialog>
#include <QNetworkAddressEntry>
#include <QSettings>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tessaly"));
    QCoreApplication::setApplicationName(QStringLiteral("Tessaly"));
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        QTextStream(stderr) << "usage: tessaly_showcase simple|expert|qr|settings|look|help|profiles FOLDER\n";
        return 2;
    }
    const QString mode = args.at(1);
    const bool qr = mode == QLatin1String("qr");
    const bool expert = mode != QLatin1String("simple");
    for (const char *service : {"TESSALY_PORTCHECK_URL", "TESSALY_DDNS_URL", "TESSALY_QR_URL"}) {
        if (!qEnvironmentVariableIsSet(service))
            qputenv(service, "");
    }
    // The window shows the loopback address: the visit below then stays on this machine.
    FixedAddresses loopback({QStringLiteral("127.0.0.1")});
    AddressSource::install(&loopback);
    Startup::restoreLook();
    Startup::prepare(app);

    Configuration global;
    global.load(Configuration::ConfigDir + QStringLiteral("Global.conf"));
    global.expertMode = expert;
    global.profileName = QStringLiteral("Default");
    global.save();

    MobileWebServer window{QString()};
    AddressList *addresses = window.addresses();
    if (addresses->getServerCount() == 0) {
        QTextStream(stderr) << "no network address to show\n";
        return 1;
    }
    window.fileOrDirSelected(args.at(2));
    if (expert)
        QTest::mouseClick(addresses->currentTable()->viewport(), Qt::LeftButton, {},
                          addresses->currentTable()->visualItemRect(addresses->currentTable()->item(0, 2)).center());
    else
        QTest::mouseClick(addresses->startAllButton(), Qt::LeftButton);

    // One visit, so that the status line has something to tell.
    ServerItem *item = addresses->getServer(0);
    auto *visit = new QTcpSocket(&app);
    QObject::connect(visit, &QTcpSocket::connected, visit, [visit] {
        visit->write("GET / HTTP/1.1\r\nHost: showcase\r\nConnection: close\r\n\r\n");
    });
    QObject::connect(visit, &QTcpSocket::readyRead, visit, [visit] { visit->readAll(); });
    visit->connectToHost(item->webServer->address->ip(), item->webServer->port);

    if (qr)
        QTimer::singleShot(2000, &window, [&window] { window.showBarcode(); });
    QTimer::singleShot(3000, &window, [&window] {
        // The dialog when one is open, else the window.
        const QWidget *shown = QApplication::activeModalWidget();
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (!shown && w != &window && w->isVisible() && qobject_cast<QDialog *>(w))
                shown = w;
        }
        const QRect frame = shown ? shown->frameGeometry() : window.frameGeometry();
        QTextStream(stdout) << "ready " << frame.width() << 'x' << frame.height() << '+' << frame.x() << '+'
                            << frame.y() << Qt::endl;
    });
    if (mode == QLatin1String("settings")) {
        QTimer::singleShot(1000, &window, [&window, addresses] {
            window.openSettings(Configuration::getGlobalConfig(), addresses, 2);
        });
    } else if (mode == QLatin1String("look")) {
        QSettings().setValue(QStringLiteral("lastP"), 0);
        QTimer::singleShot(1000, &window, &MobileWebServer::guiConf);
    } else if (mode == QLatin1String("help")) {
        QTimer::singleShot(1000, &window, &MobileWebServer::help);
    } else if (mode == QLatin1String("profiles")) {
        QTimer::singleShot(1000, &window, [&window, addresses] {
            ProfileDialog dialog(addresses->getServer(0), &window);
            dialog.run();
        });
    }
    return app.exec();
}
