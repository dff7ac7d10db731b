#pragma once
// Text from clients made safe for the activity log: one log line stays one
// line on screen and in the file, looks like what was received, and never
// shows a password.

#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace kv::engine {

// Control characters (C0, DEL, C1), line and paragraph separators and
// format characters (bidirectional overrides and isolates, zero-width
// marks) written as escapes: \xHH below U+0100, \uHHHH in the first plane,
// \UHHHHHHHH above, lower-case hex. Lone surrogates are escaped too.
// Everything else, backslashes included, stays as it is, so the result
// passed through again does not change.
QString escapedForLog(QStringView text);

// A command line as received (without its line end) for the log: a line
// that may carry a password (see startsWithSecretVerb) becomes "PASS ***" or
// "ACCT ***"; otherwise bytes that are not UTF-8 are shown as \xHH and the
// rest escaped as above.
QString commandLineForLog(QByteArrayView line);

// Whether the first word of the bytes, after any blanks and control
// characters (tabs, NULs), begins with PASS or ACCT in any letter case,
// whatever follows: "PASS x", "PASSsecret", "\tpass x", "\0ACCT1". A
// client that mistypes the verb may still have sent its password. Sets
// `verb` to "PASS" or "ACCT".
bool startsWithSecretVerb(QByteArrayView bytes, QString* verb = nullptr);

} // namespace kv::engine
