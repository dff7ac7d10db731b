#pragma once
// Line-end conversion for ASCII-mode transfers, chunk by chunk. Both
// converters keep state across chunks, so a CR LF split between two chunks is
// still seen as one line end.

#include <QByteArray>
#include <QByteArrayView>

namespace kv::ftp {

// Disk to network: every LF not already preceded by CR becomes CR LF.
class AsciiEncoder {
public:
    // Puts the converted chunk into `out`, reusing its memory when nobody
    // else holds it (a transfer converts every chunk into the same buffer).
    void convert(QByteArrayView chunk, QByteArray& out);

private:
    bool lastWasCr_ = false;
};

// Network to disk: CR LF becomes LF; a lone CR is kept.
class AsciiDecoder {
public:
    void convert(QByteArrayView chunk, QByteArray& out);
    // A CR held back at the end of the data (nothing followed it).
    QByteArray finish();

private:
    bool pendingCr_ = false;
};

// Makes `buffer` `size` bytes long for writing into: its own memory again
// when it is not shared (a socket may still queue the last chunk), fresh
// memory otherwise, never a copy of the old bytes.
char* reuseBuffer(QByteArray& buffer, qsizetype size);

} // namespace kv::ftp
