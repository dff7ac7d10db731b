#pragma once
// The only commands an exec channel serves: md5sum, sha1sum and sha256sum
// of files, as rclone runs them to compare files by content (and standard
// input, which it hashes empty to see whether the command works). The line
// is split into words as a POSIX shell would (spaces, backslashes, single
// and double quotes), but nothing is ever expanded or run: a line asking the
// shell for anything more (pipes, redirections, variables, globs, several
// commands) or naming another program or an option is no checksum command.

#include "files/FileHasher.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>

namespace kv::sftp {

struct ChecksumCommand {
    QByteArray tool; // "md5sum", "sha1sum" or "sha256sum"
    files::HashAlgorithm algorithm = files::HashAlgorithm::Md5;
    // The files as given, in order; "-" is standard input, which an empty
    // list means too.
    QList<QByteArray> names;
};

// The command `line` asks for, or nullopt when it is not one of them.
std::optional<ChecksumCommand> parseChecksumCommand(QByteArrayView line);

// The line the tools print for a file: "HEX  NAME\n"; a name holding a
// backslash, a line feed or a carriage return is written with them escaped
// and the line starts with a backslash, as GNU coreutils does.
QByteArray checksumLine(QByteArrayView hex, QByteArrayView name);

// "TOOL: NAME: REASON\n", the tools' message for a file they cannot hash,
// the name escaped as in checksumLine.
QByteArray checksumError(QByteArrayView tool, QByteArrayView name, QByteArrayView reason);

} // namespace kv::sftp
