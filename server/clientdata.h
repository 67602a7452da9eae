#ifndef CLIENTDATA_H
#define CLIENTDATA_H

#include <QByteArray>
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
    // Pictures in the applet's listings, as the applet last asked; unset: as the profile says.
    std::optional<bool> showImages;
    // Connections currently bound to the session; a bound session is never swept.
    int bindings = 0;
    // Kept after the last connection bound to it ends: a browser presented the id back as its
    // cookie, or logged in under it. Any other session goes with its last connection.
    bool confirmed = true;
};

#endif
