// The small readers of WebDAV request bodies and headers: the namespace prefix of a PROPFIND
// body, the scope of a LOCK body, a lock token in an If header and a Timeout value.

#include "responses/lock.h"
#include "responses/propfind.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

[[noreturn]] void fail(const char *what, const QByteArray &value)
{
    std::fprintf(stderr, "FUZZ FAILURE: %s: %s\n", what, value.toHex().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));

    // The prefix is written into every element name of the answer: one letter and a colon, or
    // nothing.
    const QByteArray prefix = PropFind::prefixOf(input);
    if (!prefix.isEmpty() && (prefix.size() != 2 || !isLetter(prefix.at(0)) || prefix.at(1) != ':'))
        fail("prefix", prefix);

    const QByteArray scope = Lock::scopeOf(input);
    if (scope != "shared" && scope != "exclusive")
        fail("scope", scope);

    // A token goes into a header and an XML text unchanged: only plain characters.
    const QByteArray token = Lock::tokenOf(input);
    for (const char c : token) {
        if (!(isLetter(c) || (c >= '0' && c <= '9') || c == '-' || c == ':'))
            fail("token", token);
    }

    const QByteArray timeout = Lock::timeoutOf(input);
    if (timeout != "Infinite" && !timeout.startsWith("Second-"))
        fail("timeout", timeout);
    for (const char c : timeout.mid(7)) {
        if (timeout != "Infinite" && (c < '0' || c > '9'))
            fail("timeout", timeout);
    }
    return 0;
}
