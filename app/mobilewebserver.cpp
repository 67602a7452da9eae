#include "app/mobilewebserver.h"

#include "config/configuration.h"

#include <QLabel>

MobileWebServer::MobileWebServer(const QString &argument)
{
    Configuration::RootMode = argument == QLatin1String("root");
    setWindowTitle(QStringLiteral("Tessaly"));
    auto *label = new QLabel(tr("<h2>Tessaly</h2><p>The server runs without this window:</p>"
                                "<pre>tessaly --headless --share FOLDER</pre>"
                                "<p>See <tt>tessaly --help</tt>.</p>"),
                             this);
    label->setMargin(24);
    setCentralWidget(label);
    resize(480, 240);
    show();
}
