#include "responses/filetypes.h"

#include <cstring>
#include <iterator>

namespace {

using K = FileTypes::Kind;
constexpr bool Scripted = true;
constexpr const char *None = nullptr;
const char TextView[] = "text/plain; charset=utf-8";

// The first two columns are what downloads have always been sent with and what classic pages
// have always shown; the rows below the first group add suffixes the responsive pages show.
const FileTypes::Row Rows[] = {
    {"html", "text/html; charset=UTF-8", "html.png", "text/html; charset=utf-8", K::Page, Scripted},
    // Images show themselves or their thumbnail on classic pages.
    {"jpg", "image/jpeg", None, "image/jpeg", K::Image, false},
    {"png", "image/png", None, "image/png", K::Image, false},
    {"avi", "video/x-msvideo", "media.png", None, K::Video, false},
    {"torrent", "application/x-bittorrent", None, None, K::Other, false},
    {"pdf", "application/pdf", "doc.png", "application/pdf", K::Pdf, false},
    {"mp4", "video/mp4v-es, audio/mp4", "media.png", "video/mp4", K::Video, false},
    {"aac", "video/mp4v-es, audio/mp4", "music.png", "audio/aac", K::Audio, false},
    {"flv", "video/x-flv", "media.png", None, K::Video, false},
    {"3gp", "audio/3gpp, video/3gpp", "media.png", "video/3gpp", K::Video, false},
    {"mp3", "audio/mpeg3", "music.png", "audio/mpeg", K::Audio, false},
    {"mov", "video/quicktime", "media.png", "video/quicktime", K::Video, false},
    {"doc", "application/msword", "doc.png", None, K::Document, false},
    {"pps", "application/vnd.ms-powerpoint", "doc.png", None, K::Document, false},
    {"rtf", "application/rtf", "doc.png", None, K::Document, false},
    {"xls", "application/excel", "sheet.png", None, K::Document, false},
    {"wav", "audio/wav", "music.png", "audio/wav", K::Audio, false},
    {"wmv", "video/x-ms-wmv", "media.png", None, K::Video, false},
    {"zip", "application/zip", "folder_tar.png", None, K::Archive, false},
    {"exe", "application/octet-stream", "application.png", None, K::Other, false},
    // An icon and no type: these downloads have always gone out without a Content-Type line.
    {"ogg", None, "music.png", "audio/ogg", K::Audio, false},
    {"vob", None, "media.png", None, K::Video, false},
    {"m4a", None, "media.png", "audio/mp4", K::Audio, false},
    {"rar", None, "folder_tar.png", None, K::Archive, false},
    {"gz", None, "folder_tar.png", None, K::Archive, false},
    {"txt", None, "txt.png", TextView, K::Text, false},
    {"bat", None, "application.png", TextView, K::Text, false},
    {"cmd", None, "application.png", TextView, K::Text, false},
    {"sh", None, "application.png", TextView, K::Text, false},
    // Neither a type nor an icon on classic pages.
    {"jpeg", None, None, "image/jpeg", K::Image, false},
    {"gif", None, None, "image/gif", K::Image, false},
    {"webp", None, None, "image/webp", K::Image, false},
    {"avif", None, None, "image/avif", K::Image, false},
    {"bmp", None, None, "image/bmp", K::Image, false},
    {"svg", None, None, "image/svg+xml", K::Image, Scripted},
    {"svgz", None, None, None, K::Image, Scripted},
    {"webm", None, None, "video/webm", K::Video, false},
    {"m4v", None, None, "video/mp4", K::Video, false},
    {"ogv", None, None, "video/ogg", K::Video, false},
    {"opus", None, None, "audio/ogg", K::Audio, false},
    {"oga", None, None, "audio/ogg", K::Audio, false},
    {"flac", None, None, "audio/flac", K::Audio, false},
    {"htm", None, None, "text/html; charset=utf-8", K::Page, Scripted},
    {"xhtml", None, None, "application/xhtml+xml", K::Page, Scripted},
    {"xml", None, None, "application/xml", K::Text, Scripted},
    {"md", None, None, TextView, K::Text, false},
    {"log", None, None, TextView, K::Text, false},
    {"csv", None, None, TextView, K::Text, false},
    {"json", None, None, "application/json", K::Text, false},
    {"css", None, None, "text/css; charset=utf-8", K::Text, false},
    {"js", None, None, "text/javascript; charset=utf-8", K::Text, false},
    {"odt", None, None, None, K::Document, false},
    {"docx", None, None, None, K::Document, false},
    {"xlsx", None, None, None, K::Document, false},
    {"pptx", None, None, None, K::Document, false},
    {"7z", None, None, None, K::Archive, false},
    {"tar", None, None, None, K::Archive, false},
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
