// Whatever bytes a client sends as a command line, the parser answers with
// a clean verb and an argument free of control characters, or an error; and
// the line as logged holds nothing left to escape and never a password.

#include "ftp/CommandLog.h"
#include "ftp/CommandParser.h"
#include "fuzz/FuzzRule.h"
#include "session/LogText.h"

#include <cstdint>

using namespace kv::ftp;

namespace {

bool hasControl(const QString& s) {
    for (const QChar c : s) {
        if ((c.unicode() < 0x20 && c != '\t') || c.unicode() == 0x7F)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView line(reinterpret_cast<const char*>(data), qsizetype(size));
    const ParsedCommand parsed = parseCommandLine(line);
    const QString logged = commandLineForLog(line);
    require(kv::session::escapedForLog(logged) == logged,
            "logged line with nothing left to escape");
    if (parsed.ok() && (parsed.verb == u"PASS" || parsed.verb == u"ACCT"))
        require(logged == parsed.verb + QStringLiteral(" ***"), "password masked in the log");
    // A first word beginning with PASS or ACCT, however malformed the line,
    // shows nothing after it: neither in the log nor in an echoed verb.
    QString secret;
    if (startsWithSecretVerb(withoutTelnet(line), &secret)) {
        require(logged == secret + QStringLiteral(" ***"), "malformed password masked in the log");
        require(parsed.verb.isEmpty() || parsed.verb == secret ||
                    parsed.verb == secret + QStringLiteral(" ***"),
                "malformed password never echoed");
    }
    if (parsed.ok()) {
        require(!parsed.verb.isEmpty() && parsed.verb.size() <= 8, "verb of 1 to 8 characters");
        // Upper-case ASCII letters, then maybe digits ("XSHA256").
        qsizetype letters = 0;
        while (letters < parsed.verb.size() && parsed.verb[letters] >= 'A' &&
               parsed.verb[letters] <= 'Z')
            ++letters;
        require(letters > 0, "verb starting with a letter");
        for (qsizetype i = letters; i < parsed.verb.size(); ++i)
            require(parsed.verb[i] >= '0' && parsed.verb[i] <= '9',
                    "verb in upper-case ASCII letters, then digits");
        require(!hasControl(parsed.argument), "argument without control characters");
        return 0;
    }
    require(parsed.argument.isEmpty(), "no argument with an error");
    // A refused verb is echoed back in the reply, so it must be printable.
    require(!hasControl(parsed.verb) && !parsed.verb.contains('\t'), "printable echoed verb");
    return 0;
}
