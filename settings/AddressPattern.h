#pragma once
// One entry of the allow or block list, read as a pattern of client addresses:
// an exact address ("10.0.0.7", "fd00::1"), a CIDR block ("192.168.1.0/24",
// "fd00::/8"), a range ("10.0.0.5-10.0.0.20") or an IPv4 address whose last
// parts are "*" ("192.168.1.*"). Anything else is not a pattern at all, so an
// entry the operator mistyped matches no client rather than a guessed one.
// An IPv4 client seen on a dual-stack socket (::ffff:a.b.c.d) matches the
// IPv4 entries.

#include <QHostAddress>
#include <QString>
#include <optional>

namespace kv::settings {

class AddressPattern {
public:
    enum class Kind { Exact, Subnet, Range, Wildcard };

    // The pattern an entry stands for; surrounding spaces are ignored.
    // nullopt for anything that is none of the four forms (including "").
    static std::optional<AddressPattern> parse(const QString& entry);

    Kind kind() const { return kind_; }
    bool matches(const QHostAddress& client) const;
    // The client's address as text; a text that is no address matches nothing.
    bool matches(const QString& client) const;

private:
    AddressPattern() = default;
    bool matchesOne(const QHostAddress& client) const;

    Kind kind_ = Kind::Exact;
    // Exact, Subnet and Wildcard: the network and its prefix length (an exact
    // address is a network of one). Range: the first and last address.
    QHostAddress first_;
    QHostAddress last_;
    int prefix_ = 0;
};

// The operator's message for an entry that is not a pattern.
QString invalidEntryMessage(const QString& entry);

} // namespace kv::settings
