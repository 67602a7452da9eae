#ifndef DAVPROPERTIES_H
#define DAVPROPERTIES_H

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// WebDAV properties (RFC 4918 4, 15; RFC 4331): their names, the live ones the server keeps
// itself, and what the bodies of PROPFIND and PROPPATCH ask of them. Bodies are read with
// QXmlStreamReader; one that is not well-formed XML with namespaces (a prefix declared for no
// namespace too), or is not the document its method takes, is refused.
namespace DavProperties {

// A property's name: its namespace (empty: none) and its local name, both UTF-8.
struct Name
{
    QByteArray space;
    QByteArray local;

    bool operator==(const Name &other) const { return space == other.space && local == other.local; }
};

// The properties the server keeps itself. The others are dead: stored as the client sent them.
enum class Live {
    None,
    LastModified,   // DAV:getlastmodified; setting it sets the modification time
    SetsTime,       // DAV:lastmodified, Win32LastModifiedTime: set the modification time, not listed
    CreationDate,   // DAV:creationdate
    ResourceType,   // DAV:resourcetype
    ContentLength,  // DAV:getcontentlength
    QuotaAvailable, // DAV:quota-available-bytes, folders only, only when asked for by name
    QuotaUsed,      // DAV:quota-used-bytes, the same
    ETag,           // DAV:getetag, files only: GET's ETag
    ContentType,    // DAV:getcontenttype, files with a type only: GET's Content-Type
    LockDiscovery,  // DAV:lockdiscovery: the locks held on the item
    SupportedLock,  // DAV:supportedlock
};
Live live(const Name &name);
// Whether a client may set the property (a dead one, or one that sets the time).
inline bool isSettable(Live kind)
{
    return kind == Live::None || kind == Live::LastModified || kind == Live::SetsTime;
}

// What a PROPFIND body asks for. No body at all is allprop.
struct Request
{
    enum Kind { AllProp, PropName, Prop };
    Kind kind = AllProp;
    // Prop: the properties asked for; AllProp: those its include element adds.
    QList<Name> names;
};
// False for a body that is not a propfind document.
bool readPropFind(QByteArrayView body, Request *request);

// One instruction of a PROPPATCH body, in the order of the body.
struct Update
{
    bool remove = false;
    Name name;
    // A set: the property element as it is stored and listed again, a whole XML element that
    // declares every namespace its content uses (also the default one, if only as none).
    QByteArray element;
    // A set: the element's text, without blanks around it (what the live properties read).
    QString text;
};
// False for a body that is not a propertyupdate document, or one without instructions.
bool readPropertyUpdate(QByteArrayView body, QList<Update> *updates);

// The element of an empty property of `name`: "<P:local/>" for a DAV: property with the prefix
// `davPrefix` ("D:" or nothing, for DAV: as the default namespace), else with its own default
// namespace.
void appendEmpty(QByteArray *out, const Name &name, QByteArrayView davPrefix);

} // namespace DavProperties

#endif
