#ifndef KEYPAIR_H
#define KEYPAIR_H

#include <QByteArray>
#include <QCoreApplication>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// A key pair for HTTPS: a certificate and an RSA private key, both in one PEM file (certificate
// first), as the listener reads it. `generate` and `create` make a self-signed pair on this
// machine; `read` loads one, as the settings dialog does before it hands a pair to the servers
// and the servers do to serve.
class KeyPair
{
    Q_DECLARE_TR_FUNCTIONS(KeyPair)

public:
    static constexpr int KeyBits = 3072;
    static constexpr int ValidDays = 3650;

    // The PEM text of a new key pair naming `hostName`, its key encrypted with `passPhrase`;
    // empty, with the reason in `error`, when it fails.
    static QByteArray generate(const QString &hostName, const QByteArray &passPhrase, QString *error);

    // Writes a new key pair to `path` unless a file of that name exists by then, which is left as
    // it is. The file is private to the user (mode 0600) and appears complete or not at all: it is
    // written under a temporary name in the same folder and takes its name only when it is done.
    // Returns false, with the reason in `error`, when no key pair is at `path` afterwards.
    static bool create(const QString &path, const QString &hostName, const QByteArray &passPhrase,
                       QString *error);

    // Makes the user's default key pair (Configuration::defaultKeyFile(), protected by
    // Configuration::DefaultKeyPassword) when `file` names it and it is not there yet. Returns
    // false, with the reason in `error`, when `file` is the default and no pair is there afterwards.
    static bool provideDefault(const QString &file, QString *error);

    // Reads both from `file`; the key is protected by `passPhrase` (Latin-1).
    static KeyPair read(const QString &file, const QString &passPhrase);
    // The pair a profile names, as the settings dialog checks it and the servers take it: the
    // default pair is made first (provideDefault), then `file` is read. When the default pair
    // cannot be made, nothing is read and `notMade` holds the reason.
    static KeyPair load(const QString &file, const QString &passPhrase);

    bool isUsable() const { return !key.isNull() && !certificate.isNull(); }
    // Why the pair is not usable, naming the file; empty when it is.
    QString problem() const;

    QString file;
    QString notMade;
    bool opened = false;
    QSslKey key;
    QSslCertificate certificate;
};

#endif
