#include "responses/options.h"

Options::Options(HTTP_Request *request)
    : Dav(request)
{
    setObjectName(QStringLiteral("O"));
}

void Options::reply()
{
    QByteArray extra;
    extra.reserve(128);
    addLine(&extra, "DAV: 1,2");
    addLine(&extra, "Allow: GET, POST, PUT, DELETE, OPTIONS, PROPFIND, COPY, MOVE, MKCOL, HEAD, LOCK, UNLOCK");
    sendHeader("200 OK", 0, &extra);
}
