#include "engine/ReplyTexts.h"

namespace kv::engine {

ReplyTexts::ReplyTexts()
    : texts_{
          QStringLiteral("150 Opening ASCII mode data connection%s."),
          QStringLiteral("150 Opening BINARY mode data connection%s."),
          QStringLiteral("150 Data connection open for PASV transfer."),
          QStringLiteral("200 Type set to %s"),
          QStringLiteral("200 %s command successful"),
          QStringLiteral("202 Command not needed, ignored"),
          QStringLiteral("211-Status for user %s:"),
          QStringLiteral("211 End of status"),
          QStringLiteral("211-The following commands are recognized: "),
          QStringLiteral("211 Kestrova Simple FTP Server v%s."),
          QStringLiteral("215 UNIX Type: L8"),
          QStringLiteral("220 Kestrova Simple FTP Server ready."),
          QStringLiteral("221 Goodbye."),
          QStringLiteral("226 Transfer complete."),
          QStringLiteral("226 Listing complete."),
          QStringLiteral("226 Aborted OK"),
          QStringLiteral("227 Entering Passive Mode (%s)"),
          QStringLiteral("230 User %s logged in."),
          QStringLiteral("250 CWD command successful."),
          QStringLiteral("250 delete command successful."),
          QStringLiteral("250 File/dir renamed to %s"),
          QStringLiteral("257 \"%s\" is current directory."),
          QStringLiteral("257 %s directory created"),
          QStringLiteral("331 Password required for %s."),
          QStringLiteral("350 Restarting at %ld - send STORE or RETRIEVE to initiate transfer"),
          QStringLiteral("350 Command OK - waiting for name"),
          QStringLiteral("425 Can't build data connection: Unknown connection."),
          QStringLiteral("426 Data connection closed. File transfer %s aborted."),
          QStringLiteral("500 '%s': command not understood."),
          QStringLiteral("501 Syntax error - %s need more arguments"),
          QStringLiteral("501 Syntax error in parameters"),
          QStringLiteral("503 Login with USER first"),
          QStringLiteral("504 TYPE not recognized. Use ASCII, IMAGE, BINARY or L8"),
          QStringLiteral("520 Cannot re-register"),
          QStringLiteral("526 Transfer incomplete"),
          QStringLiteral("530 Please login with USER and PASS."),
          QStringLiteral("530 Login incorrect"),
          QStringLiteral("550 %s: No such file or directory."),
          QStringLiteral("550 Access denied"),
          QStringLiteral("553 Cannot rename to %s"),
      } {}

QString ReplyTexts::format(Reply r, const QStringList& args) const {
    return fill(text(r), args);
}

QString ReplyTexts::fill(const QString& pattern, const QStringList& args) {
    // Arguments are inserted verbatim: a '%' inside one is never read as a
    // placeholder, because scanning continues after the inserted text.
    QString out;
    out.reserve(pattern.size() + 32);
    int next = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == u'%') {
            const QStringView rest = QStringView(pattern).mid(i);
            qsizetype len = 0;
            if (rest.startsWith(u"%s"))
                len = 2;
            else if (rest.startsWith(u"%ld"))
                len = 3;
            if (len > 0) {
                if (next < args.size())
                    out += args[next];
                ++next;
                i += len - 1;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

} // namespace kv::engine
