#include "engine/LineEndings.h"

namespace kv::engine {

QByteArray AsciiEncoder::convert(QByteArrayView chunk) {
    QByteArray out;
    out.reserve(chunk.size() + chunk.size() / 16 + 1);
    for (char c : chunk) {
        if (c == '\n' && !lastWasCr_)
            out.append('\r');
        out.append(c);
        lastWasCr_ = (c == '\r');
    }
    return out;
}

QByteArray AsciiDecoder::convert(QByteArrayView chunk) {
    QByteArray out;
    out.reserve(chunk.size() + 1);
    for (char c : chunk) {
        if (pendingCr_) {
            pendingCr_ = false;
            if (c != '\n')
                out.append('\r');
        }
        if (c == '\r')
            pendingCr_ = true;
        else
            out.append(c);
    }
    return out;
}

QByteArray AsciiDecoder::finish() {
    if (!pendingCr_)
        return {};
    pendingCr_ = false;
    return QByteArray(1, '\r');
}

} // namespace kv::engine
