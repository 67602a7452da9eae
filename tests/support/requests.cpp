#include "requests.h"

#include "httpclient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

QByteArray bigData(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        // Not periodic in 64 KiB (a send's batch): a batch sent twice shows.
        bytes[i] = char(i * 31 + (i >> 8) + (i >> 16) * 13 + seed * 7);
    return bytes;
}

QByteArray basicAuth(const QByteArray &credentials)
{
    return "Authorization: Basic " + credentials.toBase64() + "\r\n";
}

QByteArray messageOf(const QByteArray &page)
{
    const qsizetype from = page.indexOf("</tr></table>") + 13;
    const qsizetype to = page.indexOf("<table border=\"1\" frame=\"border\">");
    return page.mid(from, to - from);
}

QByteArray formPost(const QByteArray &target, const QByteArray &body, const QByteArray &headers)
{
    return "POST " + target + " HTTP/1.1\r\n" + headers + "Content-Type: application/x-www-form-urlencoded\r\n"
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray uploadPost(const QByteArray &target, const QByteArray &fileName, const QByteArray &data,
                      const QByteArray &headers)
{
    const QByteArray body = multipartBody("XyZ", fileName, data);
    return "POST " + target + " HTTP/1.1\r\n" + headers + "Content-Type: multipart/form-data; boundary=XyZ\r\n"
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray cookieOf(const HttpReply &reply)
{
    const QByteArray cookie = reply.header("Set-Cookie");
    return cookie.left(cookie.indexOf(';') < 0 ? cookie.size() : cookie.indexOf(';'));
}

int rawConnect(quint16 port, int receiveBuffer)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
