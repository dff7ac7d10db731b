#pragma once
// FTP command lines for the log: never a password.

#include <QByteArrayView>
#include <QString>

namespace kv::ftp {

// A command line as received (without its line end) for the log: a line
// that may carry a password (see startsWithSecretVerb) becomes "PASS ***" or
// "ACCT ***"; otherwise as session::bytesForLog shows it.
QString commandLineForLog(QByteArrayView line);

// Whether the first word of the bytes, after any blanks and control
// characters (tabs, NULs), begins with PASS or ACCT in any letter case,
// whatever follows: "PASS x", "PASSsecret", "\tpass x", "\0ACCT1". A
// client that mistypes the verb may still have sent its password. Sets
// `verb` to "PASS" or "ACCT".
bool startsWithSecretVerb(QByteArrayView bytes, QString* verb = nullptr);

} // namespace kv::ftp
