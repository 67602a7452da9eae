#ifndef FILTER_H
#define FILTER_H

#include <QRegularExpression>

class HTTP_Request;
class QDateTime;
class QFileInfo;

// The selection of one listing request: name pattern, size bounds and a date bound, all of which
// apply to files only (folders always pass), and whether the listing descends into sub-folders.
class Filter
{
public:
    // Reads the request parameters r, s1, s1o, s2, s2o, t, to, tu, p and s. The operators and
    // the date precision keep their last values when their parameters are not read.
    void init(const HTTP_Request *request);
    bool accept(const QFileInfo *entry) const;
    // The same for an entry with these properties (`modifiedMs` since the epoch).
    bool accept(bool folder, qint64 size, qint64 modifiedMs, const QString &name) const;
    // "<" is value < bound, ">" is value > bound, anything else value == bound.
    static bool accept(int op, qint64 bound, qint64 value);
    // Truncates a time to the date precision: 0 seconds, 1 minutes, 2 hours, 3 months, 4 years.
    void setDate(QDateTime *time) const;

    // A date bound "yyyyMMddHHm" (local time) in seconds since 1970, or -1 when it is unparsable.
    static qint64 parseDate(const QString &text);
    // A case-(in)sensitive expression that finds a shell-style wildcard pattern anywhere in a
    // name, in time proportional to the name's length times the pattern's.
    static QRegularExpression wildcard(const QString &pattern, bool caseSensitive);

    bool recursive = false;
    qint64 size1 = -1;
    qint64 size2 = -1;
    qint64 date = 0;
    int size1Op = 0;
    int size2Op = 0;
    int dateOp = 0;
    int datePrecision = 0;
    QRegularExpression pattern;
};

#endif
