#include "testkeys.h"

#include <QFile>
#include <QProcess>

QString makeTestKeyPair(const QString &dir, const QString &phrase, bool withCertificate)
{
    const QString key = dir + QStringLiteral("/key.pem");
    const QString certificate = dir + QStringLiteral("/cert.pem");
    QProcess openssl;
    openssl.setStandardOutputFile(QProcess::nullDevice());
    openssl.setStandardErrorFile(QProcess::nullDevice());
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                   QStringLiteral("-keyout"), key, QStringLiteral("-passout"), QStringLiteral("pass:") + phrase,
                   QStringLiteral("-out"), certificate, QStringLiteral("-subj"), QStringLiteral("/CN=localhost"),
                   QStringLiteral("-days"), QStringLiteral("2")});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
        return QString();
    QFile out(dir + QStringLiteral("/ssl.pem"));
    if (!out.open(QIODevice::WriteOnly))
        return QString();
    QStringList parts{key};
    if (withCertificate)
        parts.prepend(certificate);
    for (const QString &part : parts) {
        QFile in(part);
        if (!in.open(QIODevice::ReadOnly))
            return QString();
        out.write(in.readAll());
    }
    return out.fileName();
}
