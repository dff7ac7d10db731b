#include "engine/ControlSession.h"

#include "engine/DataChannel.h"
#include "engine/EngineLimits.h"
#include "engine/EngineSettings.h"
#include "engine/HostAddresses.h"
#include "engine/Listing.h"

#include <QTcpSocket>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace kv::engine {

namespace {

// Control socket read-ahead: enough for a couple of command lines, so a
// client that floods commands during a transfer cannot grow our memory.
constexpr qint64 kControlReadBuffer = 2 * kMaxCommandLine;
// Replies waiting for a client that does not read them: past this, commands
// wait until the client catches up instead of the replies piling up here.
constexpr qint64 kMaxQueuedReplies = 64 * 1024;

// The line as it goes into the activity log: control characters shown as
// '?', the password never shown.
QString loggableLine(const QByteArray& line, const ParsedCommand& cmd) {
    if (cmd.ok() && cmd.verb == u"PASS")
        return QStringLiteral("PASS ***");
    QString text = QString::fromUtf8(line.endsWith('\r') ? line.chopped(1) : line);
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u'?';
    }
    return text;
}

} // namespace

ControlSession::ControlSession(QTcpSocket* socket, const EngineSettings& settings,
                               EngineEvents* events, QObject* parent)
    : QObject(parent), settings_(settings), events_(events), socket_(socket),
      peer_(plainAddress(socket->peerAddress())), remoteHost_(addressText(socket->peerAddress())),
      rootDir_(settings.serverRootDir) {
    socket_->setParent(this);
    socket_->setReadBufferSize(kControlReadBuffer);
    plainSocket_ = socket_->metaObject() == &QTcpSocket::staticMetaObject;
    idleTimer_.setSingleShot(true);
    connect(&idleTimer_, &QTimer::timeout, this, &ControlSession::onIdleTimeout);
    connect(socket_, &QTcpSocket::readyRead, this, &ControlSession::onControlReadable);
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
        if (socket_->bytesToWrite() == 0 && (!input_.isEmpty() || socket_->bytesAvailable() > 0))
            onControlReadable();
    });
    connect(socket_, &QTcpSocket::disconnected, this, [this] { closeWith(QString()); });
    connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (socket_->state() != QAbstractSocket::ConnectedState)
            closeWith(QString());
    });
}

ControlSession::~ControlSession() {
    if (transfer_)
        transfer_->abort();
}

void ControlSession::onControlReadable() {
    dropRetiredTransfers();
    processInput();
}

void ControlSession::start() {
    reply(Reply::Greeting);
    restartIdleTimer();
    processInput();
}

void ControlSession::Disconnect() {
    closeWith(QStringLiteral("421 Disconnected by the server administrator."));
}

void ControlSession::closeWith(const QString& text) {
    if (closed_)
        return;
    if (!text.isEmpty())
        reply(text);
    closed_ = true;
    idleTimer_.stop();
    if (transfer_) {
        const TransferResult r = transfer_->abort();
        log(QStringLiteral("transfer aborted: connection closed after %1 bytes").arg(r.bytes));
        transfer_->deleteLater();
        transfer_ = nullptr;
    }
    pending_.reset();
    if (data_)
        data_->reset();
    socket_->disconnectFromHost();
    // Report the end from the event loop, never from inside a handler that
    // may still be using this object.
    QMetaObject::invokeMethod(this, &ControlSession::finishClose, Qt::QueuedConnection);
}

void ControlSession::finishClose() {
    if (closeSignalled_)
        return;
    closeSignalled_ = true;
    Q_EMIT closed(this);
}

void ControlSession::restartIdleTimer() {
    if (closed_ || settings_.timeout <= 0 || transfer_ || pending_) {
        idleTimer_.stop();
        return;
    }
    idleTimer_.start(int(settings_.timeout) * 1000);
}

void ControlSession::onIdleTimeout() {
    closeWith(QStringLiteral("421 Timeout (%1 seconds): closing control connection.")
                  .arg(settings_.timeout));
}

