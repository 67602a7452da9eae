#ifndef FORMUPLOAD_H
#define FORMUPLOAD_H

#include "server/bodysink.h"
#include "server/sharepath.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class HTTP_Request;
class NewFile;

// The outcome of a form upload, as the socket reports it through startReply(int) (Sent,
// ReadFailed, WriteFailed, NoDelimiter) or as FormUpload::open() finds it before any byte is
// saved. The numbers are those the socket sends.
enum class UploadResult {
    Sent = 0,
    NotOpened = 1,
    ReadFailed = 2,
    WriteFailed = 3,
    NoFile = 4,
    Exists = 5,
    NoDelimiter = 6,
};

// Receives a form upload (multipart/form-data) into a folder of the share: each file of the
// form becomes a new file there, which gets its name only when it is complete. The rules on a
// part's header bytes are functions of their own, callable without a socket.
class FormUpload : private BodySink::Parts
{
public:
    explicit FormUpload(HTTP_Request *request);
    ~FormUpload();

    // A file of the form may name folders below the upload's folder, which are made as needed
    // (a folder chosen whole).
    bool withFolders = false;

    // Reads the first part's headers and opens its file in the folder of the share at the share
    // path `folder`: Sent when the body may be received, else why not.
    UploadResult open(const QString &folder);
    // Receives the rest of the body; the socket reports its end through startReply(int).
    void receive();
    // Closes the received file: a complete one takes its name (the result becomes Exists when
    // the name was taken meanwhile), an incomplete one is removed. `code` is what the socket
    // reported; returns the result.
    UploadResult finish(int code);

    // The parameters of a part's Content-Disposition header line (what follows the disposition
    // type and its ';'); nothing when the line is another header.
    static std::optional<QByteArray> dispositionParameters(QByteArrayView headerLine);
    // The file name of a part's Content-Disposition parameters (after "form-data;"), quoted or
    // not, as the bytes the browser sent; empty when there is none.
    static QByteArray uploadFileName(const QByteArray &disposition);
    // The name a part's file is stored under: without the client's folders (with `withFolders`
    // the path below the upload's folder it names, '/' between names), up to a NUL, read as
    // UTF-8; empty when there is none.
    static QString partFileName(const QByteArray &disposition, bool withFolders = false);
    // A part's name as partFileName(…, true) gives it: plain names, with '/' between them.
    static bool isPartPath(const QString &path);
    // The message shown for an upload's result.
    static const char *message(UploadResult result);

private:
    // Opens the new file of the part `fileName` in the upload's folder: Sent, or why not.
    UploadResult openPart(const QString &fileName);
    // The folder `path` (plain names, '/' between them) below the upload's folder, made where
    // it is missing, open at `*folder`: Sent, or why not.
    UploadResult openPartFolder(QStringView path, Descriptor *folder);
    void partEnded(QFileDevice *file, bool written) override;
    QFileDevice *nextPart(QByteArrayView headers) override;
    void notePart(UploadResult result);

    HTTP_Request *request;
    QByteArray delimiter;
    // The folder of the share that the upload stores its files in.
    Descriptor uploadFolder;
    // The file of the part being received, and the name it is to get.
    std::unique_ptr<NewFile> upload;
    QByteArray uploadName;
    // The first file of the form that was not kept, or Sent.
    UploadResult partsResult = UploadResult::Sent;
};

#endif
