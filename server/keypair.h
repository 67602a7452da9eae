#ifndef KEYPAIR_H
#define KEYPAIR_H

#include <QCoreApplication>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// The certificate and the RSA private key of one PEM file, as HTTPS needs them. The settings
// dialog reads a pair before it hands it to the servers, and the servers read it to serve.
class KeyPair
{
    Q_DECLARE_TR_FUNCTIONS(KeyPair)

public:
    // Reads both from `file`; the key is protected by `passPhrase` (Latin-1).
    static KeyPair read(const QString &file, const QString &passPhrase);

    bool isUsable() const { return !key.isNull() && !certificate.isNull(); }
    // Why the pair is not usable, naming the file; empty when it is.
    QString problem() const;

    QString file;
    bool opened = false;
    QSslKey key;
    QSslCertificate certificate;
};

#endif
