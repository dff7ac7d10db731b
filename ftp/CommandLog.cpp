#include "ftp/CommandLog.h"

#include "ftp/CommandParser.h"
#include "session/LogText.h"

namespace kv::ftp {

bool startsWithSecretVerb(QByteArrayView bytes, QString* verb) {
    qsizetype start = 0;
    while (start < bytes.size() &&
           (static_cast<unsigned char>(bytes[start]) <= ' ' || bytes[start] == '\x7f'))
        ++start;
    if (bytes.size() - start < 4)
        return false;
    const QByteArray word = bytes.sliced(start, 4).toByteArray().toUpper();
    if (word != "PASS" && word != "ACCT")
        return false;
    if (verb)
        *verb = QString::fromLatin1(word);
    return true;
}

QString commandLineForLog(QByteArrayView line) {
    if (line.endsWith('\r'))
        line.chop(1);
    // Judged without Telnet commands, as the parser reads the line (they
    // may sit inside the verb too).
    QString verb;
    if (startsWithSecretVerb(withoutTelnet(line), &verb))
        return verb + QStringLiteral(" ***");
    return session::bytesForLog(line);
}

} // namespace kv::ftp
