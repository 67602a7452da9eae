#ifndef BODYSINK_H
#define BODYSINK_H

#include <QByteArray>
#include <QByteArrayView>

class QFileDevice;

// Where the body of an upload goes: a file, or the content of one part of a form body, whose end
// is found by its closing delimiter.
//
// The pieces are written as they come. For a form part, the last bytes of the body are held back
// so that the delimiter can be searched in them; what stands before it is the content's end. A
// body of no known length (chunks) holds back the last bytes of what came so far.
class BodySink
{
public:
    // Result codes of saving a body.
    enum Result { Saved = 0, ReadFailed = 2, WriteFailed = 3, NoDelimiter = 6 };

    // Saves the next `length` bytes into `file` (below 0: all until the body ends); with a
    // `delimiter`, only those before it.
    void start(QFileDevice *file, const QByteArray &delimiter, qint64 length);
    bool isActive() const { return target != nullptr; }
    // Bytes still to come; below 0 when not known.
    qint64 remaining() const { return left; }
    // Takes the next piece (at most remaining() when that is known). False: the file did not
    // take it.
    bool write(QByteArrayView piece);
    // All bytes have come: ends the content at the delimiter and flushes the file.
    Result complete();
    // Forgets the target (the caller reports the result).
    void stop();

    // Where in `data` the first multipart delimiter stands (a `delimiter` followed by "--" or a
    // line end); -1 when none does.
    static qsizetype findDelimiter(QByteArrayView data, QByteArrayView delimiter);

private:
    bool put(QByteArrayView bytes);

    QFileDevice *target = nullptr;
    qint64 left = 0;
    bool syncedAtEnd = false;
    QByteArray boundary;
    QByteArray tail;
};

#endif
