#include "web/html_element_manager.h"

#include "config/configuration.h"
#include "web/deletedir.h"
#include "web/html_element.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>

HTML_Element_Manager *HTML_Element_Manager::instance = nullptr;

HTML_Element_Manager::HTML_Element_Manager(QObject *parent)
    : QThread(parent)
{
    const QString folder = thumbnailFolder();
    if (QFileInfo::exists(folder) || QFileInfo(folder).isSymLink())
        DeleteDir(folder).deleteDir();
    QDir().mkpath(folder);
}

HTML_Element_Manager::~HTML_Element_Manager()
{
    clear();
    if (instance == this)
        instance = nullptr;
}

QString HTML_Element_Manager::thumbnailFolder()
{
    return Configuration::ConfigDir + QLatin1String("tmp");
}

QString HTML_Element_Manager::key(const QString &path, HTML_Element::Rule rule)
{
    // No path holds a NUL.
    return rule == HTML_Element::Rule::Classic ? path : path + QLatin1String("\0r", 2);
}

HTML_Element *HTML_Element_Manager::find(const QString &key) const
{
    return index.value(key, nullptr);
}

HTML_Element *HTML_Element_Manager::toHTML(const QFileInfo *entry)
{
    QMutexLocker locker(&lock);
    const QString path = entry->absoluteFilePath();
    if (HTML_Element *element = find(path)) {
        // Today's size and date; the worker never reads an element it is done with.
        if (element->isReady())
            element->fileInfo = *entry;
        return element;
    }
    return add(*entry, path, HTML_Element::Rule::Classic);
}

HTML_Element *HTML_Element_Manager::toHTML(const QString &path, HTML_Element::Rule rule, const QString &shareRoot)
{
    QMutexLocker locker(&lock);
    const QString k = key(path, rule);
    if (HTML_Element *element = find(k))
        return element;
    return add(QFileInfo(path), k, rule, shareRoot);
}

bool HTML_Element_Manager::writeCell(QByteArray *page, const QString &path, const QString &shareRoot,
                                     const HTML_Element::Cell &cell, bool checkbox, ShortDates *dates)
{
    QMutexLocker locker(&lock);
    const HTML_Element *element = toHTML(path, HTML_Element::Rule::Classic, shareRoot);
    element->toHTML(page, cell, checkbox, dates);
    return element->isReady();
}

HTML_Element_Manager::Thumbnail HTML_Element_Manager::largeThumbnail(const QString &path, const QString &shareRoot)
{
    QMutexLocker locker(&lock);
    const HTML_Element *element = toHTML(path, HTML_Element::Rule::EveryPicture, shareRoot);
    if (!element->isReady())
        return Thumbnail::Pending;
    return element->thumbnailFile().isEmpty() ? Thumbnail::None : Thumbnail::Made;
}

HTML_Element *HTML_Element_Manager::add(const QFileInfo &entry, const QString &key, HTML_Element::Rule rule,
                                        const QString &shareRoot)
{
    auto *element = new HTML_Element(entry, rule, shareRoot);
    index.insert(key, element);
    if (element->isReady()) {
        done.append(element);
        return element;
    }
    pending.append(element);
    if (!running) {
        running = true;
        // The previous run may have seen an empty queue and still be returning.
        if (isRunning())
            wait();
        start(QThread::IdlePriority);
    }
    return element;
}

QString HTML_Element_Manager::getTempFile(const QString &path, HTML_Element::Rule rule)
{
    QMutexLocker locker(&lock);
    // Pending elements are not ready: they have no thumbnail to give yet.
    const HTML_Element *element = find(key(path, rule));
    return element ? element->thumbnailFile() : QString();
}

void HTML_Element_Manager::run()
{
    for (;;) {
        HTML_Element *element;
        {
            QMutexLocker locker(&lock);
            if (pending.isEmpty() || stopping) {
                running = false;
                return;
            }
            element = pending.first();
        }
        const bool made = element->init();
        QMutexLocker locker(&lock);
        if (stopping) {
            running = false;
            return;
        }
        element->publish(made);
        pending.removeOne(element);
        done.append(element);
    }
}

void HTML_Element_Manager::clear()
{
    {
        QMutexLocker locker(&lock);
        stopping = true;
    }
    wait();
    QMutexLocker locker(&lock);
    qDeleteAll(pending);
    qDeleteAll(done);
    pending.clear();
    done.clear();
    index.clear();
    running = false;
    stopping = false;
}
