// Opens the window as a person would leave it after sharing a folder and starting a server, for
// the screenshots of the README (scripts/screenshots.sh runs it under Xvfb):
//     tessaly_showcase simple|expert FOLDER
// HOME should be an empty folder: the program writes its profile there. When the window is
// ready, it prints "ready WIDTHxHEIGHT+X+Y" and runs until it is ended.

#include "app/mobilewebserver.h"
#include "app/startup.h"
#include "config/configuration.h"
#include "instances/addresslist.h"
#include "instances/serveritem.h"
#include "server/webserver.h"

#include <QApplication>
#include <QNetworkAddressEntry>
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
        QTextStream(stderr) << "usage: tessaly_showcase simple|expert FOLDER\n";
        return 2;
    }
    const bool expert = args.at(1) == QLatin1String("expert");
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

    QTimer::singleShot(3000, &window, [&window] {
        const QRect frame = window.frameGeometry();
        QTextStream(stdout) << "ready " << frame.width() << 'x' << frame.height() << '+' << frame.x() << '+'
                            << frame.y() << Qt::endl;
    });
    return app.exec();
}