void ControlSession::send(QByteArray bytes) {
#ifdef Q_OS_UNIX
    // Straight into the kernel when nothing is queued ahead of it, instead of
    // waiting for the next event-loop pass; whatever does not fit (or an
    // error) goes the socket's own way, which queues it and reports errors.
    const qintptr fd = socket_->socketDescriptor();
    if (plainSocket_ && fd >= 0 && socket_->bytesToWrite() == 0 &&
        socket_->state() == QAbstractSocket::ConnectedState) {
        const ssize_t n =
            ::send(int(fd), bytes.constData(), size_t(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n == bytes.size())
            return;
        if (n > 0)
            bytes.remove(0, n);
    }
#endif
    socket_->write(bytes);
}

void ControlSession::reply(const QString& text) {
    if (closed_)
        return;
    send(text.toUtf8().append("\r\n"));
    log(text);
}

void ControlSession::reply(Reply id, const QStringList& args) {
    reply(settings_.replies.format(id, args));
}

void ControlSession::log(const QString& line) {
    if (events_)
        events_->LogLine(*this, line);
}

void ControlSession::debug(const QString& line) {
    if (settings_.debugMode > 0)
        log(line);
}

// ---- input ----------------------------------------------------------------

bool ControlSession::holdWhileBusy(const QByteArray& line) const {
    if (!transfer_ && !pending_)
        return false;
    const ParsedCommand cmd = parseCommandLine(line);
    const CommandInfo* info = cmd.ok() ? findCommand(cmd.verb) : nullptr;
    return !(info && info->duringTransfer);
}

void ControlSession::processInput() {
    // Called again from inside (a transfer that ends while a command runs):
    // the loop further up the stack goes on with the next line.
    if (readingInput_)
        return;
    readingInput_ = true;
    while (!closed_ && socket_->bytesToWrite() < kMaxQueuedReplies) {
        const qint64 room = kMaxCommandLine + 2 - input_.size();
        if (room > 0 && socket_->bytesAvailable() > 0)
            input_.append(socket_->read(room));
        if (discarding_) {
            const qsizetype nl = input_.indexOf('\n');
            if (nl < 0) {
                input_.clear();
                if (socket_->bytesAvailable() > 0)
                    continue;
                break;
            }
            input_.remove(0, nl + 1);
            discarding_ = false;
            continue;
        }
        const qsizetype nl = input_.indexOf('\n');
        if (nl < 0) {
            if (input_.size() > kMaxCommandLine + 1) {
                input_.clear();
                discarding_ = true;
                reply(QStringLiteral("500 Command line too long."));
                continue;
            }
            break;
        }
        QByteArray line = input_.left(nl);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.size() > kMaxCommandLine) {
            input_.remove(0, nl + 1);
            reply(QStringLiteral("500 Command line too long."));
            continue;
        }
        if (holdWhileBusy(line))
            break;
        input_.remove(0, nl + 1);
        handleLine(line);
    }
    readingInput_ = false;
    if (input_.isEmpty())
        input_ = QByteArray(); // an idle session keeps no buffer
}

void ControlSession::handleLine(const QByteArray& line) {
    restartIdleTimer();
    const ParsedCommand cmd = parseCommandLine(line);
    log(loggableLine(line, cmd));
    dispatchCommand(*this, cmd);
}

void ControlSession::rejectCommand(const ParsedCommand& cmd, ParseError error,
                                   const CommandInfo* info, bool loginMissing) {
    if (loginMissing) {
        reply(Reply::PleaseLogin);
        return;
    }
    if (info) { // an argument is missing
        reply(Reply::NeedMoreArguments, {QString::fromLatin1(info->verb)});
        return;
    }
    switch (error) {
    case ParseError::ControlChar:
    case ParseError::BadEncoding:
        reply(Reply::SyntaxError);
        break;
    default:
        reply(Reply::NotUnderstood, {cmd.verb});
        break;
    }
}

