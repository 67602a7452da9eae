// The readers of WebDAV request bodies and headers: PROPFIND and PROPPATCH bodies and the
// namespace prefix of a PROPFIND body, the scope of a LOCK body, a lock token in an If header
// and a Timeout value.

#include "responses/davproperties.h"
#include "responses/lock.h"
#include "responses/propfind.h"

#include <QByteArray>
#include <QXmlStreamReader>

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

// What a multistatus answer holds around a property: DAV: as the default namespace and as D:.
// The property's element must stay one well-formed element there, of the same name.
void checkInAnswer(const QByteArray &element, const DavProperties::Name &name)
{
    QXmlStreamReader xml("<D:prop xmlns:D=\"DAV:\" xmlns=\"DAV:\">" + element + "</D:prop>");
    int depth = 0;
    bool named = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && ++depth == 2)
            named = xml.namespaceUri().toUtf8() == name.space && xml.name().toUtf8() == name.local;
        else if (xml.isEndElement())
            --depth;
    }
    if (xml.hasError() || !named)
        fail("stored property", element);
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

    DavProperties::Request request;
    if (DavProperties::readPropFind(input, &request)) {
        for (const DavProperties::Name &name : std::as_const(request.names)) {
            QByteArray empty;
            DavProperties::appendEmpty(&empty, name, "");
            checkInAnswer(empty, name);
        }
    }
    QList<DavProperties::Update> updates;
    if (DavProperties::readPropertyUpdate(input, &updates)) {
        for (const DavProperties::Update &update : std::as_const(updates)) {
            if (!update.remove)
                checkInAnswer(update.element, update.name);
        }
    }
    return 0;
}
