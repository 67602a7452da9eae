#ifndef WEBFIXTURE_H
#define WEBFIXTURE_H

#include "config/configuration.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class HTML_Element_Manager;
class WebServer;

// A listener on 127.0.0.1 sharing a fresh temporary folder, with a home folder of its own for
// the profile directory and the thumbnails, and the icon folder of the build.
class WebFixture
{
public:
    WebFixture();
    ~WebFixture();

    // Starts the listener; false when it cannot listen.
    bool start();
    // A new empty share (and a new listener when one ran).
    bool restart();
    void startThumbnails();
    void stopThumbnails();

    QString path(const QString &relative) const { return sharePath + u'/' + relative; }
    bool write(const QString &relative, const QByteArray &data) const;
    bool makeDir(const QString &relative) const;
    QByteArray read(const QString &relative) const;
    bool exists(const QString &relative) const;

    quint16 port() const;

    QTemporaryDir home;
    std::unique_ptr<QTemporaryDir> share;
    QString sharePath;
    Configuration conf;
    WebServer *server = nullptr;
    HTML_Element_Manager *manager = nullptr;
};

#endif
