#ifndef MESSAGEPAGES_H
#define MESSAGEPAGES_H

class Response;

// The small pages any answer may end with, written as `response`'s answer.
namespace MessagePages {

// The page for a missing file. It names what was asked for as the share sees it, never where
// the server looked for it.
void sendNotFound(Response *response);
// The login page of the current language, answered with `status`.
void sendLogin(Response *response, const char *status);
// A short page of one message ("200 OK"), as the outcome of a form upload.
void sendMessage(Response *response, const char *message);

} // namespace MessagePages

#endif
