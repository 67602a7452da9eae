#include "server/requesthead.h"

const QNetworkCookie *RequestHead::getCookie(QByteArrayView name) const
{
    for (const QNetworkCookie &cookie : cookies) {
        if (cookie.name() == name)
            return &cookie;
    }
    return nullptr;
}

void RequestHead::setCookie(const QByteArray &value)
{
    for (const QByteArray &piece : value.split(';'))
        addCookie(piece);
}

void RequestHead::addCookie(QByteArray piece)
{
    piece = piece.trimmed();
    const qsizetype equals = piece.indexOf('=');
    if (equals >= 1)
        cookies.append(QNetworkCookie(piece.left(equals), piece.mid(equals + 1)));
}

void RequestHead::setQuery(const QByteArray &query)
{
    rawQuery = query;
}

QString RequestHead::decodeFormValue(QByteArrayView raw)
{
    QByteArray bytes = raw.toByteArray();
    bytes.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(bytes));
}

QList<std::pair<QString, QString>> RequestHead::params() const
{
    QList<std::pair<QString, QString>> out;
    for (const QByteArray &item : rawQuery.split('&')) {
        if (item.isEmpty())
            continue;
        const qsizetype equals = item.indexOf('=');
        if (equals < 0)
            out.append({decodeFormValue(item), QString()});
        else
            out.append({decodeFormValue(QByteArrayView(item).first(equals)),
                        decodeFormValue(QByteArrayView(item).sliced(equals + 1))});
    }
    return out;
}

QString RequestHead::param(QByteArrayView name) const
{
    // Most requests have no query at all.
    if (rawQuery.isEmpty())
        return QString();
    const QString key = QString::fromUtf8(name);
    for (const auto &item : params()) {
        if (item.first == key)
            return item.second;
    }
    return QString();
}
