#include "server/keypair.h"

#include <QFile>

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
