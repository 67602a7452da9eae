#include "responses/filetypes.h"

#include <cstring>
#include <iterator>

namespace {

const FileTypes::Row Rows[] = {
    {"html", "text/html; charset=UTF-8", "html.png"},
    {"jpg", "image/jpeg", nullptr}, // images show themselves or their thumbnail
    {"png", "image/png", nullptr},
    {"avi", "video/x-msvideo", "media.png"},
    {"torrent", "application/x-bittorrent", nullptr},
    {"pdf", "application/pdf", "doc.png"},
    {"mp4", "video/mp4v-es, audio/mp4", "media.png"},
    {"aac", "video/mp4v-es, audio/mp4", "music.png"},
    {"flv", "video/x-flv", "media.png"},
    {"3gp", "audio/3gpp, video/3gpp", "media.png"},
    {"mp3", "audio/mpeg3", "music.png"},
    {"mov", "video/quicktime", "media.png"},
    {"doc", "application/msword", "doc.png"},
    {"pps", "application/vnd.ms-powerpoint", "doc.png"},
    {"rtf", "application/rtf", "doc.png"},
    {"xls", "application/excel", "sheet.png"},
    {"wav", "audio/wav", "music.png"},
    {"wmv", "video/x-ms-wmv", "media.png"},
    {"zip", "application/zip", "folder_tar.png"},
    {"exe", "application/octet-stream", "application.png"},
    // An icon and no type: these downloads have always gone out without a Content-Type line.
    {"ogg", nullptr, "music.png"},
    {"vob", nullptr, "media.png"},
    {"m4a", nullptr, "media.png"},
    {"rar", nullptr, "folder_tar.png"},
    {"gz", nullptr, "folder_tar.png"},
    {"txt", nullptr, "txt.png"},
    {"bat", nullptr, "application.png"},
    {"cmd", nullptr, "application.png"},
    {"sh", nullptr, "application.png"},
};

// The longest suffix of the table: anything longer is no match.
constexpr qsizetype Longest = 7;

} // namespace

namespace FileTypes {

const Row *find(QStringView suffix)
{
    // The suffixes are short and ASCII: compared as bytes, without a conversion.
    if (suffix.size() > Longest)
        return nullptr;
    char ascii[Longest + 1];
    for (qsizetype i = 0; i < suffix.size(); ++i) {
        const char16_t c = suffix.at(i).unicode();
        if (c == 0 || c > 0x7f)
            return nullptr;
        ascii[i] = char(c);
    }
    ascii[suffix.size()] = '\0';
    for (const Row &row : Rows) {
        if (row.suffix[0] == ascii[0] && std::strcmp(ascii, row.suffix) == 0)
            return &row;
    }
    return nullptr;
}

const Row *ofName(QStringView fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot < 0 || fileName.size() - dot - 1 > Longest)
        return nullptr;
    char16_t small[Longest];
    const QStringView suffix = fileName.sliced(dot + 1);
    for (qsizetype i = 0; i < suffix.size(); ++i) {
        const char16_t c = suffix.at(i).unicode();
        small[i] = c >= 'A' && c <= 'Z' ? char16_t(c + ('a' - 'A')) : c;
    }
    return find(QStringView(small, suffix.size()));
}

const Row *begin()
{
    return std::begin(Rows);
}

const Row *end()
{
    return std::end(Rows);
}

} // namespace FileTypes
