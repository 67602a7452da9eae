#ifndef KEYPAIR_H
#define KEYPAIR_H

#include <QByteArray>
#include <QString>

// A key pair for HTTPS made on this machine: a self-signed certificate naming the host and an
// RSA key encrypted with a pass phrase, both in one PEM file (certificate first), as the
// listener reads it.
class KeyPair
{
public:
    static constexpr int KeyBits = 3072;
    static constexpr int ValidDays = 3650;

    // The PEM text of a new key pair; empty, with the reason in `error`, when it fails.
    static QByteArray generate(const QString &hostName, const QByteArray &passPhrase, QString *error);

    // Writes a new key pair to `path` unless a file of that name exists by then, which is left as
    // it is. The file is private to the user (mode 0600) and appears complete or not at all: it is
    // written under a temporary name in the same folder and takes its name only when it is done.
    // Returns false, with the reason in `error`, when no key pair is at `path` afterwards.
    static bool create(const QString &path, const QString &hostName, const QByteArray &passPhrase,
                       QString *error);
};

#endif
