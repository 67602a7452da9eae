#include "server/tlscontext.h"

#include <QList>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <mutex>

namespace {

// A PEM text in memory, read by OpenSSL. A key that still asks for a pass phrase is refused
// instead of being asked for on the terminal.
template <typename T>
T *readPem(const QByteArray &pem, T *(*read)(BIO *, T **, pem_password_cb *, void *))
{
    BIO *bio = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    if (!bio)
        return nullptr;
    T *object = read(bio, nullptr, [](char *, int, int, void *) { return 0; }, nullptr);
    BIO_free(bio);
    return object;
}

// The pairs contexts were made for lately. The copies keep the pairs' native objects alive, so
// their addresses name them; a server reloading its key pair drops the oldest entries.
struct Made
{
    QSslKey key;
    QSslCertificate certificate;
    std::shared_ptr<const TlsContext> context;
};
constexpr qsizetype RememberedPairs = 8;

} // namespace

std::shared_ptr<const TlsContext> TlsContext::forKeyPair(const QSslKey &key, const QSslCertificate &certificate)
{
    static std::mutex lock;
    static QList<Made> made;
    const std::lock_guard<std::mutex> locked(lock);
    for (qsizetype i = 0; i < made.size(); ++i) {
        const Made &m = made.at(i);
        if (m.key.handle() == key.handle() && m.certificate.handle() == certificate.handle()
            && m.key.isNull() == key.isNull() && m.certificate.isNull() == certificate.isNull()) {
            if (i > 0)
                made.move(i, 0);
            return made.first().context;
        }
    }
    auto context = std::make_shared<const TlsContext>(key, certificate);
    made.prepend({key, certificate, context});
    if (made.size() > RememberedPairs)
        made.removeLast();
    return context;
}

TlsContext::TlsContext(const QSslKey &key, const QSslCertificate &certificate)
    : context(SSL_CTX_new(TLS_server_method())), served(certificate)
{
    if (!context)
        return;
    // TLS 1.2 and 1.3; the server's order of suites decides; no compression.
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_COMPRESSION);
    // Finite-field DHE with a group as strong as the key.
    SSL_CTX_set_dh_auto(context, 1);
    // Writes may stop short and go on from a buffer that moved; an idle connection holds no
    // record buffers.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER
                                  | SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    bool loaded = SSL_CTX_set_cipher_list(context, Suites) == 1;

    X509 *x509 = key.isNull() || certificate.isNull() ? nullptr : readPem(certificate.toPem(), PEM_read_bio_X509);
    QByteArray keyPem = x509 ? key.toPem() : QByteArray();
    EVP_PKEY *privateKey = keyPem.isEmpty() ? nullptr : readPem(keyPem, PEM_read_bio_PrivateKey);
    // The key in clear text goes as soon as OpenSSL holds it.
    keyPem.fill('\0');
    loaded = loaded && x509 && privateKey && SSL_CTX_use_certificate(context, x509) == 1
             && SSL_CTX_use_PrivateKey(context, privateKey) == 1 && SSL_CTX_check_private_key(context) == 1;
    X509_free(x509);
    EVP_PKEY_free(privateKey);
    // What failed stays out of the queue that Qt's own TLS sockets read in this thread.
    ERR_clear_error();
    usable = loaded;
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(context);
}
