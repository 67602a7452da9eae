#ifndef HTTP_RESPONSE_H
#define HTTP_RESPONSE_H

#include "server/bodysink.h"
#include "server/response.h"
#include "server/sharepath.h"

#include <QFile>

#include <memory>

#include <optional>

class NewFile;

// The outcome of a form upload, as the socket reports it through startReply(int) (Sent,
// ReadFailed, WriteFailed, NoDelimiter) or as saveFileTo() finds it before any byte is saved.
// The numbers are those the socket sends.
enum class UploadResult {
    Sent = 0,
    NotOpened = 1,
    ReadFailed = 2,
    WriteFailed = 3,
    NoFile = 4,
    Exists = 5,
    NoDelimiter = 6,
};

// Sends one file of the share (whole or one byte range), the "Wrong URL" page for a missing
// file, and receives form uploads.
class HTTP_Response : public Response, private BodySink::Parts
{
    Q_OBJECT

public:
    HTTP_Response(Configuration *config, HTTP_Request *request);
    ~HTTP_Response() override;

    using Response::reply;
    void reply(QFileInfo *root) override;
    void sendFile(const QString &path) override;
    // The page for a missing file. It names what was asked for as the share sees it, never where
    // the server looked for it.
    void notFound();
    // The login page of the current language, answered with `status`.
    void sendLoginPage(const char *status);
    // Receives a form upload into the folder of the share at the share path `folder`.
    void saveFileTo(const QString &folder);

    // What the parsed Range numbers `start` and `end` (0 where a number is missing) ask of a file
    // of `size` bytes: 200 the whole file, 206 the `count` bytes from `offset`, 416 nothing. With
    // `suffix` the range is the last `end` bytes.
    static int byteRange(qint64 start, qint64 end, bool suffix, qint64 size, qint64 *offset, qint64 *count);
    static QByteArray getContentType(QStringView suffix);
    // How a file is offered: as classic pages offer it (a page is shown, anything else is a
    // download), shown in the browser where the browser can show it, or as a download.
    enum class Disposition { Classic, Inline, Download };
    // The content type of a file of `size` bytes last changed at `modifiedMs` (since the epoch),
    // offered as `disposition` says; appends its Last-Modified, ETag and Content-Disposition lines
    // to `extra`.
    static QByteArray describeFile(QStringView fileName, qint64 size, qint64 modifiedMs, QByteArray *extra,
                                   Disposition disposition = Disposition::Classic);
    // Appends the Last-Modified and ETag lines of a file.
    static void appendValidators(QByteArray *extra, qint64 size, qint64 modifiedMs);
    // Answers a GET or HEAD of a file when its conditions (RFC 9110 13.1) decide: "304 Not
    // Modified" with the validators, or "412 Precondition Failed". False: the file is sent.
    static bool answerConditions(Response *response, qint64 size, qint64 modifiedMs);
    // The entity tag of a file's content: its time of last change and its size.
    static QByteArray entityTag(qint64 size, qint64 modifiedMs);
    // The same written at `out` (room for EntityTagSize bytes); returns its end.
    static constexpr int EntityTagSize = 40;
    static char *writeEntityTag(char *out, qint64 size, qint64 modifiedMs);
    // Whether an If-Range value names the file as it is now: its entity tag (compared strongly) or
    // its date of last change, to the second.
    static bool ifRangeHolds(QByteArrayView value, qint64 size, qint64 modifiedMs);
    // The file name as it may stand between the quotes of a Content-Disposition line.
    static QByteArray dispositionName(QStringView name);
    // Appends the Content-Disposition line of a download named `fileName` to `extra`.
    static void appendDisposition(QByteArray *extra, QStringView fileName, bool shown = false);
    // Text made safe for HTML text and attribute values (UTF-8).
    static QByteArray escape(QStringView text);
    static QByteArray escape(QByteArrayView utf8);
    // A single file or folder name sent by a client: not empty, not "." or "..", no "/", no NUL.
    static bool isPlainName(const QString &name);
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
    static const char *uploadMessage(UploadResult result);

    Configuration *config;
    // How the files this response sends are offered.
    Disposition disposition = Disposition::Classic;
    // A form upload's files may name folders below the upload's folder, which are made as
    // needed (a folder chosen whole).
    bool uploadsFolders = false;
    // The file this answer sends or an upload is stored in.
    QFile &ownFile();
    std::unique_ptr<QFile> file;

public slots:
    void reply(int code) override;

protected:
    // Stops listening to the socket and closes the received file: a complete one takes its
    // name (the result becomes Exists when the name was taken meanwhile), an incomplete one is
    // removed. `code` is what the socket reported; returns the result.
    UploadResult finishUpload(int code);
    // Ends an upload that saveFileTo() refused before its body, as the socket would.
    void endUpload(UploadResult result) { reply(int(result)); }
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
    // Opens the new file of the part `fileName` in the upload's folder: Sent, or why not.
    UploadResult openPart(const QString &fileName);
    // The folder `path` (plain names, '/' between them) below the upload's folder, made where
    // it is missing, open at `*folder`: Sent, or why not.
    UploadResult openPartFolder(QStringView path, Descriptor *folder);
    void partEnded(QFileDevice *file, bool written) override;
    QFileDevice *nextPart(QByteArrayView headers) override;
    void notePart(UploadResult result);

    // The folder of the share that a form upload stores its files in.
    Descriptor uploadFolder;
    // The file of the part being received, and the name it is to get.
    std::unique_ptr<NewFile> upload;
    QByteArray uploadName;
    // The first file of the form that was not kept, or Sent.
    UploadResult partsResult = UploadResult::Sent;
};

#endif
