#pragma once
// What an account may do, as a typed set: read (download, checksums), write
// (upload, rename, set a file's time or mode), delete (files), browse
// (change folder, free space) and manage (create and remove folders). Stored and shown as the
// letters R, W, D, B, M in this order.

#include <QString>
#include <QStringView>

#include <initializer_list>

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

    // Letters in any order and case; other characters are ignored.
    static Rights fromLetters(QStringView letters);
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

    friend constexpr bool operator==(Rights, Rights) = default;

private:
    quint8 bits_ = 0;
};

} // namespace kv::files