void ControlSession::runCommand(const CommandInfo& info, const QString& arg) {
    // A REST offset only applies to the command right after it; RNFR only
    // to the RNTO right after it.
    const bool keepsRest = info.id == CommandId::Rest || info.id == CommandId::Retr ||
                           info.id == CommandId::Stor || info.id == CommandId::Pasv ||
                           info.id == CommandId::Epsv || info.id == CommandId::Port ||
                           info.id == CommandId::Eprt || info.id == CommandId::Type;
    if (!keepsRest)
        restOffset_ = 0;
    if (info.id != CommandId::Rnto && info.id != CommandId::Rnfr)
        renameFrom_.reset();

    switch (info.id) {
    case CommandId::User:
        cmdUser(arg);
        break;
    case CommandId::Pass:
        cmdPass(arg);
        break;
    case CommandId::Acct:
        reply(Reply::NotNeeded);
        break;
    case CommandId::Cwd:
        cmdCwd(arg);
        break;
    case CommandId::Cdup:
        cmdCwd(QStringLiteral(".."));
        break;
    case CommandId::Pwd:
        cmdPwd();
        break;
    case CommandId::Mkd:
        cmdMkd(arg);
        break;
    case CommandId::Rmd:
        cmdRmd(arg);
        break;
    case CommandId::Dele:
        cmdDele(arg);
        break;
    case CommandId::Rnfr:
        cmdRnfr(arg);
        break;
    case CommandId::Rnto:
        cmdRnto(arg);
        break;
    case CommandId::List:
    case CommandId::Nlst:
    case CommandId::Mlsd:
        cmdList(info.id, arg);
        break;
    case CommandId::Mlst:
        cmdMlst(arg);
        break;
    case CommandId::Retr:
        cmdRetr(arg);
        break;
    case CommandId::Stor:
    case CommandId::Appe:
    case CommandId::Stou:
        cmdStore(info.id, arg);
        break;
    case CommandId::Rest:
        cmdRest(arg);
        break;
    case CommandId::Abor:
        cmdAbor();
        break;
    case CommandId::Type:
        cmdType(arg);
        break;
    case CommandId::Mode:
        if (arg.trimmed().compare(u"S", Qt::CaseInsensitive) == 0)
            reply(Reply::CommandOk, {QStringLiteral("MODE")});
        else
            reply(QStringLiteral("504 Only stream mode is supported."));
        break;
    case CommandId::Stru:
        if (arg.trimmed().compare(u"F", Qt::CaseInsensitive) == 0)
            reply(Reply::CommandOk, {QStringLiteral("STRU")});
        else
            reply(QStringLiteral("504 Only file structure is supported."));
        break;
    case CommandId::Allo:
        reply(Reply::NotNeeded);
        break;
    case CommandId::Syst:
        reply(Reply::SystemType);
        break;
    case CommandId::Stat:
        cmdStat(arg);
        break;
    case CommandId::Help:
        cmdHelp();
        break;
    case CommandId::Noop:
        reply(Reply::CommandOk, {QStringLiteral("NOOP")});
        break;
    case CommandId::Quit:
        closeWith(settings_.replies.format(Reply::Goodbye));
        break;
    case CommandId::Site:
        cmdSite(arg);
        break;
    case CommandId::Feat:
        cmdFeat();
        break;
    case CommandId::Opts:
        cmdOpts(arg);
        break;
    case CommandId::Size:
        cmdSize(arg);
        break;
    case CommandId::Mdtm:
        cmdMdtm(arg);
        break;
    case CommandId::Mfmt:
        cmdMfmt(arg);
        break;
    case CommandId::Pasv:
        cmdPasv(false, arg);
        break;
    case CommandId::Epsv:
        cmdPasv(true, arg);
        break;
    case CommandId::Port:
        cmdPort(false, arg);
        break;
    case CommandId::Eprt:
        cmdPort(true, arg);
        break;
    }
}

// ---- login and simple commands ---------------------------------------------

void ControlSession::cmdUser(const QString& arg) {
    if (loggedIn_) {
        reply(Reply::CannotReRegister);
        return;
    }
    userName_ = arg;
    password_.clear();
    userGiven_ = true;
    reply(Reply::PasswordRequired, {userName_});
}

void ControlSession::cmdPass(const QString& arg) {
    if (loggedIn_) {
        reply(QStringLiteral("230 Already logged in."));
        return;
    }
    if (!userGiven_) {
        reply(Reply::LoginWithUserFirst);
        return;
    }
    userGiven_ = false;
    Verdict verdict = Verdict::Deny;
    if (arg.size() <= kMaxPasswordLength) {
        password_ = arg;
        // Each login starts from the server's root with no virtual folders;
        // the login handler may change both.
        rootDir_ = settings_.serverRootDir;
        virtualDirs_.clear();
        if (events_)
            verdict = events_->LoginRequest(*this);
        if (closed_)
            return;
    }
    if (verdict == Verdict::Deny) {
        password_.clear();
        reply(Reply::LoginIncorrect);
        if (++failedLogins_ >= kMaxFailedLogins)
            closeWith(QStringLiteral("421 Too many failed logins."));
        return;
    }
    failedLogins_ = 0;
    loggedIn_ = true;
    cwd_ = QStringLiteral("/");
    vfs_ = VirtualFileSystem(rootDir_, virtualDirs_.items(), settings_.resolveLinks != 0);
    reply(Reply::LoggedIn, {userName_});
}

