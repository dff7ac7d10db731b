// Commands of clients that manage files from afar: SITE CHMOD and SITE HELP
// (mirroring tools set modes after an upload), ALLO (cameras and scanners
// announce the size of what they send) and AVBL (free space).

#include "ftp/ControlSession.h"

#include "ftp/EngineSettings.h"

namespace kv::ftp {

using files::FileError;

namespace {

// The SITE commands offered, as SITE HELP lists them.
constexpr const char* kSiteCommands[] = {"CHMOD", "HELP"};

// Digits beyond these cannot be a mode, and would only overflow.
constexpr int kMaxModeDigits = 6;

// An octal mode ("644", "0755"); nullopt for anything else. Whether the
// value is one a client may set is the file service's decision.
std::optional<int> octalMode(const QString& text) {
    if (text.isEmpty() || text.size() > kMaxModeDigits)
        return std::nullopt;
    int mode = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'7')
            return std::nullopt;
        mode = mode * 8 + (c.unicode() - u'0');
    }
    return mode;
}

} // namespace

void ControlSession::cmdSite(const QString& arg) {
    const QString line = arg.trimmed();
    const qsizetype space = line.indexOf(u' ');
    const QString name = line.left(space).toUpper();
    const QString rest = space < 0 ? QString() : line.mid(space + 1).trimmed();
    if (name == u"CHMOD")
        siteChmod(rest);
    else if (name == u"HELP")
        siteHelp(rest);
    else
        reply(Reply::SiteNotImplemented, {name});
}

void ControlSession::siteChmod(const QString& arg) {
    // "SITE CHMOD 644 name with spaces"
    const qsizetype space = arg.indexOf(u' ');
    const QString modeText = arg.left(space);
    const QString name = space < 0 ? QString() : arg.mid(space + 1);
    if (name.trimmed().isEmpty()) {
        reply(Reply::NeedMoreArguments, {QStringLiteral("SITE CHMOD")});
        return;
    }
    const std::optional<int> mode = octalMode(modeText);
    const files::PathResult r = files_.setMode(name, mode.value_or(-1));
    if (r.error == FileError::BadMode)
        reply(Reply::BadMode, {modeText});
    else if (r.error == FileError::Failed)
        reply(Reply::CannotSetMode, {name});
    else if (!r.ok())
        replyRefused(r.error, name);
    else
        reply(Reply::CommandOk, {QStringLiteral("SITE CHMOD")});
}

void ControlSession::siteHelp(const QString&) {
    reply(Reply::SiteHelpBegin);
    QStringList names;
    for (const char* name : kSiteCommands)
        names << QString::fromLatin1(name);
    reply(QLatin1Char(' ') + names.join(u' '));
    reply(Reply::SiteHelpEnd);
}

void ControlSession::cmdAllo(const QString& arg) {
    // "ALLO 1048576" or "ALLO 1048576 R 512"; only the size counts.
    const QString sizeText = arg.trimmed().section(u' ', 0, 0);
    if (sizeText.isEmpty()) {
        reply(Reply::CommandOk, {QStringLiteral("ALLO")});
        return;
    }
    bool number = false;
    const qint64 size = sizeText.toLongLong(&number);
    if (!number || size < 0 || !sizeText.front().isDigit()) {
        reply(Reply::SyntaxError);
        return;
    }
    // A folder whose free space cannot be told is not refused for it.
    const files::SpaceResult space =
        session::withinQuota(settings_.quota, grant_.get(), files_.freeSpace(QString()));
    if (space.ok() && size > space.freeBytes)
        reply(Reply::NoRoomToAllocate, {QString::number(space.freeBytes)});
    else
        reply(Reply::CommandOk, {QStringLiteral("ALLO")});
}

void ControlSession::cmdAvbl(const QString& arg) {
    const QString target = arg.trimmed().isEmpty() ? files_.currentFolder() : arg;
    const files::SpaceResult r =
        session::withinQuota(settings_.quota, grant_.get(), files_.freeSpace(target));
    if (r.error == FileError::NotADirectory)
        reply(Reply::NotADirectory, {target});
    else if (r.error == FileError::Failed)
        reply(Reply::CannotReadDir, {target});
    else if (!r.ok())
        replyRefused(r.error, target);
    else
        reply(Reply::FileStatus, {QString::number(r.freeBytes)});
}

} // namespace kv::ftp
