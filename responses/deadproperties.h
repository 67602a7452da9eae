#ifndef DEADPROPERTIES_H
#define DEADPROPERTIES_H

#include "responses/davproperties.h"

#include <QByteArray>
#include <QList>

#include <optional>

// The dead properties of a file or folder, kept in its own extended attributes: they survive a
// restart, move with the item, are copied with it and go when it is deleted. Each property is
// one attribute of the "user." namespace named "user.dav." followed by its name in the
// {namespace}local form, holding the property's element as PROPPATCH stored it
// (DavProperties::Update::element). Every call works on a descriptor of the item (opened for
// reading: an O_PATH descriptor cannot reach attributes).
namespace DeadProperties {

// The item open at `fd` (O_PATH will do; a folder when `folder`) opened again, for reading, as
// the calls here need it; -1 when it cannot be read.
int reopen(int fd, bool folder);

// The attribute of a property ("user.dav.{DAV:}displayname").
QByteArray attributeName(const DavProperties::Name &name);
// The property an attribute name holds; false for other attributes.
bool propertyOf(QByteArrayView attribute, DavProperties::Name *name);

struct Stored
{
    DavProperties::Name name;
    QByteArray element;
};

// The properties of the item open at `fd`, in the order of their attributes; `withValues`
// false leaves the elements empty. A file system without extended attributes has none.
QList<Stored> readAll(int fd, bool withValues = true);
// One property's element; nothing when the item has no such property.
std::optional<QByteArray> read(int fd, const DavProperties::Name &name);
// Sets or removes (nothing: removes) a property. Returns 0 or the errno of the failure; removing
// what is not there succeeds.
int write(int fd, const DavProperties::Name &name, const std::optional<QByteArray> &element);
// Listings read the properties of a folder's entries only where the folder is marked as holding
// entries with properties: every listing of every folder would otherwise open each entry. The
// mark is an attribute of the folder ("user.dav.entries"), set whenever a property is stored on
// an entry or an entry with properties arrives, and moved and copied with the folder. The
// folder may be open at `folder` by an O_PATH descriptor.
void markFolder(int folder);
bool isMarked(int folder);

// Gives the item open at `to` the attributes of the "user." namespace of the item open at
// `from` (those of other programs too, as cp -a does). Returns whether they hold properties;
// `*complete` tells whether every one was copied.
bool copy(int from, int to, bool *complete = nullptr);

} // namespace DeadProperties

#endif
