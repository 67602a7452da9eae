#ifndef CHUNKEDDECODER_H
#define CHUNKEDDECODER_H

#include <QtGlobal>

// Takes a request body sent with the chunked transfer coding apart (RFC 9112 7.1): chunks of a
// hexadecimal size, extensions and trailer fields read and ignored, the last chunk of size 0.
//
// The raw bytes may come in any pieces; each piece is decoded in place, the body bytes it holds
// moved to its front. Nothing is kept but the state between the pieces, so a body of any length
// costs the same few bytes. Anything that breaks the framing (a size that is not hexadecimal or
// does not fit 63 bits, a chunk without its CR LF, a line longer than the limits) fails the body
// for good: what follows cannot be told apart.
class ChunkedDecoder
{
public:
    // The longest chunk-size line with its extensions, and the longest trailer section.
    static constexpr int MaxSizeLine = 4096;
    static constexpr int MaxTrailer = 8192;

    // Decodes the `n` raw bytes at `data`: the body bytes among them end up at `data`, in order.
    // Returns their number; `*consumed` is the number of raw bytes taken, all of them unless the
    // body ended within them (the rest belongs to whatever follows the body) or failed.
    qint64 decode(char *data, qint64 n, qint64 *consumed);

    bool isDone() const { return state == State::Done; }
    bool hasFailed() const { return state == State::Failed; }
    // Body bytes of the current chunk still to come: raw bytes that are body bytes as they stand.
    qint64 dataLeft() const { return state == State::Data ? chunkLeft : 0; }
    // The body bytes decoded so far.
    qint64 decoded() const { return total; }

private:
    enum class State {
        Size,        // hexadecimal digits of a chunk size
        AfterSize,   // blanks, an extension, or the end of the size line
        Extension,   // an extension, up to the line's CR
        SizeLF,      // the LF after the size line's CR
        Data,        // the chunk's bytes
        DataCR,      // the CR after them
        DataLF,      // the LF after them
        Trailer,     // a trailer line (or the empty line that ends the body)
        TrailerLF,   // the LF after a trailer line's CR
        Done,
        Failed
    };

    State state = State::Size;
    qint64 chunkLeft = 0;
    qint64 total = 0;
    int digits = 0;     // digits of the current size
    int lineLength = 0; // bytes of the current size line, or of the trailer section
    bool emptyTrailerLine = true;
};

#endif
