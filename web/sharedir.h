#ifndef SHAREDIR_H
#define SHAREDIR_H

#include "responses/http_response.h"

// Answers GET and POST on a shared folder: files, icons, thumbnails, the folder page and its
// actions.
class ShareDir : public HTTP_Response
{
    Q_OBJECT

public:
    static constexpr char IconPrefix[] = "/_i/";
    static constexpr char ThumbnailPrefix[] = "/_t/";

    ShareDir(Configuration *config, HTTP_Request *request);

    using HTTP_Response::reply;
    void reply(QFileInfo *root) override;

    void sendDir(const QString &folder);

    QString rootPath;
    bool deleteEnabled = false;
    bool thumbnails = false;
    int deletedCount = 0;

public slots:
    void reply(int code) override;
};

#endif
