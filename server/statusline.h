#ifndef STATUSLINE_H
#define STATUSLINE_H

// Every status line the server sends, by name: the code and the reason text exactly as they are
// sent. A few codes have more than one line: the answers that have always sent a reason of
// their own keep it (a client may show it).
namespace StatusLine {

inline constexpr char Continue[] = "100 Continue";
inline constexpr char Ok[] = "200 OK";
inline constexpr char OkNotExists[] = "200 Not exists";
inline constexpr char OkLocked[] = "200 Locked";
inline constexpr char OkFileDeleted[] = "200 File deleted";
inline constexpr char OkDirDeleted[] = "200 Dir deleted";
inline constexpr char Created[] = "201 Created";
inline constexpr char Accepted[] = "202 Accepted";
inline constexpr char NoContent[] = "204 No Content";
inline constexpr char PartialContent[] = "206 Partial Content";
inline constexpr char MultiStatus[] = "207 Multi-Status";
inline constexpr char SeeOther[] = "303 See Other";
inline constexpr char NotModified[] = "304 Not Modified";
inline constexpr char BadRequest[] = "400 Bad Request";
inline constexpr char AuthorizationRequired[] = "401 Authorization Required";
inline constexpr char Forbidden[] = "403 Forbidden";
inline constexpr char NotFound[] = "404 Not Found";
inline constexpr char MethodNotAllowed[] = "405 Method Not Allowed";
inline constexpr char Conflict[] = "409 Conflict";
inline constexpr char Gone[] = "410 Gone";
inline constexpr char PreconditionFailed[] = "412 Precondition Failed";
inline constexpr char NameExists[] = "412 Name exists";
inline constexpr char RequestEntityTooLarge[] = "413 Request Entity Too Large";
inline constexpr char UriTooLong[] = "414 URI Too Long";
inline constexpr char UnsupportedMediaType[] = "415 Unsupported Media Type";
inline constexpr char RangeNotSatisfiable[] = "416 Range Not Satisfiable";
inline constexpr char MisdirectedRequest[] = "421 Misdirected Request";
inline constexpr char Locked[] = "423 Locked";
inline constexpr char ReadOnlyUpload[] = "423 Read only";
inline constexpr char ReadOnlyDelete[] = "423 Read-only";
inline constexpr char FailedDependency[] = "424 Failed Dependency";
inline constexpr char HeaderFieldsTooLarge[] = "431 Request Header Fields Too Large";
inline constexpr char InternalServerError[] = "500 Internal Server Error";
inline constexpr char RenameFailed[] = "500 Rename Failed";
inline constexpr char CantReadFile[] = "500 Can't read file";
inline constexpr char FileCopyError[] = "500 File copy error";
inline constexpr char FileCopyFailed[] = "500 File Copy Failed";
inline constexpr char MkpathFailed[] = "500 MKPATH Failed";
inline constexpr char NetworkReadError[] = "500 Network read error";
inline constexpr char BadGateway[] = "502 Bad Gateway";
inline constexpr char ServiceUnavailable[] = "503 Service Unavailable";
inline constexpr char InsufficientStorage[] = "507 Insufficient Storage";

} // namespace StatusLine

#endif
