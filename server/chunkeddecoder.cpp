#include "server/chunkeddecoder.h"

#include <cstring>
#include <limits>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A control character other than the tab: never part of a line's text.
bool isControl(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\t') || u == 0x7f;
}

} // namespace

qint64 ChunkedDecoder::decode(char *data, qint64 n, qint64 *consumed)
{
    qint64 in = 0;
    qint64 out = 0;
    while (in < n && state != State::Done && state != State::Failed) {
        if (state == State::Data) {
            const qint64 take = qMin(chunkLeft, n - in);
            if (out != in)
                std::memmove(data + out, data + in, size_t(take));
            in += take;
            out += take;
            total += take;
            chunkLeft -= take;
            if (chunkLeft == 0)
                state = State::DataCR;
            continue;
        }
        const char c = data[in++];
        switch (state) {
        case State::Size: {
            const int value = hexValue(c);
            if (value >= 0) {
                if (chunkLeft > (std::numeric_limits<qint64>::max() - value) / 16) {
                    state = State::Failed;
                    break;
                }
                chunkLeft = chunkLeft * 16 + value;
                ++digits;
            } else if (digits == 0) {
                state = State::Failed;
            } else if (c == ' ' || c == '\t') {
                state = State::AfterSize;
            } else if (c == ';') {
                state = State::Extension;
            } else if (c == '\r') {
                state = State::SizeLF;
            } else {
                state = State::Failed;
            }
            break;
        }
        case State::AfterSize:
            if (c == ';')
                state = State::Extension;
            else if (c == '\r')
                state = State::SizeLF;
            else if (c != ' ' && c != '\t')
                state = State::Failed;
            break;
        case State::Extension:
            if (c == '\r')
                state = State::SizeLF;
            else if (isControl(c))
                state = State::Failed;
            break;
        case State::SizeLF:
            if (c != '\n') {
                state = State::Failed;
            } else if (chunkLeft == 0) {
                // The last chunk: the trailer section follows, ended by an empty line.
                state = State::Trailer;
                emptyTrailerLine = true;
                lineLength = 0;
            } else {
                state = State::Data;
            }
            digits = 0;
            break;
        case State::DataCR:
            state = c == '\r' ? State::DataLF : State::Failed;
            break;
        case State::DataLF:
            state = c == '\n' ? State::Size : State::Failed;
            lineLength = 0;
            break;
        case State::Trailer:
            if (c == '\r')
                state = State::TrailerLF;
            else if (isControl(c))
                state = State::Failed;
            else
                emptyTrailerLine = false;
            break;
        case State::TrailerLF:
            if (c != '\n')
                state = State::Failed;
            else if (emptyTrailerLine)
                state = State::Done;
            else
                state = State::Trailer;
            emptyTrailerLine = true;
            break;
        case State::Data:
        case State::Done:
        case State::Failed:
            break;
        }
        // Lines are counted so that an endless size line or trailer cannot hold the connection.
        if (state == State::Size || state == State::AfterSize || state == State::Extension) {
            if (++lineLength > MaxSizeLine)
                state = State::Failed;
        } else if (state == State::Trailer || state == State::TrailerLF) {
            if (++lineLength > MaxTrailer)
                state = State::Failed;
        }
    }
    *consumed = in;
    return out;
}
