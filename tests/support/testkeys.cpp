#include "testkeys.h"

#include "server/keypair.h"

#include <QFile>

QString makeTestKeyPair(const QString &dir, const QString &phrase, bool withCertificate)
{
    QString error;
    QByteArray pem = KeyPair::generate(QStringLiteral("localhost"), phrase.toLatin1(), &error);
    if (pem.isEmpty())
        return QString();
    if (!withCertificate) {
        // The certificate comes first; the key alone is what follows it.
        const QByteArray end = "-----END CERTIFICATE-----\n";
        pem.remove(0, pem.indexOf(end) + end.size());
    }
    QFile out(dir + QStringLiteral("/ssl.pem"));
    if (!out.open(QIODevice::WriteOnly) || out.write(pem) != pem.size())
        return QString();
    return out.fileName();
}
