#pragma once
// Text from clients made safe for the activity log: one log line stays one
// line on screen and in the file, looks like what was received, and never
// shows a password.

#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace kv::session {

// Control characters (C0, DEL, C1), line and paragraph separators and
// format characters (bidirectional overrides and isolates, zero-width
// marks) written as escapes: \xHH below U+0100, \uHHHH in the first plane,
// \UHHHHHHHH above, lower-case hex. Lone surrogates are escaped too.
// Everything else, backslashes included, stays as it is, so the result
// passed through again does not change.
QString escapedForLog(QStringView text);

// Bytes from a client for the log: bytes that are not UTF-8 are shown as
// \xHH and the rest escaped as above.
QString bytesForLog(QByteArrayView bytes);

} // namespace kv::session
