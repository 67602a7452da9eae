#ifndef HTML_ELEMENT_MANAGER_H
#define HTML_ELEMENT_MANAGER_H

#include <QHash>
#include <QList>
#include <QRecursiveMutex>
#include <QString>
#include <QThread>

#include "web/html_element.h"

class QFileInfo;

// Keeps one HTML_Element per file ever shown in picture mode and makes the missing thumbnails
// on a background thread of idle priority, one at a time, oldest request first. Thumbnails are
// files in Configuration::ConfigDir + "tmp", kept until clear().
//
// There is one manager per process: whoever runs the servers creates it and sets `instance`
// (and clears it again before destroying the manager). Callers of toHTML() hold `lock` across it
// and every use of the element it returns; the other functions take it themselves.
class HTML_Element_Manager : public QThread
{
    Q_OBJECT

public:
    static HTML_Element_Manager *instance;

    // Empties (or creates) the thumbnail folder.
    explicit HTML_Element_Manager(QObject *parent = nullptr);
    ~HTML_Element_Manager() override;

    // The element of `entry`, created and queued for its thumbnail when needed. Hold `lock`.
    HTML_Element *toHTML(const QFileInfo *entry);
    // The same for the file at the absolute, clean `path`; a file information is made only for
    // a file seen for the first time. A file has an element for each rule. Hold `lock`.
    HTML_Element *toHTML(const QString &path, HTML_Element::Rule rule = HTML_Element::Rule::Classic,
                         const QString &shareRoot = QString());
    // Writes the cell of the file at the absolute, clean `path` on a classic page to `page`
    // (HTML_Element::toHTML()); false while its thumbnail is still being made.
    bool writeCell(QByteArray *page, const QString &path, const QString &shareRoot, const HTML_Element::Cell &cell,
                   bool checkbox, ShortDates *dates);
    // Where the larger thumbnail (Rule::EveryPicture) of the file at `path` stands.
    enum class Thumbnail { None, Pending, Made };
    Thumbnail largeThumbnail(const QString &path, const QString &shareRoot);
    // The finished thumbnail of the file at `path`, or an empty text when there is none.
    QString getTempFile(const QString &path, HTML_Element::Rule rule = HTML_Element::Rule::Classic);
    // Stops the worker and destroys every element with its thumbnail. Never call it while
    // holding `lock`: it waits for the worker, which needs the lock to finish.
    void clear();

    static QString thumbnailFolder();

    QRecursiveMutex lock;

protected:
    void run() override;

private:
    HTML_Element *find(const QString &key) const;
    HTML_Element *add(const QFileInfo &entry, const QString &key, HTML_Element::Rule rule,
                      const QString &shareRoot = QString());
    // The key of the element of the file at `path` for `rule`.
    static QString key(const QString &path, HTML_Element::Rule rule);

    QList<HTML_Element *> pending;
    QList<HTML_Element *> done;
    // Every element of both lists by its key: its file's absolute path, and its rule. An element
    // is pending exactly while it is not ready.
    QHash<QString, HTML_Element *> index;
    bool running = false;
    bool stopping = false;
};

#endif
