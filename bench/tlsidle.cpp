// What an idle TLS connection costs the server, by TLS engine: a server on 127.0.0.1 holds N
// connections (default 1000), each after one handshake and one small request and answer, once
// with a QSslSocket per connection and once with OpenSSL used directly on the descriptor (one
// SSL object and one read notifier per connection, SSL_MODE_RELEASE_BUFFERS so that an idle
// connection keeps no record buffers). The clients are a child process (blocking OpenSSL), so
// that only the server's memory is counted. Each engine runs in a fresh process. Prints the
// growth of the server's RSS per idle connection, its CPU time per connection (handshake plus
// request) and the clients' wall-clock time per connection. "openssl-kept" is the direct engine
// without SSL_MODE_RELEASE_BUFFERS, to show what releasing the buffers saves.
//     tessaly_tlsidle_bench [--connections N] [--engine qsslsocket|openssl|openssl-kept]

#include "server/keypair.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTextStream>
#include <QTimer>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const QByteArray PassPhrase = "bench";
const QByteArray Answer = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
const QByteArray Request = "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n";

qint64 rssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

double cpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

// ------------------------------------------------------------------ the clients (child process)

bool exchange(SSL *ssl)
{
    if (SSL_write(ssl, Request.constData(), int(Request.size())) != int(Request.size()))
        return false;
    QByteArray got;
    char buffer[512];
    while (!got.endsWith("hello")) {
        const int n = SSL_read(ssl, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        got.append(buffer, n);
    }
    return true;
}

// Opens one warm-up connection, says 'w' on `toServer`, waits for 'g', opens `count` more, says
// "d <connections> <ms per connection>" and holds them all until `fromServer` closes.
[[noreturn]] void clients(const sockaddr_in &address, int count, int fromServer, int toServer)
{
    SSL_CTX *context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    std::vector<SSL *> held;
    auto open = [&] {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        if (s < 0 || ::connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
            return false;
        SSL *ssl = SSL_new(context);
        SSL_set_fd(ssl, s);
        held.push_back(ssl);
        return SSL_connect(ssl) == 1 && exchange(ssl);
    };
    char byte = 0;
    const bool warm = open();
    if (::write(toServer, warm ? "w" : "f", 1) != 1 || ::read(fromServer, &byte, 1) != 1)
        ::_exit(1);
    int opened = 0;
    const auto start = std::chrono::steady_clock::now();
    while (opened < count && open())
        ++opened;
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const QByteArray done = "d " + QByteArray::number(opened) + ' ' + QByteArray::number(ms / std::max(1, opened)) + '\n';
    if (::write(toServer, done.constData(), done.size()) != done.size())
        ::_exit(1);
    while (::read(fromServer, &byte, 1) > 0) {
    }
    ::_exit(0);
}

// ------------------------------------------------------------------ the two engines

class QtEngine : public QTcpServer
{
public:
    QtEngine(const QByteArray &pem)
        : certificate(pem), key(pem, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, PassPhrase)
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(certificate);
        socket->setPrivateKey(key);
        connect(socket, &QSslSocket::readyRead, socket, [socket] {
            if (socket->readAll().endsWith("\r\n\r\n"))
                socket->write(Answer);
        });
        socket->startServerEncryption();
    }

private:
    QSslCertificate certificate;
    QSslKey key;
};

// One connection of the OpenSSL engine: the handshake, then requests answered as they come.
class TlsConnection : public QObject
{
public:
    TlsConnection(SSL_CTX *context, int fd, QObject *parent)
        : QObject(parent), fd(fd), ssl(SSL_new(context)), reading(fd, QSocketNotifier::Read)
    {
        SSL_set_fd(ssl, fd);
        SSL_set_accept_state(ssl);
        connect(&reading, &QSocketNotifier::activated, this, &TlsConnection::progress);
        progress();
    }

    ~TlsConnection() override
    {
        SSL_free(ssl);
        ::close(fd);
    }

private:
    void progress()
    {
        char buffer[2048];
        for (;;) {
            const int n = SSL_read(ssl, buffer, sizeof buffer);
            if (n > 0) {
                request.append(buffer, n);
                if (request.endsWith("\r\n\r\n")) {
                    request.clear();
                    SSL_write(ssl, Answer.constData(), int(Answer.size()));
                }
                continue;
            }
            const int reason = SSL_get_error(ssl, n);
            if (reason == SSL_ERROR_WANT_READ)
                return;
            if (reason == SSL_ERROR_WANT_WRITE) {
                // Rare on loopback: a full send buffer; wait for room.
                writing = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
                connect(writing.get(), &QSocketNotifier::activated, this, [this] {
                    writing.reset();
                    progress();
                });
                return;
            }
            deleteLater();
            return;
        }
    }

    int fd;
    SSL *ssl;
    QSocketNotifier reading;
    std::unique_ptr<QSocketNotifier> writing;
    QByteArray request;
};

class OpenSslEngine : public QObject
{
public:
    OpenSslEngine(const QByteArray &pem, int listener, bool releaseBuffers)
        : context(SSL_CTX_new(TLS_server_method())), listener(listener), accepting(listener, QSocketNotifier::Read)
    {
        BIO *bio = BIO_new_mem_buf(pem.constData(), int(pem.size()));
        X509 *certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        EVP_PKEY *key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char *>(PassPhrase.constData()));
        BIO_free(bio);
        usable = certificate && key && SSL_CTX_use_certificate(context, certificate) == 1
            && SSL_CTX_use_PrivateKey(context, key) == 1;
        X509_free(certificate);
        EVP_PKEY_free(key);
        if (releaseBuffers)
            SSL_CTX_set_mode(context, SSL_MODE_RELEASE_BUFFERS);
        ::fcntl(listener, F_SETFL, O_NONBLOCK);
        connect(&accepting, &QSocketNotifier::activated, this, &OpenSslEngine::accept);
    }

    ~OpenSslEngine() override
    {
        qDeleteAll(children());
        SSL_CTX_free(context);
    }

    bool usable = false;

private:
    void accept()
    {
        for (;;) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            // Without it the session tickets and the answer, written one after the other, wait
            // for the client's delayed acknowledgement: 40 ms per connection.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            new TlsConnection(context, fd, this);
        }
    }

    SSL_CTX *context;
    int listener;
    QSocketNotifier accepting;
};

