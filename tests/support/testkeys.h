#ifndef TESTKEYS_H
#define TESTKEYS_H

#include <QString>

// Writes a fresh self-signed key pair for localhost into `dir`/ssl.pem (the certificate, then the
// RSA key protected by `phrase`; only the key without `withCertificate`) and returns its path,
// or an empty string when no pair could be made.
QString makeTestKeyPair(const QString &dir, const QString &phrase, bool withCertificate = true);

#endif
