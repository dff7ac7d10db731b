#pragma once
// Every reply text the engine sends to clients, named. The first group is
// kept as the engine's stored settings, with the placeholders %s and %ld
// filled in order; the engine's own fixed texts use %1, %2... by position.

#include <QList>
#include <QString>
#include <QStringList>

namespace kv::ftp {

enum class Reply {
    // Stored texts
    OpeningAscii,       // 150 ... ASCII ...%s.
    OpeningBinary,      // 150 ... BINARY ...%s.
    PassiveOpen,        // 150 Data connection open for PASV transfer.
    TypeSet,            // 200 Type set to %s
    CommandOk,          // 200 %s command successful
    NotNeeded,          // 202
    StatusBegin,        // 211-Status for user %s:
    StatusEnd,          // 211 End of status
    HelpBegin,          // 211-The following commands are recognized:
    HelpEnd,            // 211 ... v%s.
    SystemType,         // 215
    Greeting,           // 220
    Goodbye,            // 221
    TransferComplete,   // 226
    ListingComplete,    // 226
    AbortedOk,          // 226
    EnteringPassive,    // 227 (%s)
    LoggedIn,           // 230 User %s logged in.
    CwdOk,              // 250
    DeleteOk,           // 250
    Renamed,            // 250 ... %s
    CurrentDir,         // 257 "%s"
    DirCreated,         // 257 %s directory created
    PasswordRequired,   // 331 ... %s.
    Restarting,         // 350 ... %ld ...
    WaitingForName,     // 350
    CantOpenData,       // 425
    TransferAborted,    // 426 ... %s aborted.
    NotUnderstood,      // 500 '%s'
    NeedMoreArguments,  // 501 ... %s need more arguments
    SyntaxError,        // 501
    LoginWithUserFirst, // 503
    TypeNotRecognized,  // 504
    CannotReRegister,   // 520
    TransferIncomplete, // 526
    PleaseLogin,        // 530
    LoginIncorrect,     // 530
    NoSuchFile,         // 550 %s: No such file or directory.
    AccessDenied,       // 550
    CannotRename,       // 553 Cannot rename to %s

    // The engine's own texts: the connection
    AdminDisconnect,
    IdleTimeout,
    TooManyFailedLogins,
    ShuttingDown,
    TooManyConnections,
    AddressBanned,
    LoginUnavailable,
    LineTooLong,
    AlreadyLoggedIn,
    // informational commands
    OnlyStreamMode,
    OnlyFileStructure,
    PathStatusBegin,
    PathStatusEnd,
    StatusConnectedFrom,
    StatusLoggedInAs,
    StatusType,
    StatusTransferring,
    StatusNoData,
    FeaturesBegin,
    FeaturesEnd,
    Utf8On,
    MlstOptions,
    OptionNotUnderstood,
    SiteNotImplemented,
    // data connections and transfers
    EpsvAll,
    ProtocolNotSupported,
    PassiveNeedsIPv4,
    PassivePortsBusy,
    EnteringExtendedPassive,
    IllegalDataCommand,
    CannotReadDir,
    NotADirectoryArgument,
    NotARegularFile,
    FileError,
    RestartBeyondEnd,
    IsADirectory,
    NoUniqueName,
    UniqueFileOpening,
    ReadError,
    // files and folders
    NameTooLong,
    NotADirectory,
    FileExists,
    CannotCreateDir,
    CannotRemoveDir,
    RemoveDirOk,
    CannotDelete,
    RenameNeedsSource,
    FileStatus,
    CannotSetTime,
    ModifyTimeSet,
    MachineListBegin,
    MachineListEnd,
    // TLS
    AuthOk,
    TlsAlreadyOn,
    AuthNotSupported,
    TlsNotActive,
    PbszOk,
    ProtOk,
    ProtNotSupported,
    ProtUnknown,
    TlsRequiredForLogin,
    DataMustBeEncrypted,
    SessionNotResumed,
    DataTlsFailed,
    PbszFirst,
    // transfers, continued
    InsufficientStorage,
    ExtendedPassiveOpen,
    // TLS, continued
    ClearControlRefused,
    // clients that manage files from afar
    NoRoomToAllocate,
    SiteHelpBegin,
    SiteHelpEnd,
    BadMode,
    CannotSetMode,
    // checksums
    HashResult,
    HashBare,
    HashAlgorithmSet,
    HashUnsupported,
    HashUnavailable,
    HashAborted,
    // quotas
    QuotaExceeded,
};

class ReplyTexts {
public:
    ReplyTexts();
    const QString& text(Reply r) const { return texts_[static_cast<qsizetype>(r)]; }
    // The text with its placeholders replaced by the arguments.
    QString format(Reply r, const QStringList& args = {}) const;
    // %s and %ld take the next argument, %1...%9 the one at that position.
    static QString fill(const QString& pattern, const QStringList& args);

private:
    QList<QString> texts_;
};

} // namespace kv::ftp
