#pragma once
// Requests built as a client sends them, and replies read back, for the
// SFTP tests.

#include "sftp/SftpPacket.h"

#include <QtEndian>

namespace sftptest {

using namespace kv::sftp;

// A request's payload: the packet without its length.
inline QByteArray payloadOf(PacketWriter& w) {
    return w.finish().mid(4);
}

// Reads a reply packet field by field; `ok` turns false past its end.
struct ReplyReader {
    QByteArray bytes;
    qsizetype pos = 0;
    bool ok = true;

    explicit ReplyReader(const QByteArray& packet) : bytes(packet) {
        if (u32() != quint32(bytes.size() - 4))
            ok = false;
    }
    quint32 u32() {
        if (bytes.size() - pos < 4) {
            ok = false;
            return 0;
        }
        pos += 4;
        return qFromBigEndian<quint32>(bytes.constData() + pos - 4);
    }
    quint64 u64() {
        const quint64 hi = u32();
        return (hi << 32) | u32();
    }
    quint8 u8() {
        if (pos >= bytes.size()) {
            ok = false;
            return 0;
        }
        return quint8(bytes[pos++]);
    }
    QByteArray string() {
        const quint32 n = u32();
        if (!ok || n > quint32(bytes.size() - pos)) {
            ok = false;
            return {};
        }
        pos += n;
        return bytes.mid(pos - n, n);
    }
    Attributes attributes() {
        Attributes a;
        a.flags = u32();
        if (a.has(Attributes::Size))
            a.size = u64();
        if (a.has(Attributes::UidGid)) {
            a.uid = u32();
            a.gid = u32();
        }
        if (a.has(Attributes::Permissions))
            a.permissions = u32();
        if (a.has(Attributes::AccessModTime)) {
            a.atime = u32();
            a.mtime = u32();
        }
        return a;
    }
    bool atEnd() const { return pos == bytes.size(); }
};

} // namespace sftptest
