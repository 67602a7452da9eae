#include "web/filter.h"

#include "server/http_request.h"

#include <QDateTime>
#include <QFileInfo>

namespace {

int firstCharacter(const QString &text)
{
    return text.isEmpty() ? 0 : text.at(0).unicode();
}

} // namespace

void Filter::init(const HTTP_Request *request)
{
    recursive = !request->param("r").isEmpty();
    size1 = size2 = -1;
    date = 0;
    pattern = QRegularExpression();

    const QString s1 = request->param("s1");
    if (!s1.isEmpty()) {
        size1 = s1.toLongLong();
        size1Op = firstCharacter(request->param("s1o"));
    }
    const QString s2 = request->param("s2");
    if (!s2.isEmpty()) {
        size2 = s2.toLongLong();
        size2Op = firstCharacter(request->param("s2o"));
    }
    const QString t = request->param("t");
    if (!t.isEmpty()) {
        date = parseDate(t);
        dateOp = firstCharacter(request->param("to"));
        if (dateOp == '=')
            datePrecision = request->param("tu").toInt();
    }
    const QString p = request->param("p");
    if (!p.isEmpty())
        pattern = wildcard(p, !request->param("s").isEmpty());
}

qint64 Filter::parseDate(const QString &text)
{
    const QDateTime time = QDateTime::fromString(text, QStringLiteral("yyyyMMddHHm"));
    return time.isValid() ? time.toSecsSinceEpoch() : -1;
}

QRegularExpression Filter::wildcard(const QString &pattern, bool caseSensitive)
{
    // The pieces between the stars are found one after the other, each at its first place after
    // the one before: if the pattern matches anywhere, it matches so. Each piece is an atomic
    // group, so the search never tries other places for it: the time grows with the name times
    // the pattern, never exponentially (a pattern like *a*a*a*a...[!a] against long names would
    // otherwise hold the server for a long time per name).
    QString expression = QStringLiteral("^");
    QString piece;
    const auto endPiece = [&expression, &piece] {
        if (!piece.isEmpty())
            expression += QLatin1String("(?>.*?") + piece + u')';
        piece.clear();
    };
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == u'*') {
            endPiece();
        } else if (c == u'?') {
            piece += u'.';
        } else if (c == u'[') {
            const qsizetype close = pattern.indexOf(u']', i + 2);
            if (close < 0) {
                piece += QLatin1String("\\[");
                continue;
            }
            QString set = pattern.mid(i + 1, close - i - 1);
            if (set.startsWith(u'!'))
                set[0] = u'^';
            set.replace(u'\\', QLatin1String("\\\\"));
            piece += u'[' + set + u']';
            i = close;
        } else {
            piece += QRegularExpression::escape(QString(c));
        }
    }
    endPiece();
    return QRegularExpression(expression, caseSensitive ? QRegularExpression::NoPatternOption
                                                        : QRegularExpression::CaseInsensitiveOption);
}

bool Filter::accept(int op, qint64 bound, qint64 value)
{
    if (op == '<')
        return value < bound;
    if (op == '>')
        return value > bound;
    return value == bound;
}

bool Filter::accept(const QFileInfo *entry) const
{
    return accept(entry->isDir(), entry->size(), entry->lastModified().toMSecsSinceEpoch(), entry->fileName());
}

bool Filter::accept(bool folder, qint64 size, qint64 modifiedMs, const QString &name) const
{
    if (size1 >= 0) {
        if (folder)
            return true;
        if (!accept(size1Op, size1, size))
            return false;
    }
    if (size2 >= 0) {
        if (folder)
            return true;
        if (!accept(size2Op, size2, size))
            return false;
    }
    if (!pattern.pattern().isEmpty()) {
        if (folder)
            return true;
        if (!pattern.match(name).hasMatch())
            return false;
    }
    if (date == 0 || folder)
        return true;
    QDateTime time = QDateTime::fromMSecsSinceEpoch(modifiedMs);
    if (dateOp == '=')
        setDate(&time);
    return accept(dateOp, date, time.toSecsSinceEpoch());
}

void Filter::setDate(QDateTime *time) const
{
    QDate day = time->date();
    QTime clock = time->time();
    switch (datePrecision) {
    case 0: clock = QTime(clock.hour(), clock.minute(), clock.second()); break;
    case 1: clock = QTime(clock.hour(), clock.minute()); break;
    case 2: clock = QTime(clock.hour(), 0); break;
    case 3: day = QDate(day.year(), day.month(), 1); clock = QTime(0, 0); break;
    case 4: day = QDate(day.year(), 1, 1); clock = QTime(0, 0); break;
    default: return;
    }
    *time = QDateTime(day, clock, time->timeSpec());
}
