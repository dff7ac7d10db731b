// The reply texts, one row per Reply, and the placeholder filling.

#include "ftp/ReplyTexts.h"

#include <array>

namespace kv::ftp {

namespace {

struct ReplyRow {
    Reply id;
    const char* text;
};

using enum Reply;

// In the order of the enum (checked below); the texts are sent byte for byte.
constexpr std::array kReplies{
    ReplyRow{OpeningAscii, "150 Opening ASCII mode data connection%s."},
    ReplyRow{OpeningBinary, "150 Opening BINARY mode data connection%s."},
    ReplyRow{PassiveOpen, "150 Data connection open for PASV transfer."},
    ReplyRow{TypeSet, "200 Type set to %s"},
    ReplyRow{CommandOk, "200 %s command successful"},
    ReplyRow{NotNeeded, "202 Command not needed, ignored"},
    ReplyRow{StatusBegin, "211-Status for user %s:"},
    ReplyRow{StatusEnd, "211 End of status"},
    ReplyRow{HelpBegin, "211-The following commands are recognized: "},
    ReplyRow{HelpEnd, "211 Kestrova Simple FTP Server v%s."},
    ReplyRow{SystemType, "215 UNIX Type: L8"},
    ReplyRow{Greeting, "220 Kestrova Simple FTP Server ready."},
    ReplyRow{Goodbye, "221 Goodbye."},
    ReplyRow{TransferComplete, "226 Transfer complete."},
    ReplyRow{ListingComplete, "226 Listing complete."},
    ReplyRow{AbortedOk, "226 Aborted OK"},
    ReplyRow{EnteringPassive, "227 Entering Passive Mode (%s)"},
    ReplyRow{LoggedIn, "230 User %s logged in."},
    ReplyRow{CwdOk, "250 CWD command successful."},
    ReplyRow{DeleteOk, "250 delete command successful."},
    ReplyRow{Renamed, "250 File/dir renamed to %s"},
    ReplyRow{CurrentDir, "257 \"%s\" is current directory."},
    ReplyRow{DirCreated, "257 %s directory created"},
    ReplyRow{PasswordRequired, "331 Password required for %s."},
    ReplyRow{Restarting, "350 Restarting at %ld - send STORE or RETRIEVE to initiate transfer"},
    ReplyRow{WaitingForName, "350 Command OK - waiting for name"},
    ReplyRow{CantOpenData, "425 Can't build data connection: Unknown connection."},
    ReplyRow{TransferAborted, "426 Data connection closed. File transfer %s aborted."},
    ReplyRow{NotUnderstood, "500 '%s': command not understood."},
    ReplyRow{NeedMoreArguments, "501 Syntax error - %s need more arguments"},
    ReplyRow{SyntaxError, "501 Syntax error in parameters"},
    ReplyRow{LoginWithUserFirst, "503 Login with USER first"},
    ReplyRow{TypeNotRecognized, "504 TYPE not recognized. Use ASCII, IMAGE, BINARY or L8"},
    ReplyRow{CannotReRegister, "520 Cannot re-register"},
    ReplyRow{TransferIncomplete, "526 Transfer incomplete"},
    ReplyRow{PleaseLogin, "530 Please login with USER and PASS."},
    ReplyRow{LoginIncorrect, "530 Login incorrect"},
    ReplyRow{NoSuchFile, "550 %s: No such file or directory."},
    ReplyRow{AccessDenied, "550 Access denied"},
    ReplyRow{CannotRename, "553 Cannot rename to %s"},

    ReplyRow{AdminDisconnect, "421 Disconnected by the server administrator."},
    ReplyRow{IdleTimeout, "421 Timeout (%1 seconds): closing control connection."},
    ReplyRow{TooManyFailedLogins, "421 Too many failed logins."},
    ReplyRow{ShuttingDown, "421 Server shutting down."},
    ReplyRow{TooManyConnections, "421 Too many connections, try again later."},
    ReplyRow{AddressBanned, "421 Too many failed logins from your address, try again later."},
    ReplyRow{LoginUnavailable, "421 Service not available, try again later."},
    ReplyRow{LineTooLong, "500 Command line too long."},
    ReplyRow{AlreadyLoggedIn, "230 Already logged in."},
    ReplyRow{OnlyStreamMode, "504 Only stream mode is supported."},
    ReplyRow{OnlyFileStructure, "504 Only file structure is supported."},
    ReplyRow{PathStatusBegin, "213-Status of %1:"},
    ReplyRow{PathStatusEnd, "213 End of status"},
    ReplyRow{StatusConnectedFrom, " Connected from %1"},
    ReplyRow{StatusLoggedInAs, " Logged in as %1"},
    ReplyRow{StatusType, " TYPE: %1, STRUcture: File, MODE: Stream"},
    ReplyRow{StatusTransferring, " Transfer in progress: %1 bytes"},
    ReplyRow{StatusNoData, " No data connection"},
    ReplyRow{FeaturesBegin, "211-Features:"},
    ReplyRow{FeaturesEnd, "211 End"},
    ReplyRow{Utf8On, "200 UTF8 set to on"},
    ReplyRow{MlstOptions, "200 MLST OPTS %1"},
    ReplyRow{OptionNotUnderstood, "501 Option not understood."},
    ReplyRow{SiteNotImplemented, "504 SITE %1 is not implemented."},
    ReplyRow{EpsvAll, "200 EPSV ALL command successful."},
    ReplyRow{ProtocolNotSupported, "522 Network protocol not supported, use (%1)"},
    ReplyRow{PassiveNeedsIPv4, "425 Passive mode needs IPv4; use EPSV."},
    ReplyRow{PassivePortsBusy, "425 Every passive port is in use; try again later."},
    ReplyRow{EnteringExtendedPassive, "229 Entering Extended Passive Mode (|||%1|)"},
    ReplyRow{IllegalDataCommand, "500 Illegal %1 command."},
    ReplyRow{CannotReadDir, "550 %1: Cannot read directory."},
    ReplyRow{NotADirectoryArgument, "501 %1: Not a directory."},
    ReplyRow{NotARegularFile, "550 %1: Not a regular file."},
    ReplyRow{FileError, "550 %1: %2"},
    ReplyRow{RestartBeyondEnd, "554 Restart offset %1 is beyond the end of the file."},
    ReplyRow{IsADirectory, "550 %1: Is a directory."},
    ReplyRow{NoUniqueName, "550 %1: Cannot find a unique name."},
    ReplyRow{UniqueFileOpening, "150 FILE: %1"},
    ReplyRow{ReadError, "451 Read error: %1"},
    ReplyRow{NameTooLong, "550 File name too long."},
    ReplyRow{NotADirectory, "550 %1: Not a directory."},
    ReplyRow{FileExists, "550 %1: File exists."},
    ReplyRow{CannotCreateDir, "550 %1: Cannot create directory."},
    ReplyRow{CannotRemoveDir, "550 %1: Directory not empty or cannot be removed."},
    ReplyRow{RemoveDirOk, "250 RMD command successful."},
    ReplyRow{CannotDelete, "550 %1: Cannot delete file."},
    ReplyRow{RenameNeedsSource, "503 Bad sequence of commands: send RNFR first."},
    ReplyRow{FileStatus, "213 %1"},
    ReplyRow{CannotSetTime, "550 %1: Cannot change the modification time."},
    ReplyRow{ModifyTimeSet, "213 Modify=%1; %2"},
    ReplyRow{MachineListBegin, "250-Listing %1"},
    ReplyRow{MachineListEnd, "250 End"},
    ReplyRow{AuthOk, "234 AUTH %1 successful"},
    ReplyRow{TlsAlreadyOn, "503 TLS is already active on this connection."},
    ReplyRow{AuthNotSupported, "504 AUTH %1 not supported; use AUTH TLS."},
    ReplyRow{TlsNotActive, "503 Bad sequence of commands: send AUTH TLS first."},
    ReplyRow{PbszOk, "200 PBSZ=0"},
    ReplyRow{ProtOk, "200 Protection level set to %1"},
    ReplyRow{ProtNotSupported, "536 Protection level %1 not supported."},
    ReplyRow{ProtUnknown, "504 PROT %1 not recognized; use P or C."},
    ReplyRow{TlsRequiredForLogin,
             "530 TLS is required on this server: use AUTH TLS before logging in."},
    ReplyRow{DataMustBeEncrypted, "522 Data connections must be encrypted."},
    ReplyRow{SessionNotResumed, "425 TLS session of data connection not resumed."},
    ReplyRow{DataTlsFailed, "425 TLS negotiation on the data connection failed."},
    ReplyRow{PbszFirst, "503 Bad sequence of commands: send PBSZ first."},
    ReplyRow{InsufficientStorage, "452 Transfer aborted: insufficient storage space."},
    ReplyRow{ExtendedPassiveOpen, "150 Data connection open for EPSV transfer."},
    ReplyRow{ClearControlRefused, "534 CCC denied: the control connection stays protected."},
    ReplyRow{NoRoomToAllocate, "452 Insufficient storage space: %1 bytes free."},
    ReplyRow{SiteHelpBegin, "214-The following SITE commands are recognized:"},
    ReplyRow{SiteHelpEnd, "214 End of SITE help."},
    ReplyRow{BadMode, "501 %1: Invalid mode; only permission bits 0-777 may be set."},
    ReplyRow{CannotSetMode, "550 %1: Cannot change the mode."},
    ReplyRow{HashResult, "213 %1 %2-%3 %4 %5"},
    ReplyRow{HashBare, "250 %1"},
    ReplyRow{HashAlgorithmSet, "200 %1"},
    ReplyRow{HashUnsupported, "501 %1: Unsupported algorithm."},
    ReplyRow{HashUnavailable, "450 %1: Checksums cannot be computed now, try again later."},
    ReplyRow{HashAborted, "426 %1: Checksum aborted."},
    ReplyRow{QuotaExceeded, "552 Quota exceeded."},
};

constexpr bool inEnumOrder() {
    for (std::size_t i = 0; i < kReplies.size(); ++i) {
        if (static_cast<std::size_t>(kReplies[i].id) != i)
            return false;
    }
    return true;
}
static_assert(inEnumOrder(), "one row per Reply, in the order of the enum");

} // namespace

ReplyTexts::ReplyTexts() {
    texts_.reserve(qsizetype(kReplies.size()));
    for (const ReplyRow& row : kReplies)
        texts_.append(QString::fromLatin1(row.text));
}

QString ReplyTexts::format(Reply r, const QStringList& args) const {
    return fill(text(r), args);
}

QString ReplyTexts::fill(const QString& pattern, const QStringList& args) {
    // Arguments are inserted verbatim: a '%' inside one is never read as a
    // placeholder, because scanning continues after the inserted text.
    QString out;
    out.reserve(pattern.size() + 32);
    qsizetype next = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == u'%') {
            const QStringView rest = QStringView(pattern).mid(i);
            qsizetype len = 0;
            qsizetype index = -1;
            if (rest.startsWith(u"%s")) {
                len = 2;
                index = next++;
            } else if (rest.startsWith(u"%ld")) {
                len = 3;
                index = next++;
            } else if (rest.size() > 1 && rest[1] >= u'1' && rest[1] <= u'9') {
                len = 2;
                index = rest[1].unicode() - u'1';
            }
            if (len > 0) {
                if (index < args.size())
                    out += args[index];
                i += len - 1;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

} // namespace kv::ftp
