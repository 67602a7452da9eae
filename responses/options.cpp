#include "responses/options.h"

#include "server/methodtable.h"
#include "server/statusline.h"

Options::Options(HTTP_Request *request)
    : Dav(request)
{
}

void Options::reply()
{
    QByteArray extra;
    extra.reserve(128);
    addLine(&extra, "DAV: 1,2");
    extra += "Allow: " + MethodTable::allowed();
    addLine(&extra);
    sendHeader(StatusLine::Ok, 0, &extra);
}
