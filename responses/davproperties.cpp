#include "responses/davproperties.h"

#include "responses/textcoding.h"

#include <QXmlStreamReader>

#include <cstring>

namespace DavProperties {

namespace {

constexpr char Dav[] = "DAV:";
constexpr char Windows[] = "urn:schemas-microsoft-com:";

struct Known
{
    const char *space;
    const char *local;
    Live kind;
};

// Every property the server keeps or reads itself; any other name is a dead property.
const Known KnownProperties[] = {
    {Dav, "getlastmodified", Live::LastModified},
    {Dav, "lastmodified", Live::SetsTime},
    {Windows, "Win32LastModifiedTime", Live::SetsTime},
    {Dav, "creationdate", Live::CreationDate},
    {Dav, "resourcetype", Live::ResourceType},
    {Dav, "getcontentlength", Live::ContentLength},
    {Dav, "quota-available-bytes", Live::QuotaAvailable},
    {Dav, "quota-used-bytes", Live::QuotaUsed},
    {Dav, "getetag", Live::ETag},
    {Dav, "getcontenttype", Live::ContentType},
    {Dav, "lockdiscovery", Live::LockDiscovery},
    {Dav, "supportedlock", Live::SupportedLock},
};

Name nameOf(const QXmlStreamReader &xml)
{
    return Name{xml.namespaceUri().toUtf8(), xml.name().toUtf8()};
}

bool isDav(const QXmlStreamReader &xml, QLatin1StringView local)
{
    return xml.namespaceUri() == QLatin1StringView(Dav) && xml.name() == local;
}

// A reader of one request body, element by element, that keeps the namespace declarations in
// scope for the elements it stores. QXmlStreamReader refuses what is not well-formed, prefixes
// not declared, and a prefix declared for no namespace ("xmlns:p=''").
class Reader
{
public:
    explicit Reader(QByteArrayView body)
        : xml(body.toByteArray())
    {
    }

    // The next start or end of an element; false at the end of the document or on an error.
    bool next()
    {
        while (!xml.atEnd()) {
            switch (xml.readNext()) {
            case QXmlStreamReader::StartElement:
                scopes.append(xml.namespaceDeclarations());
                return true;
            case QXmlStreamReader::EndElement:
                scopes.removeLast();
                return true;
            default:
                break;
            }
        }
        return false;
    }
    bool isStart() const { return xml.tokenType() == QXmlStreamReader::StartElement; }
    bool isEnd() const { return xml.tokenType() == QXmlStreamReader::EndElement; }
    // Reads past the end of the element just started.
    bool skip()
    {
        for (int depth = 1; depth > 0;) {
            if (!next())
                return false;
            depth += isStart() ? 1 : -1;
        }
        return true;
    }
    // Reads the rest of the document: true when it is well-formed to its end.
    bool finish()
    {
        while (next()) {
        }
        return !xml.hasError();
    }

    // The element just started, with all it holds, as a whole element of its own: its name
    // as written, every namespace in scope declared on it, and its content as read.
    bool store(QByteArray *element, QString *text)
    {
        // The namespaces in scope: the nearest declaration of each prefix.
        QList<QXmlStreamNamespaceDeclaration> scope;
        bool defaultDeclared = false;
        for (qsizetype i = scopes.size() - 1; i >= 0; --i) {
            for (const QXmlStreamNamespaceDeclaration &d : scopes.at(i)) {
                bool shadowed = false;
                for (const QXmlStreamNamespaceDeclaration &seen : scope)
                    shadowed = shadowed || seen.prefix() == d.prefix();
                if (!shadowed) {
                    scope.append(d);
                    defaultDeclared = defaultDeclared || d.prefix().isEmpty();
                }
            }
        }
        element->clear();
        text->clear();
        openTag(element, &scope, defaultDeclared);
        for (int depth = 1; depth > 0;) {
            switch (xml.readNext()) {
            case QXmlStreamReader::StartElement: {
                const QXmlStreamNamespaceDeclarations declarations = xml.namespaceDeclarations();
                openTag(element, &declarations, true);
                ++depth;
                break;
            }
            case QXmlStreamReader::EndElement:
                *element += "</" + xml.qualifiedName().toUtf8() + '>';
                --depth;
                break;
            case QXmlStreamReader::Characters:
                TextCoding::appendEscaped(element, xml.text().toUtf8());
                *text += xml.text();
                break;
            case QXmlStreamReader::Invalid:
                return false;
            default:
                // Comments and processing instructions are not part of the value.
                break;
            }
        }
        // The end of the property element itself was read here, not by next().
        scopes.removeLast();
        *text = text->trimmed();
        return true;
    }

