#pragma once
// Line-end conversion for ASCII-mode transfers, chunk by chunk. Both
// converters keep state across chunks, so a CR LF split between two chunks is
// still seen as one line end.

#include <QByteArray>
#include <QByteArrayView>

namespace kv::engine {

// Disk to network: every LF not already preceded by CR becomes CR LF.
class AsciiEncoder {
public:
    QByteArray convert(QByteArrayView chunk);

private:
    bool lastWasCr_ = false;
};

// Network to disk: CR LF becomes LF; a lone CR is kept.
class AsciiDecoder {
public:
    QByteArray convert(QByteArrayView chunk);
    // A CR held back at the end of the data (nothing followed it).
    QByteArray finish();

private:
    bool pendingCr_ = false;
};

} // namespace kv::engine
