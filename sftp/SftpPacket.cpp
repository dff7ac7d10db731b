#include "sftp/SftpPacket.h"

#include <QtEndian>

#include <algorithm>

namespace kv::sftp {

namespace {

// Reads big-endian fields; once a read runs past the end every later read
// fails too, so a parse checks `ok()` once at the end.
class Reader {
public:
    explicit Reader(QByteArrayView bytes) : bytes_(bytes) {}

    quint8 u8() { return number<quint8>(); }
    quint32 u32() { return number<quint32>(); }
    quint64 u64() { return number<quint64>(); }
    QByteArray string() {
        const quint32 length = u32();
        if (!ok_ || length > quint32(bytes_.size() - pos_)) {
            ok_ = false;
            return {};
        }
        const QByteArray s = bytes_.sliced(pos_, length).toByteArray();
        pos_ += length;
        return s;
    }
    bool ok() const { return ok_; }
    bool atEnd() const { return pos_ == bytes_.size(); }

private:
    template <typename Number> Number number() {
        if (!take(sizeof(Number)))
            return 0;
        return qFromBigEndian<Number>(bytes_.data() + pos_ - qsizetype(sizeof(Number)));
    }
    bool take(qsizetype n) {
        if (!ok_ || bytes_.size() - pos_ < n) {
            ok_ = false;
            return false;
        }
        pos_ += n;
        return true;
    }
    QByteArrayView bytes_;
    qsizetype pos_ = 0;
    bool ok_ = true;
};

bool readAttributes(Reader& r, Attributes& a, ParseError& error) {
    a.flags = r.u32();
    if (a.has(Attributes::Size))
        a.size = r.u64();
    if (a.has(Attributes::UidGid)) {
        a.uid = r.u32();
        a.gid = r.u32();
    }
    if (a.has(Attributes::Permissions))
        a.permissions = r.u32();
    if (a.has(Attributes::AccessModTime)) {
        a.atime = r.u32();
        a.mtime = r.u32();
    }
    if (a.has(Attributes::ExtendedPairs)) {
        const quint32 count = r.u32();
        if (count > kMaxExtendedAttributes) {
            error = ParseError::TooManyAttributes;
            return false;
        }
        for (quint32 i = 0; i < count && r.ok(); ++i) {
            r.string(); // names and values of extensions nobody here uses
            r.string();
        }
    }
    return r.ok();
}

} // namespace

ParsedRequest parseRequest(QByteArrayView payload) {
    ParsedRequest out;
    Reader r(payload);
    Request& q = out.request;
    q.type = r.u8();
    q.id = r.u32();
    if (!r.ok()) {
        out.error = ParseError::Truncated;
        return out;
    }
    if (q.type != Init)
        out.id = q.id;
    switch (q.type) {
    case Init:
        // Extension pairs a client may send after its version are ignored.
        return out;
    case Open:
        q.path = r.string();
        q.openFlags = r.u32();
        if (!readAttributes(r, q.attrs, out.error) && out.error != ParseError::None)
            return out;
        break;
    case Close:
    case Fstat:
    case Readdir:
    case Lstat:
    case Opendir:
    case Remove:
    case Rmdir:
    case Realpath:
    case Stat:
    case Readlink:
        q.path = r.string();
        break;
    case Read:
        q.path = r.string();
        q.offset = r.u64();
        q.length = r.u32();
        break;
    case Write:
        q.path = r.string();
        q.offset = r.u64();
        q.data = r.string();
        break;
    case Setstat:
    case Fsetstat:
    case Mkdir:
        q.path = r.string();
        if (!readAttributes(r, q.attrs, out.error) && out.error != ParseError::None)
            return out;
        break;
    case Rename:
    case Symlink:
        q.path = r.string();
        q.path2 = r.string();
        break;
    case Extended:
        q.extension = r.string();
        // Whatever follows belongs to the extension; the known ones carry
        // one or two strings, or a handle.
        if (r.ok() && !r.atEnd())
            q.path = r.string();
        if (r.ok() && !r.atEnd())
            q.path2 = r.string();
        // A name that cannot be read is a broken packet; arguments that
        // cannot are judged by the extension (as unsupported or bad).
        if (q.extension.isEmpty() && !r.ok())
            out.error = ParseError::Truncated;
        return out;
    default:
        out.error = ParseError::UnknownType;
        return out;
    }
    // Bytes after the fields are ignored, as OpenSSH's server does: some
    // clients send a write's whole buffer with a shorter data string.
    if (!r.ok())
        out.error = ParseError::Truncated;
    return out;
}

void PacketFramer::append(QByteArrayView bytes) {
    if (failed_)
        return;
    if (start_ > 0 && start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    buffer_.append(bytes);
}

bool PacketFramer::ready() const {
    if (failed_ || buffered() < 4)
        return false;
    const quint32 length = qFromBigEndian<quint32>(buffer_.constData() + start_);
    return length == 0 || length > kMaxPacketLength || buffered() - 4 >= qsizetype(length);
}

std::optional<PacketFramer::FileBytes> PacketFramer::nextFileBytes() const {
    if (!ready() || failed_)
        return std::nullopt;
    const char* p = buffer_.constData() + start_;
    const qsizetype length = qFromBigEndian<quint32>(p);
    // type, id, handle (length and bytes), offset, then the length asked or
    // the data's length.
    if (length < 1 + 4 + 4 || (p[4] != char(Read) && p[4] != char(Write)))
        return std::nullopt;
    const qsizetype handle = qFromBigEndian<quint32>(p + 4 + 1 + 4);
    const qsizetype at = 4 + 1 + 4 + 4 + handle + 8;
    if (handle > length || at + 4 > 4 + length)
        return std::nullopt;
    const qint64 n = qFromBigEndian<quint32>(p + at);
    const bool write = p[4] == char(Write);
    return FileBytes{write, write ? n : std::min<qint64>(n, kMaxReadLength)};
}

std::optional<QByteArray> PacketFramer::next() {
    if (failed_ || buffered() < 4)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(buffer_.constData() + start_);
    if (length == 0 || length > kMaxPacketLength) {
        failed_ = true;
        buffer_.clear();
        start_ = 0;
        return std::nullopt;
    }
    if (buffered() - 4 < qsizetype(length))
        return std::nullopt;
    QByteArray payload = buffer_.sliced(start_ + 4, length);
    start_ += 4 + length;
    // Keep the buffer from growing with what was already handed out.
    if (start_ > 64 * 1024 && start_ * 2 > buffer_.size()) {
        buffer_.remove(0, start_);
        start_ = 0;
    }
    return payload;
}

PacketWriter::PacketWriter(quint8 type) {
    bytes_.resize(4);
    u8(type);
}

PacketWriter& PacketWriter::u8(quint8 v) {
    bytes_.append(char(v));
    return *this;
}

PacketWriter& PacketWriter::u32(quint32 v) {
    char b[4];
    qToBigEndian(v, b);
    bytes_.append(b, 4);
    return *this;
}

PacketWriter& PacketWriter::u64(quint64 v) {
    char b[8];
    qToBigEndian(v, b);
    bytes_.append(b, 8);
    return *this;
}

PacketWriter& PacketWriter::string(QByteArrayView s) {
    u32(quint32(s.size()));
    bytes_.append(s);
    return *this;
}

PacketWriter& PacketWriter::attributes(const Attributes& a) {
    const quint32 flags = a.flags & ~quint32(Attributes::ExtendedPairs);
    u32(flags);
    if (flags & Attributes::Size)
        u64(a.size);
    if (flags & Attributes::UidGid)
        u32(a.uid).u32(a.gid);
    if (flags & Attributes::Permissions)
        u32(a.permissions);
    if (flags & Attributes::AccessModTime)
        u32(a.atime).u32(a.mtime);
    return *this;
}

QByteArray PacketWriter::finish() {
    qToBigEndian(quint32(bytes_.size() - 4), bytes_.data());
    return std::move(bytes_);
}

QByteArray statusPacket(quint32 id, StatusCode code, QByteArrayView message) {
    return PacketWriter(StatusReply).u32(id).u32(code).string(message).string("").finish();
}

} // namespace kv::sftp
