#include "server/clientdata.h"

#include <QRandomGenerator>

#include <openssl/crypto.h>

namespace {
// Random bits of a form token.
constexpr int TokenWords = 4;
} // namespace

ClientData::ClientData(qint64 id)
    : id(id)
{
}

void ClientData::end(qint64 now)
{
    active = false;
    endTime = now;
}

const QByteArray &ClientData::formToken()
{
    if (token.isEmpty()) {
        quint32 words[TokenWords];
        QRandomGenerator::system()->fillRange(words);
        token = QByteArray(reinterpret_cast<const char *>(words), sizeof words).toHex();
    }
    return token;
}

bool ClientData::holdsToken(QByteArrayView given)
{
    const QByteArray &own = formToken();
    // The length is no secret: every token has the same.
    return given.size() == own.size() && CRYPTO_memcmp(given.data(), own.constData(), size_t(own.size())) == 0;
}
