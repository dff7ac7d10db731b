#pragma once
// What an account may do, as a typed set: read (download, checksums), write
// (upload, rename, set a file's time or mode), delete (files), browse
// (change folder, free space) and manage (create and remove folders). Stored and shown as the
// letters R, W, D, B, M in this order.

#include <QString>
#include <QStringView>

#include <initializer_list>
#include <optional>

namespace kv::files {

enum class Right : quint8 {
    Read = 1,
    Write = 2,
    Delete = 4,
    Browse = 8,
    Manage = 16,
};

class Rights {
public:
    constexpr Rights() = default;
    constexpr Rights(std::initializer_list<Right> rights) {
        for (Right r : rights)
            bits_ |= quint8(r);
    }

    // What other characters than the five letters mean to parse().
    enum class OtherLetters { Refuse, Ignore };
    // The one reading of rights letters (R W D B M, in any order and case),
    // for the command line, the panels and the database layer alike;
    // nullopt when `others` is Refuse and another character is there.
    static std::optional<Rights> parse(QStringView letters,
                                       OtherLetters others = OtherLetters::Refuse);
    // Letters in any order and case; other characters are ignored.
    static Rights fromLetters(QStringView letters) { return *parse(letters, OtherLetters::Ignore); }
    static constexpr Rights all() {
        return {Right::Read, Right::Write, Right::Delete, Right::Browse, Right::Manage};
    }

    constexpr bool has(Right r) const { return (bits_ & quint8(r)) != 0; }
    constexpr bool isEmpty() const { return bits_ == 0; }
    constexpr Rights& add(Right r) {
        bits_ |= quint8(r);
        return *this;
    }
    // "RWDBM" order; "" for no rights.
    QString letters() const;
    // Five places in "rwdbm" order, '-' for a right not given: "r--b-".
    QString mask() const;

    friend constexpr bool operator==(Rights, Rights) = default;

private:
    quint8 bits_ = 0;
};

} // namespace kv::files
