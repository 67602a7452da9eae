#ifndef HTTPDATE_H
#define HTTPDATE_H

#include <QByteArrayView>
#include <QtGlobal>

struct timespec;

// The dates of the protocol, written and read without a socket.
namespace HttpDate {

// An HTTP date of a time since the epoch (whole seconds, rounded down): English names, always
// GMT, the day without a leading zero ("Sun, 6 Nov 1994 08:49:37 GMT"); with `twoDigitDay` with
// one where it needs one, as HTTP headers write it. Written at `out` (room for 40 bytes);
// returns the end.
char *write(char *out, qint64 msecsSinceEpoch, bool twoDigitDay = false);
// RFC 3339 without fractions of seconds ("2010-01-05T14:03:07Z"), as creationdate has it:
// written at `out` (room for 32 bytes); returns the end.
char *writeIso(char *out, qint64 msecsSinceEpoch);
// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT") as seconds since the epoch.
bool parse(QByteArrayView text, qint64 *secondsSinceEpoch);
// A time a client gives a file (X-OC-Mtime, the properties that set the modification time):
// seconds since the epoch, with a fraction or not, an HTTP date ("Tue, 05 Jan 2010 14:03:07
// GMT") or an ISO 8601 time. False when it is none of these.
bool parseTime(QByteArrayView text, struct timespec *time);

} // namespace HttpDate

#endif
