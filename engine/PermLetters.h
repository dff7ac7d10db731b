#pragma once
// The perm fact of MLSD and MLST (RFC 3659 7.5.5): what this login may do
// with an entry.

#include "files/Rights.h"

#include <QByteArray>
#include <array>

namespace kv::engine {

// The letters for one kind of entry: what the disk allows the server
// (reading a file; changing a file or the folder's contents) and what the
// account's rights allow, as the file operations behind each letter decide.
// Folders: e l c d f m p; files: r a d f w, in these orders.
QByteArray permLetters(bool isDir, bool readable, bool writable, files::Rights rights);

// The letters of every kind of entry for one login, worked out once.
class PermTable {
public:
    explicit PermTable(files::Rights rights = {});
    const QByteArray& lettersFor(bool isDir, bool readable, bool writable) const;

private:
    std::array<QByteArray, 8> letters_;
};

} // namespace kv::engine