void ControlSession::cmdType(const QString& arg) {
    const QStringList words = arg.trimmed().toUpper().split(u' ', Qt::SkipEmptyParts);
    const QString t = words.value(0);
    if (t == u"A" && (words.size() == 1 || words.value(1) == u"N")) {
        asciiType_ = true;
        reply(Reply::TypeSet, {QStringLiteral("A")});
    } else if (t == u"I" && words.size() == 1) {
        asciiType_ = false;
        reply(Reply::TypeSet, {QStringLiteral("I")});
    } else if (t == u"L" && words.size() == 2 && words.value(1) == u"8") {
        asciiType_ = false;
        reply(Reply::TypeSet, {QStringLiteral("L 8")});
    } else {
        reply(Reply::TypeNotRecognized);
    }
}

void ControlSession::cmdStat(const QString& arg) {
    if (!arg.trimmed().isEmpty()) {
        std::optional<ResolvedPath> path = resolveExisting(arg);
        if (!path)
            return;
        reply(QStringLiteral("213-Status of %1:").arg(path->virtualPath));
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (path->isDir) {
            if (const auto entries = vfs_.list(*path)) {
                for (const FsEntry& e : *entries)
                    reply(QLatin1Char(' ') + QString::fromUtf8(listLine(e, now)));
            }
        } else if (const auto entry = vfs_.stat(*path)) {
            reply(QLatin1Char(' ') + QString::fromUtf8(listLine(*entry, now)));
        }
        reply(QStringLiteral("213 End of status"));
        return;
    }
    reply(Reply::StatusBegin, {userName_});
    reply(QStringLiteral(" Connected from %1").arg(remoteHost_));
    reply(QStringLiteral(" Logged in as %1").arg(userName_));
    reply(QStringLiteral(" TYPE: %1, STRUcture: File, MODE: Stream")
              .arg(asciiType_ ? QStringLiteral("ASCII") : QStringLiteral("BINARY")));
    if (transfer_)
        reply(QStringLiteral(" Transfer in progress: %1 bytes").arg(transfer_->bytes()));
    else
        reply(QStringLiteral(" No data connection"));
    reply(Reply::StatusEnd);
}

void ControlSession::cmdHelp() {
    reply(Reply::HelpBegin);
    const QStringList verbs = commandVerbs();
    for (qsizetype i = 0; i < verbs.size(); i += 8)
        reply(QLatin1Char(' ') + verbs.mid(i, 8).join(u' '));
    reply(Reply::HelpEnd, {QString::fromLatin1(kEngineVersion)});
}

void ControlSession::cmdFeat() {
    reply(QStringLiteral("211-Features:"));
    for (const char* feature :
         {" EPRT", " EPSV", " MDTM", " MFMT", " MLST type*;size*;modify*;perm*;", " REST STREAM",
          " SIZE", " TVFS", " UTF8"})
        reply(QString::fromLatin1(feature));
    reply(QStringLiteral("211 End"));
}

void ControlSession::cmdOpts(const QString& arg) {
    const QString upper = arg.trimmed().toUpper();
    if (upper == u"UTF8 ON" || upper == u"UTF8") {
        // Names are always exchanged as UTF-8; the option only confirms it.
        reply(QStringLiteral("200 UTF8 set to on"));
    } else if (upper.startsWith(u"MLST")) {
        reply(QStringLiteral("200 MLST OPTS type;size;modify;perm;"));
    } else {
        reply(QStringLiteral("501 Option not understood."));
    }
}

void ControlSession::cmdSite(const QString& arg) {
    if (refusedBy(&EngineEvents::OtherCheckA, arg))
        return;
    reply(QStringLiteral("504 SITE %1 is not implemented.")
              .arg(arg.section(u' ', 0, 0, QString::SectionSkipEmpty).toUpper()));
}

} // namespace kv::engine
