#include "ftp/LineEndings.h"

namespace kv::ftp {

char* reuseBuffer(QByteArray& buffer, qsizetype size) {
    if (buffer.isDetached() && buffer.capacity() >= size)
        buffer.resize(size); // no allocation, nothing copied
    else
        buffer = QByteArray(size, Qt::Uninitialized);
    return buffer.data();
}

// Both converters write through a raw pointer into a buffer sized for the
// worst case and cut it to length once, rather than appending byte by byte.
void AsciiEncoder::convert(QByteArrayView chunk, QByteArray& out) {
    char* const begin = reuseBuffer(out, 2 * chunk.size());
    char* to = begin;
    for (char c : chunk) {
        if (c == '\n' && !lastWasCr_)
            *to++ = '\r';
        *to++ = c;
        lastWasCr_ = (c == '\r');
    }
    out.resize(to - begin);
}

void AsciiDecoder::convert(QByteArrayView chunk, QByteArray& out) {
    char* const begin = reuseBuffer(out, chunk.size() + 1);
    char* to = begin;
    for (char c : chunk) {
        if (pendingCr_) {
            pendingCr_ = false;
            if (c != '\n')
                *to++ = '\r';
        }
        if (c == '\r')
            pendingCr_ = true;
        else
            *to++ = c;
    }
    out.resize(to - begin);
}

QByteArray AsciiDecoder::finish() {
    if (!pendingCr_)
        return {};
    pendingCr_ = false;
    return QByteArray(1, '\r');
}

} // namespace kv::ftp
