#pragma once
// The SFTP version 3 wire format as OpenSSH speaks it: packets framed by a
// 4-byte length, requests parsed into typed values with every length
// checked against what the packet holds, and responses written. Nothing here
// touches a file; a packet that cannot be read is an error value.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>

namespace kv::sftp {

// The longest packet accepted or sent, as OpenSSH's sftp-server: a request
// carrying 256 KiB of data fits with its header.
inline constexpr quint32 kMaxPacketLength = 256 * 1024 + 1024;
// The most data one READ answers with.
inline constexpr quint32 kMaxReadLength = 256 * 1024;
// The most data a WRITE may carry: its packet, header included, fits kMaxPacketLength.
inline constexpr quint32 kMaxWriteLength = 256 * 1024;
// Extended attribute pairs accepted in one attribute block.
inline constexpr quint32 kMaxExtendedAttributes = 64;

enum PacketType : quint8 {
    Init = 1,
    Version = 2,
    Open = 3,
    Close = 4,
    Read = 5,
    Write = 6,
    Lstat = 7,
    Fstat = 8,
    Setstat = 9,
    Fsetstat = 10,
    Opendir = 11,
    Readdir = 12,
    Remove = 13,
    Mkdir = 14,
    Rmdir = 15,
    Realpath = 16,
    Stat = 17,
    Rename = 18,
    Readlink = 19,
    Symlink = 20,
    StatusReply = 101,
    HandleReply = 102,
    DataReply = 103,
    NameReply = 104,
    AttrsReply = 105,
    Extended = 200,
    ExtendedReply = 201,
};

enum StatusCode : quint32 {
    Ok = 0,
    Eof = 1,
    NoSuchFile = 2,
    PermissionDenied = 3,
    Failure = 4,
    BadMessage = 5,
    OpUnsupported = 8,
};

// Open flags of an OPEN request.
enum OpenFlag : quint32 {
    OpenRead = 0x01,
    OpenWrite = 0x02,
    OpenAppend = 0x04,
    OpenCreate = 0x08,
    OpenTruncate = 0x10,
    OpenExclusive = 0x20,
};

struct Attributes {
    enum Flag : quint32 {
        Size = 0x01,
        UidGid = 0x02,
        Permissions = 0x04,
        AccessModTime = 0x08,
        ExtendedPairs = 0x80000000u,
    };
    quint32 flags = 0;
    quint64 size = 0;
    quint32 uid = 0;
    quint32 gid = 0;
    quint32 permissions = 0;
    quint32 atime = 0;
    quint32 mtime = 0;
    bool has(Flag f) const { return (flags & f) != 0; }
};

// One parsed request. Which fields are set depends on the type: `path` is
// the file name, the handle (for handle requests) or the old name; `path2`
// the new name of RENAME, the target of SYMLINK, or the second string of an
// extension; `id` is the version of INIT.
struct Request {
    quint8 type = 0;
    quint32 id = 0;
    QByteArray path;
    QByteArray path2;
    QByteArray data;      // WRITE
    QByteArray extension; // EXTENDED: the extension's name
    quint64 offset = 0;   // READ, WRITE
    quint32 length = 0;   // READ
    quint32 openFlags = 0;
    Attributes attrs;
};

enum class ParseError { None, Truncated, UnknownType, TooManyAttributes };

struct ParsedRequest {
    ParseError error = ParseError::None;
    Request request;
    // The request id when it could be read (to answer a broken request).
    std::optional<quint32> id;
    bool ok() const { return error == ParseError::None; }
};

// Parses one packet's payload (type byte onward, without the length).
ParsedRequest parseRequest(QByteArrayView payload);

// Splits a byte stream into packet payloads. A length of zero or over
// kMaxPacketLength is an error that stays: the stream cannot be trusted after it.
class PacketFramer {
public:
    void append(QByteArrayView bytes);
    // The next whole payload, if one has arrived.
    std::optional<QByteArray> next();
    // True when next() has a whole packet to give, or a broken length to refuse.
    bool ready() const;
    bool failed() const { return failed_; }
    qsizetype buffered() const { return buffer_.size() - start_; }
    // What the whole packet next in line would move of a file, for the speed
    // limits: a READ's length asked (at most kMaxReadLength), a WRITE's
    // data; nothing for any other packet or while none is whole.
    struct FileBytes {
        bool write = false;
        qint64 bytes = 0;
    };
    std::optional<FileBytes> nextFileBytes() const;

private:
    QByteArray buffer_;
    qsizetype start_ = 0;
    bool failed_ = false;
};

// Builds one response packet, length prefix included.
class PacketWriter {
public:
    explicit PacketWriter(quint8 type);
    PacketWriter& u8(quint8 v);
    PacketWriter& u32(quint32 v);
    PacketWriter& u64(quint64 v);
    PacketWriter& string(QByteArrayView s);
    PacketWriter& attributes(const Attributes& a);
    // The packet with its length filled in.
    QByteArray finish();

private:
    QByteArray bytes_;
};

QByteArray statusPacket(quint32 id, StatusCode code, QByteArrayView message);

} // namespace kv::sftp
