// The selection of the listing service: the parameters r, s1, s1o, s2, s2o, t, to, tu, p and s
// read from a query, the wildcard pattern turned into an expression, the date bound and its
// precision, applied to files and folders of all kinds of names, sizes and times.
//
// Input: the raw query of a listing request.

#include "fuzzsupport.h"

#include "server/http_request.h"
#include "web/filter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

// Entries to judge, made once: short and long names, empty and large sizes, old and new times.
const QFileInfoList &entries()
{
    static QTemporaryDir dir;
    static QFileInfoList list;
    if (!list.isEmpty())
        return list;
    QDir().mkpath(dir.path() + QStringLiteral("/a folder"));
    const QStringList names = {QStringLiteral("a.txt"), QStringLiteral("[x].tar.gz"), QString(250, u'a') + u'b',
                               QString::fromUtf8("\xC3\xA4\xE2\x82\xAC*?.txt")};
    for (qsizetype i = 0; i < names.size(); ++i) {
        QFile file(dir.path() + u'/' + names.at(i));
        if (file.open(QIODevice::WriteOnly) && file.resize(i * 40000))
            file.setFileTime(QDateTime::fromSecsSinceEpoch(i * 1234567890), QFileDevice::FileModificationTime);
    }
    list = QDir(dir.path()).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot);
    return list;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::ensureApplication();
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));

    HTTP_Request request;
    request.setQuery(input);
    Filter filter;
    filter.init(&request);
    for (const QFileInfo &entry : entries()) {
        const bool accepted = filter.accept(&entry);
        // Folders always pass.
        if (entry.isDir() && !accepted)
            Fuzz::fail("a folder was filtered out", input);
        QDateTime time = entry.lastModified();
        filter.setDate(&time);
    }
    (void)Filter::parseDate(QString::fromUtf8(input));
    const QRegularExpression expression = Filter::wildcard(QString::fromUtf8(input), false);
    for (const QFileInfo &entry : entries())
        (void)expression.match(entry.fileName());
    Fuzz::settle();
    return 0;
}
