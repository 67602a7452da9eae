#include "app/startup.h"

#include "config/configuration.h"
#include "config/pagestyle.h"
#include "server/webserver.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFont>
#include <QLocale>
#include <QSettings>
#include <QStyle>
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

void Startup::restoreLook()
{
    QSettings settings;
    PageStyle::DefaultStyle = QApplication::style()->objectName();
    const QVariant style = settings.value(QStringLiteral("style"));
    if (style.isNull())
        return;
    const QString name = style.toString();
    if (name != PageStyle::DefaultStyle)
        QApplication::setStyle(name);
    QPalette palette = QApplication::style()->standardPalette();
    PageStyle::setPalette(&palette, &settings, name);
    QApplication::setPalette(palette);
    QFont font = QApplication::font();
    font.setPointSize(settings.value(QStringLiteral("Fsize"), font.pointSize()).toInt());
    QApplication::setFont(font);
}
