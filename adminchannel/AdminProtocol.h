#pragma once
// The administration channel's wire format: one JSON object per line (UTF-8,
// "\n" at the end), version 1. A request is {"v":1,"op":"status", ...}; every
// answer carries "v" and "ok" (with "error" in Italian when false); a
// subscriber also gets {"v":1,"event":...} lines. A line longer than
// kAdminMaxLineBytes ends the connection, so a client cannot make the server
// buffer without bound.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <optional>

namespace kv {

inline constexpr int kAdminProtocolVersion = 1;
inline constexpr qsizetype kAdminMaxLineBytes = 64 * 1024;
// The longest request of a client the server knows (local, or a remote one
// that gave the password): a copy's change set may be long.
inline constexpr qsizetype kAdminMaxRequestBytes = 8 * 1024 * 1024;
// The longest answer a client reads (a list of many sessions or bans); a
// longer one ends the connection rather than the client's memory.
inline constexpr qsizetype kAdminMaxReplyBytes = 8 * 1024 * 1024;

struct AdminRequest {
    QString op;
    QJsonObject body; // the whole object, for the operation's own fields
    // From a remote administrator (TLS), not the local socket: some changes
    // are refused to it (rules that run a program, unless allowed).
    bool remote = false;
};

// A request line (without its "\n") read as JSON; the Italian reason when it
// is not an object with a known version and a text "op".
struct AdminParse {
    std::optional<AdminRequest> request;
    QString error;
};
AdminParse parseAdminRequest(const QByteArray& line);

// The password a remote client's first line gives
// ({"v":1,"op":"login","password":"..."}); nullopt for any other line.
std::optional<QString> adminLoginPassword(const AdminRequest& request);

// One line to send: the object with "v" added, compact, "\n" at the end.
QByteArray adminLine(QJsonObject message);
QByteArray adminError(const QString& reason);
// What a client says when the server sent a line past its limit.
QString adminReplyTooLong();

// Gathers bytes into lines without holding more than `limit` bytes of a
// line that has not ended.
class AdminLineReader {
public:
    explicit AdminLineReader(qsizetype limit = kAdminMaxLineBytes) : limit_(limit) {}
    void setLimit(qsizetype limit) { limit_ = limit; }
    qsizetype limit() const { return limit_; }
    // Adds bytes; false once a line went past the limit (then stays false).
    bool append(const QByteArray& bytes);
    // The next whole line without its end ("\r\n" or "\n"), if any.
    std::optional<QByteArray> takeLine();
    // Whether a whole line waits to be taken.
    bool hasLine() const { return buffer_.contains('\n'); }
    bool overflowed() const { return overflowed_; }

private:
    qsizetype limit_;
    QByteArray buffer_;
    bool overflowed_ = false;
};

} // namespace kv
