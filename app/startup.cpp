#include "app/startup.h"

#include "config/configuration.h"
#include "server/webserver.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QLocale>
#include <QTranslator>

void Startup::prepare(QCoreApplication &app)
{
    WebServer::raiseOpenFileLimit();
    const QString locale = QLocale::system().name();
    Configuration::setDirectories(QDir::homePath(), QCoreApplication::applicationDirPath(), locale);

    auto *builtin = new QTranslator(&app);
    (void)builtin->load(QStringLiteral("C"), QStringLiteral(":/res/lang"));
    QCoreApplication::installTranslator(builtin);

    auto *language = new QTranslator(&app);
    if (language->load(QStringLiteral("lang"), Configuration::LangPath))
        QCoreApplication::installTranslator(language);
    else
        qDebug() << "No translator found for locale=" << locale << "in dir=" << Configuration::LangPath;
}