// ------------------------------------------------------------------ one engine, one process

int runEngine(const QByteArray &engine, int count, int argc, char *argv[])
{
    QString error;
    const QByteArray pem = KeyPair::generate(QStringLiteral("localhost"), PassPhrase, &error);
    QTextStream out(stdout);
    if (pem.isEmpty()) {
        out << "no key pair: " << error << '\n';
        return 1;
    }
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int toChild[2], fromChild[2];
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 4096) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0
        || ::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0)
        return 1;
    // The clients are forked before Qt starts any thread.
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(listener);
        ::close(toChild[1]);
        ::close(fromChild[0]);
        clients(address, count, toChild[0], fromChild[1]);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);

    QCoreApplication app(argc, argv);
    std::unique_ptr<QObject> server;
    if (engine == "qsslsocket") {
        auto qt = std::make_unique<QtEngine>(pem);
        if (!qt->setSocketDescriptor(listener))
            return 1;
        server = std::move(qt);
    } else {
        auto direct = std::make_unique<OpenSslEngine>(pem, listener, engine == "openssl");
        if (!direct->usable) {
            out << "the key pair does not load into OpenSSL\n";
            return 1;
        }
        server = std::move(direct);
    }

    qint64 rssBefore = 0;
    double cpuBefore = 0;
    QByteArray said;
    QSocketNotifier fromClients(fromChild[0], QSocketNotifier::Read);
    QObject::connect(&fromClients, &QSocketNotifier::activated, &app, [&] {
        char buffer[128];
        const ssize_t n = ::read(fromChild[0], buffer, sizeof buffer);
        if (n <= 0) {
            out << engine << ": the clients stopped\n";
            app.exit(1);
            return;
        }
        said.append(buffer, n);
        if (said == "w") {
            said.clear();
            rssBefore = rssKiB();
            cpuBefore = cpuMs();
            if (::write(toChild[1], "g", 1) != 1)
                app.exit(1);
        } else if (said.startsWith('f')) {
            out << engine << ": the first connection failed\n";
            app.exit(1);
        } else if (said.startsWith('d') && said.endsWith('\n')) {
            fromClients.setEnabled(false);
            const QList<QByteArray> words = said.trimmed().split(' ');
            const int opened = words.value(1).toInt();
            const double cpu = (cpuMs() - cpuBefore) / std::max(1, opened);
            // A moment for what the last connections left in flight.
            QTimer::singleShot(500, &app, [&, opened, cpu, words] {
                const qint64 grown = rssKiB() - rssBefore;
                out << "| " << engine << " | " << opened << " | " << Qt::fixed << qSetRealNumberPrecision(1)
                    << double(grown) / std::max(1, opened) << " | " << qSetRealNumberPrecision(2) << cpu
                    << " | " << words.value(2).toDouble() << " |\n";
                app.exit(opened == count ? 0 : 1);
            });
        }
    });
    const int code = app.exec();
    ::close(toChild[1]);
    ::waitpid(child, nullptr, 0);
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    int count = 1000;
    QByteArray engine;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (qstrcmp(argv[i], "--connections") == 0)
            count = std::max(1, atoi(argv[i + 1]));
        else if (qstrcmp(argv[i], "--engine") == 0)
            engine = argv[i + 1];
    }
    rlimit files;
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    if (!engine.isEmpty())
        return runEngine(engine, count, argc, argv);

    QCoreApplication app(argc, argv);
    QTextStream(stdout) << "Idle TLS connections after one request each, server side; a fresh process per engine\n\n"
                        << "| engine | connections | RSS per idle connection (KiB) | server CPU per connection (ms)"
                           " | client time per connection (ms) |\n|---|---:|---:|---:|---:|\n"
                        << Qt::flush;
    int failed = 0;
    for (const char *e : {"qsslsocket", "openssl", "openssl-kept"}) {
        failed += QProcess::execute(QString::fromLocal8Bit(argv[0]),
                                    {QStringLiteral("--connections"), QString::number(count),
                                     QStringLiteral("--engine"), QString::fromLatin1(e)}) != 0;
    }
    return failed ? 1 : 0;
}
