// The readers of WebDAV request bodies and headers: PROPFIND and PROPPATCH bodies and the
// namespace prefix of a PROPFIND body, a LOCK body, an If header and a Timeout value.

#include "fuzzsupport.h"

#include "responses/davproperties.h"
#include "responses/lock.h"
#include "responses/preconditions.h"
#include "responses/propfind.h"

#include <cctype>
#include <QByteArray>
#include <QXmlStreamReader>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

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
        Fuzz::fail("stored property", element.toHex());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));

    // The prefix is written into every element name of the answer: one letter and a colon, or
    // nothing.
    const QByteArray prefix = PropFind::prefixOf(input);
    if (!prefix.isEmpty() && (prefix.size() != 2 || !std::isalpha(quint8(prefix.at(0))) || prefix.at(1) != ':'))
        Fuzz::fail("prefix", prefix.toHex());

    // A LOCK body: its owner is copied into answers, so it must be an XML element of its own.
    if (const std::optional<Lock::Info> info = Lock::infoOf(input)) {
        if (!info->owner.isEmpty()) {
            QXmlStreamReader owner(info->owner);
            while (!owner.atEnd())
                owner.readNext();
            if (owner.hasError() || !info->owner.startsWith("<D:owner"))
                Fuzz::fail("owner", info->owner.toHex());
        }
    }

    const qint64 timeout = Lock::timeoutOf(input);
    if (timeout < 1 || timeout > LockManager::MaxTimeoutSeconds)
        Fuzz::fail("timeout", QByteArray::number(timeout));

    // An If header: every state token is a URI, every entity tag quoted, nothing empty.
    if (const std::optional<QList<Preconditions::List>> lists = Preconditions::parseIf(input)) {
        if (lists->isEmpty())
            Fuzz::fail("if lists", input.toHex());
        for (const Preconditions::List &list : *lists) {
            if (list.conditions.isEmpty())
                Fuzz::fail("if conditions", input.toHex());
            for (const Preconditions::Condition &condition : list.conditions) {
                const QByteArray &v = condition.value;
                if (condition.entityTag ? !v.endsWith('"') || v.count('"') != 2 : v.indexOf(':') <= 0 || v.contains('>'))
                    Fuzz::fail("if condition", v.toHex());
            }
        }
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
