#pragma once
// The perm fact of MLSD and MLST (RFC 3659 7.5.5): what this login may do
// with an entry.

#include "files/LoginGrant.h"

#include <QByteArray>
#include <array>

namespace kv::ftp {

// The letters of every kind of entry for one login, worked out once: what
// the disk allows the server (reading a file; changing a file or a folder's
// contents) and what the authorizer allows the login for the file operation
// behind each letter. Folders: e l c d f m p; files: r a d f w, in these
// orders. Without a grant, no letters.
class PermTable {
public:
    explicit PermTable(const files::LoginGrant* grant = nullptr);
    const QByteArray& lettersFor(bool isDir, bool readable, bool writable) const;

private:
    std::array<QByteArray, 8> letters_;
};

} // namespace kv::ftp
