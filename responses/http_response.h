#ifndef HTTP_RESPONSE_H
#define HTTP_RESPONSE_H

#include "responses/fileheaders.h"
#include "responses/formupload.h"
#include "server/response.h"
#include "server/sharepath.h"

#include <QFile>

#include <memory>

// Sends one file of the share (whole or one byte range), the "Wrong URL" page for a missing
// file, and receives form uploads.
class HTTP_Response : public Response
{
    Q_OBJECT

public:
    HTTP_Response(Configuration *config, HTTP_Request *request);
    ~HTTP_Response() override;

    using Response::reply;
    void reply(QFileInfo *root) override;
    void sendFile(const QString &path) override;
    // Receives a form upload into the folder of the share at the share path `folder`.
    void saveFileTo(const QString &folder);

    using Disposition = FileHeaders::Disposition;

    Configuration *config;
    // How the files this response sends are offered.
    Disposition disposition = Disposition::Classic;
    // The file this answer sends.
    QFile &ownFile();
    std::unique_ptr<QFile> file;
    // The form upload this answer receives.
    FormUpload form;

public slots:
    void reply(int code) override;

protected:
    // Stops listening to the socket and ends the upload (FormUpload::finish()); `code` is what
    // the socket reported; returns the result.
    UploadResult finishUpload(int code);
    // Answers with the file at the absolute `path` like sendFile() (the program's own files, a
    // shared single file); returns false, without answering, when `path` is a folder.
    bool sendUnlessFolder(const QString &path);
    // Answers with the item of the share at the share path `path`: a file is sent, a missing
    // one gets the not-found page. Returns false, without answering, when it is a folder, which
    // is then open in `*folder`.
    bool sendShared(const QString &path, Descriptor *folder);
    // Sends the file open at `fd` (taken) of status `fileStatus` under the name `fileName`.
    void sendOpened(int fd, const struct stat &fileStatus, QStringView fileName);

private:
    // Sends the `count` bytes from `offset` of the file open at `fd` (closed then) in one write
    // with the head of `status` and `extra`.
    void sendWithHead(int fd, const char *status, qint64 offset, qint64 count, const QByteArray &extra);
    // Answers a path that names nothing: the icon for a missing favicon of a thumbnail
    // profile, else the not-found page.
    void sendMissing(const QString &path);
};

#endif
