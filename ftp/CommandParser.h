#pragma once
// Turns one raw command line from a client into a verb and its argument.
// Pure and allocation-light, so it can be fuzzed on its own.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace kv::ftp {

enum class ParseError {
    None,
    Empty,       // nothing but spaces / Telnet controls
    ControlChar, // NUL or another control character inside the line
    BadEncoding, // not valid UTF-8
    BadVerb,     // the verb is not 1-8 ASCII letters
};

struct ParsedCommand {
    ParseError error = ParseError::None;
    QString verb;     // upper case; on BadVerb the (sanitised) text received
    QString argument; // everything after the first space, as sent
    bool ok() const { return error == ParseError::None; }
};

// The bytes without Telnet commands: IAC IAC stands for a literal 0xFF,
// option negotiation (WILL/WONT/DO/DONT) carries one more byte, others
// stand alone.
QByteArray withoutTelnet(QByteArrayView bytes);

// `line` is one line without its '\n' (a trailing '\r' is dropped here).
// Telnet IAC sequences (interrupt, synch, option negotiation) are removed.
ParsedCommand parseCommandLine(QByteArrayView line);

} // namespace kv::ftp
