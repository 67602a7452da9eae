#ifndef TEXTCODING_H
#define TEXTCODING_H

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

// The two ways the server writes names and paths into its answers: HTML/XML character
// references and URL percent-encoding. Every page, href and message uses these, so a name is
// written the same way wherever it appears.
namespace TextCoding {

// Most bytes one input byte becomes.
constexpr qsizetype EscapedSize = 6; // "&quot;"
constexpr qsizetype EncodedSize = 3; // "%" and two hex digits

// What percent-encoding leaves as it is; every other byte becomes "%" and two upper-case hex
// digits (non-ASCII text as its UTF-8 bytes).
enum class Kept {
    // Letters, digits, "-", ".", "_", "~" and "/": the links of the folder pages, which then hold
    // nothing HTML would have to escape.
    PageLink,
    // PageLink plus the sub-delimiters "!$&'()*+,;=" and ":", "@", "[", "]": the path of a
    // WebDAV href, as QUrl writes a path.
    UrlPath,
};

// `utf8` with &, <, >, " and ' written as character references; `to` has room for
// EscapedSize bytes per input byte. Returns the end.
char *writeEscaped(char *to, QByteArrayView utf8);
void appendEscaped(QByteArray *out, QByteArrayView utf8);
QByteArray escaped(QByteArrayView utf8);
QByteArray escaped(QStringView text); // as its UTF-8 bytes

// `utf8` percent-encoded; `to` has room for EncodedSize bytes per input byte.
char *writePercentEncoded(char *to, QByteArrayView utf8, Kept kept);
void appendPercentEncoded(QByteArray *out, QByteArrayView utf8, Kept kept);
QByteArray percentEncoded(QByteArrayView utf8, Kept kept);

// `utf8` percent-encoded and then escaped, as it stands in an attribute or an XML text; `to`
// has room for EscapedSize bytes per input byte.
char *writeEncodedEscaped(char *to, QByteArrayView utf8, Kept kept);
void appendEncodedEscaped(QByteArray *out, QByteArrayView utf8, Kept kept);

} // namespace TextCoding

#endif
