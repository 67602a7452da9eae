#ifndef MOBILEWEBSERVER_H
#define MOBILEWEBSERVER_H

#include <QMainWindow>

// The application's window.
class MobileWebServer : public QMainWindow
{
    Q_OBJECT

public:
    explicit MobileWebServer(const QString &argument);
};

#endif