    QXmlStreamReader xml;

private:
    void openTag(QByteArray *out, const QList<QXmlStreamNamespaceDeclaration> *declarations, bool defaultDeclared)
    {
        *out += '<' + xml.qualifiedName().toUtf8();
        // Stored on its own, the element must not fall into the namespace of what surrounds it.
        if (!defaultDeclared)
            *out += " xmlns=\"\"";
        for (const QXmlStreamNamespaceDeclaration &d : *declarations) {
            *out += d.prefix().isEmpty() ? QByteArray(" xmlns=\"") : " xmlns:" + d.prefix().toUtf8() + "=\"";
            TextCoding::appendEscaped(out, d.namespaceUri().toUtf8());
            *out += '"';
        }
        for (const QXmlStreamAttribute &a : xml.attributes()) {
            *out += ' ' + a.qualifiedName().toUtf8() + "=\"";
            TextCoding::appendEscaped(out, a.value().toUtf8());
            *out += '"';
        }
        *out += '>';
    }

    QList<QXmlStreamNamespaceDeclarations> scopes;
};

// Reads the property names inside the element just started (a prop or an include).
bool readNames(Reader &reader, QList<Name> *names)
{
    while (reader.next()) {
        if (reader.isEnd())
            return true;
        names->append(nameOf(reader.xml));
        if (!reader.skip())
            return false;
    }
    return false;
}

bool isBlank(QByteArrayView body)
{
    for (const char c : body) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            return false;
    }
    return true;
}

} // namespace

Live live(const Name &name)
{
    for (const Known &known : KnownProperties) {
        if (name.local == known.local && name.space == known.space)
            return known.kind;
    }
    return Live::None;
}

bool readPropFind(QByteArrayView body, Request *request)
{
    *request = Request();
    // No body asks for all properties (RFC 4918 9.1).
    if (isBlank(body))
        return true;
    Reader reader(body);
    if (!reader.next() || !isDav(reader.xml, QLatin1StringView("propfind")))
        return false;
    bool asked = false;
    while (reader.next() && reader.isStart()) {
        if (isDav(reader.xml, QLatin1StringView("allprop"))) {
            request->kind = Request::AllProp;
            asked = true;
            if (!reader.skip())
                return false;
        } else if (isDav(reader.xml, QLatin1StringView("propname"))) {
            request->kind = Request::PropName;
            asked = true;
            if (!reader.skip())
                return false;
        } else if (isDav(reader.xml, QLatin1StringView("prop"))) {
            request->kind = Request::Prop;
            asked = true;
            if (!readNames(reader, &request->names))
                return false;
        } else if (isDav(reader.xml, QLatin1StringView("include"))) {
            if (!readNames(reader, &request->names))
                return false;
        } else if (!reader.skip()) {
            // Elements of other namespaces may extend the request (RFC 4918 17).
            return false;
        }
    }
    if (request->kind != Request::Prop && request->kind != Request::AllProp)
        request->names.clear();
    return reader.finish() && asked;
}

bool readPropertyUpdate(QByteArrayView body, QList<Update> *updates)
{
    updates->clear();
    Reader reader(body);
    if (!reader.next() || !isDav(reader.xml, QLatin1StringView("propertyupdate")))
        return false;
    while (reader.next() && reader.isStart()) {
        const bool set = isDav(reader.xml, QLatin1StringView("set"));
        const bool remove = isDav(reader.xml, QLatin1StringView("remove"));
        if (!set && !remove) {
            if (!reader.skip())
                return false;
            continue;
        }
        // set and remove hold one prop each, whose children are the properties.
        while (reader.next() && reader.isStart()) {
            if (!isDav(reader.xml, QLatin1StringView("prop"))) {
                if (!reader.skip())
                    return false;
                continue;
            }
            while (reader.next() && reader.isStart()) {
                Update update;
                update.remove = remove;
                update.name = nameOf(reader.xml);
                if (remove ? !reader.skip() : !reader.store(&update.element, &update.text))
                    return false;
                updates->append(std::move(update));
            }
            if (reader.xml.hasError())
                return false;
        }
        if (reader.xml.hasError())
            return false;
    }
    return reader.finish() && !updates->isEmpty();
}

void appendEmpty(QByteArray *out, const Name &name, QByteArrayView davPrefix)
{
    *out += '<';
    if (name.space == Dav) {
        *out += davPrefix;
        *out += name.local;
        *out += "/>";
        return;
    }
    *out += name.local;
    *out += " xmlns=\"";
    TextCoding::appendEscaped(out, name.space);
    *out += "\"/>";
}

} // namespace DavProperties
