#ifndef CLIENTDATA_H
#define CLIENTDATA_H

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

// One browser session, named by the "ID" cookie. It holds what the folder pages remember
// between requests and, with password-only access, the password the browser logged in with.
class ClientData
{
public:
    explicit ClientData(qint64 id);

    // The session's last connection ended at `now` (milliseconds of the manager's clock).
    void end(qint64 now);

    bool active = true;
    bool showList = true;
    QString password;
    int sortFlags = 0;
    qint64 id;
    int page = 0;
    int pageSize = 24;
    qint64 endTime = -1;
    QByteArray message;
    // The responsive pages: largest, newest or last name first; cards (or a list).
    bool descending = false;
    bool gridView = true;
    // The secret the responsive pages' forms carry: a request that changes the share must
    // present it, which a page of another site cannot. Made when first asked for.
    const QByteArray &formToken();
    // Whether `given` is the session's form token (compared in constant time).
    bool holdsToken(QByteArrayView given);
    // Pictures in the applet's listings, as the applet last asked; unset: as the profile says.
    std::optional<bool> showImages;
    // Connections currently bound to the session; a bound session is never swept.
    int bindings = 0;
    // Kept after the last connection bound to it ends: a browser presented the id back as its
    // cookie, or logged in under it. Any other session goes with its last connection.
    bool confirmed = true;

private:
    QByteArray token;
};

#endif
