#include "server/keypair.h"

#include "config/configuration.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

template <typename T, void (*Free)(T *)>
struct Freer
{
    void operator()(T *p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Freer<X509, X509_free>>;
using Number = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Freer<X509_EXTENSION, X509_EXTENSION_free>>;
using Memory = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;

// The newest reason OpenSSL gave, or `what` when it gave none.
QString openSslReason(const char *what)
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QString::fromLatin1(what);
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromLatin1(text);
}

QString systemReason(const char *what)
{
    return QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

bool addExtension(X509 *certificate, int nid, const QByteArray &value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    const Extension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.constData()));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Gives the finished file at `from` the name `to`, unless `to` exists: another process that made
// the same key pair at the same moment wins, and its file is never replaced.
bool renameUnlessExists(const QByteArray &from, const QByteArray &to, bool *existed)
{
    *existed = false;
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST) {
        *existed = true;
        return false;
    }
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system that cannot rename without replacing: a hard link also refuses an existing name.
    if (::link(from.constData(), to.constData()) != 0) {
        *existed = errno == EEXIST;
        return false;
    }
    ::unlink(from.constData());
    return true;
}

} // namespace

QByteArray KeyPair::generate(const QString &hostName, const QByteArray &passPhrase, QString *error)
{
    const QByteArray host = (hostName.isEmpty() ? QStringLiteral("localhost") : hostName).toUtf8();

    const Key key(EVP_RSA_gen(KeyBits));
    if (!key) {
        *error = openSslReason("no RSA key");
        return {};
    }
    const Certificate certificate(X509_new());
    const Number serial(BN_new());
    if (!certificate || !serial || X509_set_version(certificate.get(), X509_VERSION_3) != 1
        // A random positive serial number of 159 bits, as long as a serial number may be.
        || BN_rand(serial.get(), 159, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1
        || !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get()))
        // Valid from a day ago, for peers whose clocks are behind.
        || !X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -24L * 3600)
        || !X509_gmtime_adj(X509_getm_notAfter(certificate.get()), long(ValidDays) * 24 * 3600)
        || X509_set_pubkey(certificate.get(), key.get()) != 1) {
        *error = openSslReason("no certificate");
        return {};
    }
    X509_NAME *name = X509_get_subject_name(certificate.get());
    if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char *>(host.constData()), -1, -1, 0) != 1
        || X509_set_issuer_name(certificate.get(), name) != 1) {
        *error = openSslReason("no certificate name");
        return {};
    }
    // No key usage extension: without keyCertSign in it the certificate would not count as
    // signed by itself, and keyCertSign does not belong in a certificate that is no authority.
    // The names browsers check: this host and the loopback names the program is reached by here.
    // A host name that is not a DNS name (it holds other characters) is only the common name.
    const bool dnsName = !host.isEmpty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    });
    QByteArray names = "DNS:localhost,IP:127.0.0.1,IP:::1";
    if (dnsName && host != "localhost")
        names.prepend("DNS:" + host + ',');
    if (!addExtension(certificate.get(), NID_subject_alt_name, names)
        || !addExtension(certificate.get(), NID_basic_constraints, "critical,CA:FALSE")
        || !addExtension(certificate.get(), NID_ext_key_usage, "serverAuth")
        || !addExtension(certificate.get(), NID_subject_key_identifier, "hash")
        || X509_sign(certificate.get(), key.get(), EVP_sha256()) <= 0) {
        *error = openSslReason("the certificate cannot be signed");
        return {};
    }

    const Memory pem(BIO_new(BIO_s_mem()));
    if (!pem || PEM_write_bio_X509(pem.get(), certificate.get()) != 1
        || PEM_write_bio_PKCS8PrivateKey(pem.get(), key.get(), EVP_aes_256_cbc(), passPhrase.constData(),
                                         int(passPhrase.size()), nullptr, nullptr) != 1) {
        *error = openSslReason("the key pair cannot be written");
        return {};
    }
    char *data = nullptr;
    const long size = BIO_get_mem_data(pem.get(), &data);
    return QByteArray(data, int(size));
}

bool KeyPair::create(const QString &path, const QString &hostName, const QByteArray &passPhrase,
                     QString *error)
{
    if (QFileInfo::exists(path))
        return true;
    const QByteArray pem = generate(hostName, passPhrase, error);
    if (pem.isEmpty())
        return false;

    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = QFile::encodeName(QFileInfo(path).absolutePath() + QStringLiteral("/.ssl-XXXXXX"));
    // mkostemp makes the file with mode 0600 whatever the umask says.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = systemReason("no file in the profile folder");
        return false;
    }
    const bool written = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && writeAll(fd, pem) && ::fsync(fd) == 0;
    const int writeErrno = errno;
    if (::close(fd) != 0 || !written) {
        errno = written ? errno : writeErrno;
        *error = systemReason("the key pair cannot be written");
        ::unlink(temporary.constData());
        return false;
    }
    bool existed = false;
    if (!renameUnlessExists(temporary, target, &existed)) {
        const int renameErrno = errno;
        ::unlink(temporary.constData());
        if (existed)
            return true;
        errno = renameErrno;
        *error = systemReason("the key pair cannot be named");
        return false;
    }
    return true;
}

bool KeyPair::provideDefault(const QString &file, QString *error)
{
    return file != Configuration::defaultKeyFile()
        || create(file, QSysInfo::machineHostName(), QByteArray(Configuration::DefaultKeyPassword), error);
}

KeyPair KeyPair::read(const QString &file, const QString &passPhrase)
{
    KeyPair pair;
    pair.file = file;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return pair;
    pair.opened = true;
    // Both come from the one file: the certificate reader takes all of it, so the key is read
    // from the start again.
    pair.certificate = QSslCertificate(&in, QSsl::Pem);
    in.seek(0);
    pair.key = QSslKey(&in, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey, passPhrase.toLatin1());
    return pair;
}

KeyPair KeyPair::load(const QString &file, const QString &passPhrase)
{
    QString reason;
    if (!provideDefault(file, &reason)) {
        KeyPair pair;
        pair.file = file;
        pair.notMade = reason;
        return pair;
    }
    return read(file, passPhrase);
}

QString KeyPair::problem() const
{
    if (!opened)
        return tr("The key file %1 cannot be opened.").arg(file);
    if (key.isNull())
        return tr("The key in %1 cannot be read (wrong pass phrase?).").arg(file);
    if (certificate.isNull())
        return tr("The key file %1 holds no certificate.").arg(file);
    return QString();
}
