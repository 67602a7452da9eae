#ifndef TLSCONTEXT_H
#define TLSCONTEXT_H

#include <QSslCertificate>
#include <QSslKey>

#include <memory>

struct ssl_ctx_st;

// What the encrypted connections served with one key pair share: the certificate, the private key
// and the protocols and suites offered (TLS 1.2 and 1.3; ephemeral (EC)DH key exchange with an
// authenticated server only). Connections hold the context they were made with, so a reloaded key
// pair serves new connections while the older ones go on with the pair they began with.
class TlsContext
{
public:
    // The TLS 1.2 suites offered, most preferred first: OpenSSL's default list without key
    // exchange by the server's RSA key, pre-shared keys, SRP and anonymous suites. The TLS 1.3
    // suites are OpenSSL's default ones, all of which exchange keys ephemerally.
    static constexpr char Suites[] = "DEFAULT:!kRSA:!PSK:!SRP:!aNULL";

    // The context for this key pair: the same one for every call with the same pair (or a copy of
    // it), a new one for another pair.
    static std::shared_ptr<const TlsContext> forKeyPair(const QSslKey &key, const QSslCertificate &certificate);

    // The pair is handed over as PEM text. A pair that does not load (a null key, a certificate
    // that is not the key's) makes a context that is not usable: its connections fail at once.
    TlsContext(const QSslKey &key, const QSslCertificate &certificate);
    ~TlsContext();
    TlsContext(const TlsContext &) = delete;
    TlsContext &operator=(const TlsContext &) = delete;

    bool isUsable() const { return usable; }
    ssl_ctx_st *handle() const { return context; }
    const QSslCertificate &certificate() const { return served; }

private:
    ssl_ctx_st *context = nullptr;
    bool usable = false;
    QSslCertificate served;
};

#endif
