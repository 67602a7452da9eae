#ifndef BODYSINK_H
#define BODYSINK_H

#include <QByteArray>
#include <QByteArrayMatcher>
#include <QByteArrayView>

class QFileDevice;

// Where the body of an upload goes: a file, or the parts of a form body (multipart/form-data),
// each ended by a delimiter line. The length of the body may be unknown (it comes in chunks).
//
// The pieces are written as they come. In a form body every piece is searched for the
// delimiter; only the last few bytes, which may be the start of one, wait for the next piece.
// The first part's headers have been read by the caller; the headers of the parts after it are
// handed to a Parts handler, which says where their content goes.
class BodySink
{
public:
    // Result codes of saving a body.
    enum Result { Saved = 0, ReadFailed = 2, WriteFailed = 3, NoDelimiter = 6 };

    // Told of the parts of a form body as they end and begin.
    class Parts
    {
    public:
        // The content of the part that went to `file` has ended; `written` is false when the
        // file did not take all of it.
        virtual void partEnded(QFileDevice *file, bool written) = 0;
        // The header lines of the next part (each ended by CR LF) have come: the file its content
        // goes to, or null to pass over it.
        virtual QFileDevice *nextPart(QByteArrayView headers) = 0;

    protected:
        ~Parts() = default;
    };

    // Saves the next `length` bytes (below 0: all until the body ends) into `file`; with a
    // `delimiter`, the content of the form
    // part they begin with, and the parts after it as `parts` says (none: passed over).
    void start(QFileDevice *file, const QByteArray &delimiter, qint64 length, Parts *parts = nullptr);
    bool isActive() const { return active; }
    // Bytes still to come; below 0 when not known (a body in chunks).
    qint64 remaining() const { return left; }
    // Takes the next piece (at most remaining() when that is known). False: the file did not
    // take it.
    bool write(QByteArrayView piece);
    // All bytes have come: a form body must have ended with its closing delimiter. Flushes the
    // file.
    Result complete();
    // Forgets the target (the caller reports the result).
    void stop();

    // Where in `data` the first multipart delimiter stands (a `delimiter` followed by "--" or a
    // line end); -1 when none does.
    static qsizetype findDelimiter(QByteArrayView data, QByteArrayView delimiter);

private:
    enum class State { Content, Headers, Epilogue };
    // What follows a delimiter in `after`.
    enum class Ending { Closing, NextPart, NotOne, Unknown };
    static Ending endingOf(QByteArrayView after, qsizetype *partStart);

    // Takes the bytes of a form body; false when the file did not take its content.
    bool take(QByteArrayView data);
    // Takes content up to the next delimiter; `rest` is what follows the delimiter line when
    // another part begins there.
    bool content(QByteArrayView data, QByteArrayView *rest);
    // Writes content of the current part.
    bool put(QByteArrayView data);
    void endPart();

    QFileDevice *target = nullptr;
    Parts *parts = nullptr;
    bool active = false;
    qint64 left = 0;
    bool syncedAtEnd = false;
    State state = State::Content;
    // A part's headers never ended.
    bool malformed = false;
    QByteArray boundary;
    QByteArrayMatcher matcher;
    // Bytes that may begin a delimiter, or the headers of a part so far.
    QByteArray held;
};

#endif
