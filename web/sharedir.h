#ifndef SHAREDIR_H
#define SHAREDIR_H

#include "responses/http_response.h"
#include "server/folderlisting.h"
#include "web/html_element.h"
#include "web/namesearch.h"
#include "web/paging.h"
#include "web/responsivepage.h"

#include <memory>

class ClientData;
class FolderZip;
class QFileInfo;
class ShortDates;

// Answers GET and POST on a shared folder: files, icons ("/_i/"), thumbnails ("/_t/"), the
// folder page, its actions and forms, and the pages that start the file-manager client.
// Outcomes of actions become the session's one-shot message, shown on the next folder page.
class ShareDir : public HTTP_Response
{
    Q_OBJECT

public:
    // The applet file manager's archive in the icon folder.
    static constexpr char ClientArchivePath[] = "/_i/KestruneClient.jar";
    static constexpr int DefaultPageSize = 24;
    static constexpr int EntriesPerRow = 3;

    ShareDir(Configuration *config, HTTP_Request *request);
    ~ShareDir() override;

    using HTTP_Response::reply;
    void reply(QFileInfo *root) override;

    // The folder page of the folder at the share path `path` (open at `folder`, if it is).
    // The folder at `path` open in `folder` (as it is when already open); false: the share is
    // gone and the not-found page was sent.
    bool openFolder(const QString &path, Descriptor *folder);
    void sendDir(const QString &path, Descriptor folder = Descriptor());
    // The responsive page of what a search below the folder addressed found (`matches` by their
    // paths below it), one page of them.
    void sendFound(const QString &text, const QList<ResponsivePage::Entry> &matches, bool cutShort);
    void sendUpload(QByteArray path);
    void sendCreate(QByteArray path);
    void sendFileBrowser(QByteArray path);
    void sendJNLP(QByteArray path);

    void writeDirFile(const HTML_Element::Cell &cell, const QByteArray &folderText, ShortDates *dates,
                      QByteArray *page) const;
    static void addOption(QByteArray *page, const char *label, const char *value, bool selected);
    static void addForm(QByteArray *page, const char *value, const char *name = nullptr);
    static void addParam(QByteArray *page, const char *name, const QByteArray &value);
    static void addArg(QByteArray *page, const char *name, const QByteArray &value);

    QString rootPath;
    bool deleteEnabled = false;
    bool thumbnails = false;
    int deletedCount = 0;

public slots:
    void reply(int code) override;

private:
    void post(const QString &a, ClientData *session);
    void get(const QString &a, ClientData *session);
    void sendThumbnail(const QString &relative);
    // The folder at the share path `path` as one archive ("a=zip").
    void sendArchive(const QString &path);
    // Finds by name in the folder at the share path `path` and below ("a=find", the text "q",
    // the page "p"); the page of the matches follows when the search is over.
    void find(const QString &path);
    void sendFound(const QString &path, const QString &text, qint64 pageIndex, const NameSearch::Result &result);
    void deleteItems(ClientData *session);
    void createFolder(ClientData *session);
    // The listing of the folder at the share path `path`, open at `folder` (nothing when it is
    // not open); the folder is closed then.
    QList<FolderListing::Entry> readFolder(const QString &path, Descriptor folder,
                                           const FolderListing::Options &options);
    // The classic folder page in parts: the head with the parent link (`*prefix`, the request
    // path, then ends in "/"), the forms and the session's message; the cells of the entries
    // shown, true while a thumbnail is being made; the page size form and the page links.
    void writeDirHead(QByteArray *page, ClientData *session, QString *prefix) const;
    // The forms of the classic page's head: the order, the actions, the delete button.
    void writeDirForms(QByteArray *page, const ClientData *session) const;
    bool writeDirCells(QByteArray *page, const QList<FolderListing::Entry> &entries, const Paging::Page &shown,
                       const QString &prefix, const QString &path) const;
    static void writeDirFoot(QByteArray *page, const ClientData *session, const Paging::Page &shown);
    void sendPage(const QByteArray &page, const char *status = "200 OK");
    void sendText(const char *status, const QByteArray &text);

    // The responsive pages.
    void postResponsive(const QString &a, ClientData *session);
    // Takes what the page's links ask: the order, the view, the page size; the page shown.
    qint64 takeView(ClientData *session);
    void sendResponsiveDir(const QString &path, Descriptor folder, qint64 pageIndex);
    // What the responsive page shows of an entry of the folder whose clean absolute path
    // (ending in "/") is `elementFolder`.
    ResponsivePage::Entry responsiveEntry(const FolderListing::Entry &e, const QString &elementFolder) const;
    // Fills in what every responsive page has and sends it.
    void sendResponsive(ResponsivePage::View *view, const QList<ResponsivePage::Entry> &entries);
    // A file of the icon folder: the pages' style, script and icons, cached by the browser.
    void sendAsset(const QString &name);
    QByteArray assetUrl(const char *name) const;
    void deleteChosen(ClientData *session);
    // After a change: the folder's page, asked for afresh (a reload does not repeat the change).
    void seeFolder();
    // A request of the page's script, answered with a status and a text instead of a page.
    bool fromScript() const;
    void addFormHead(QByteArray *page, const char *title) const;
    // The base URL of this server as the client reached it.
    QByteArray baseUrl() const;

    std::unique_ptr<FolderZip> zip;
};

#endif
