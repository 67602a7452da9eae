#include "responses/textcoding.h"

#include <array>
#include <cstring>

namespace {

// The character reference of each byte that has one, else null.
const std::array<const char *, 256> References = [] {
    std::array<const char *, 256> table{};
    table['&'] = "&amp;";
    table['<'] = "&lt;";
    table['>'] = "&gt;";
    table['"'] = "&quot;";
    table['\''] = "&#39;";
    return table;
}();

using KeptSet = std::array<bool, 256>;

KeptSet keptSet(QByteArrayView bytes)
{
    KeptSet table{};
    for (const char c : bytes)
        table[static_cast<unsigned char>(c)] = true;
    return table;
}

const KeptSet KeptInPageLink = keptSet("-./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz~");
const KeptSet KeptInUrlPath = keptSet("!$&'()*+,-./0123456789:;=@ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                      "[]_abcdefghijklmnopqrstuvwxyz~");

const KeptSet &keptBy(TextCoding::Kept kept)
{
    return kept == TextCoding::Kept::UrlPath ? KeptInUrlPath : KeptInPageLink;
}

char *putEncoded(char *to, unsigned char u)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    *to++ = '%';
    *to++ = Hex[u >> 4];
    *to++ = Hex[u & 15];
    return to;
}

char *putEscaped(char *to, char c)
{
    if (const char *reference = References[static_cast<unsigned char>(c)]) {
        const size_t n = std::strlen(reference);
        std::memcpy(to, reference, n);
        return to + n;
    }
    *to++ = c;
    return to;
}

// Runs `write` on room for `perByte` bytes per byte of `utf8` at the end of `out`.
template <typename Write>
void appendWith(QByteArray *out, QByteArrayView utf8, qsizetype perByte, Write write)
{
    const qsizetype at = out->size();
    out->resize(at + perByte * utf8.size());
    char *const end = write(out->data() + at);
    out->resize(end - out->constData());
}

} // namespace

namespace TextCoding {

char *writeEscaped(char *to, QByteArrayView utf8)
{
    for (const char c : utf8)
        to = putEscaped(to, c);
    return to;
}

void appendEscaped(QByteArray *out, QByteArrayView utf8)
{
    appendWith(out, utf8, EscapedSize, [utf8](char *to) { return writeEscaped(to, utf8); });
}

QByteArray escaped(QByteArrayView utf8)
{
    QByteArray out;
    appendEscaped(&out, utf8);
    return out;
}

QByteArray escaped(QStringView text)
{
    return escaped(QByteArrayView(text.toUtf8()));
}

char *writePercentEncoded(char *to, QByteArrayView utf8, Kept kept)
{
    const KeptSet &set = keptBy(kept);
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (set[u])
            *to++ = c;
        else
            to = putEncoded(to, u);
    }
    return to;
}

void appendPercentEncoded(QByteArray *out, QByteArrayView utf8, Kept kept)
{
    appendWith(out, utf8, EncodedSize, [utf8, kept](char *to) { return writePercentEncoded(to, utf8, kept); });
}

QByteArray percentEncoded(QByteArrayView utf8, Kept kept)
{
    QByteArray out;
    appendPercentEncoded(&out, utf8, kept);
    return out;
}

char *writeEncodedEscaped(char *to, QByteArrayView utf8, Kept kept)
{
    const KeptSet &set = keptBy(kept);
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        to = set[u] ? putEscaped(to, c) : putEncoded(to, u);
    }
    return to;
}

void appendEncodedEscaped(QByteArray *out, QByteArrayView utf8, Kept kept)
{
    appendWith(out, utf8, EscapedSize, [utf8, kept](char *to) { return writeEncodedEscaped(to, utf8, kept); });
}

} // namespace TextCoding
