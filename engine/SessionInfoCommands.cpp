// The informational and setting commands of a control session: SYST, STAT,
// HELP, FEAT, OPTS, SITE, TYPE, MODE, STRU, NOOP, QUIT and the ignored ones.

#include "engine/ControlSession.h"

#include "engine/EngineSettings.h"
#include "engine/Listing.h"

namespace kv::engine {

void ControlSession::cmdNotNeeded(const QString&) {
    reply(Reply::NotNeeded);
}

void ControlSession::cmdType(const QString& arg) {
    const QStringList words = arg.trimmed().toUpper().split(u' ', Qt::SkipEmptyParts);
    const QString t = words.value(0);
    QString type;
    if (t == u"A" && (words.size() == 1 || words.value(1) == u"N"))
        type = QStringLiteral("A");
    else if (t == u"I" && words.size() == 1)
        type = QStringLiteral("I");
    else if (t == u"L" && words.size() == 2 && words.value(1) == u"8")
        type = QStringLiteral("L 8");
    if (type.isEmpty()) {
        reply(Reply::TypeNotRecognized);
        return;
    }
    asciiType_ = type == u"A";
    reply(Reply::TypeSet, {type});
}

void ControlSession::cmdMode(const QString& arg) {
    if (arg.trimmed().compare(u"S", Qt::CaseInsensitive) == 0)
        reply(Reply::CommandOk, {QStringLiteral("MODE")});
    else
        reply(Reply::OnlyStreamMode);
}

void ControlSession::cmdStru(const QString& arg) {
    if (arg.trimmed().compare(u"F", Qt::CaseInsensitive) == 0)
        reply(Reply::CommandOk, {QStringLiteral("STRU")});
    else
        reply(Reply::OnlyFileStructure);
}

void ControlSession::cmdSyst(const QString&) {
    reply(Reply::SystemType);
}

void ControlSession::cmdNoop(const QString&) {
    reply(Reply::CommandOk, {QStringLiteral("NOOP")});
}

void ControlSession::cmdQuit(const QString&) {
    closeWith(settings_.replies.format(Reply::Goodbye));
}

void ControlSession::cmdStat(const QString& arg) {
    if (!arg.trimmed().isEmpty()) {
        const files::FolderListing listed = files_.list(arg);
        if (!listed.ok() && listed.error != files::FileError::CannotRead &&
            listed.error != files::FileError::NoFacts) {
            replyRefused(listed.error, arg);
            return;
        }
        // A folder that cannot be read, or a file gone meanwhile, lists nothing.
        reply(Reply::PathStatusBegin, {listed.path});
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (const files::FsEntry& e : listed.entries)
            reply(QLatin1Char(' ') + QString::fromUtf8(listLine(e, now)));
        reply(Reply::PathStatusEnd);
        return;
    }
    reply(Reply::StatusBegin, {userName_});
    reply(Reply::StatusConnectedFrom, {remoteHost_});
    reply(Reply::StatusLoggedInAs, {userName_});
    reply(Reply::StatusType, {asciiType_ ? QStringLiteral("ASCII") : QStringLiteral("BINARY")});
    if (transfer_)
        reply(Reply::StatusTransferring, {QString::number(transfer_->bytes())});
    else
        reply(Reply::StatusNoData);
    reply(Reply::StatusEnd);
}

void ControlSession::cmdHelp(const QString&) {
    reply(Reply::HelpBegin);
    const QStringList verbs = commandVerbs(offersTls());
    for (qsizetype i = 0; i < verbs.size(); i += 8)
        reply(QLatin1Char(' ') + verbs.mid(i, 8).join(u' '));
    reply(Reply::HelpEnd, {QString::fromLatin1(kEngineVersion)});
}

void ControlSession::cmdFeat(const QString&) {
    reply(Reply::FeaturesBegin);
    for (const char* feature :
         {" EPRT", " EPSV", " MDTM", " MFMT", " MLST type*;size*;modify*;perm*;", " REST STREAM",
          " SIZE", " TVFS", " UTF8"})
        reply(QString::fromLatin1(feature));
    if (offersTls()) {
        for (const char* feature : {" AUTH TLS", " AUTH SSL", " PBSZ", " PROT"})
            reply(QString::fromLatin1(feature));
    }
    reply(Reply::FeaturesEnd);
}

void ControlSession::cmdOpts(const QString& arg) {
    const QString upper = arg.trimmed().toUpper();
    if (upper == u"UTF8 ON" || upper == u"UTF8")
        reply(Reply::Utf8On); // names are always exchanged as UTF-8
    else if (upper.startsWith(u"MLST"))
        reply(Reply::MlstOptions);
    else
        reply(Reply::OptionNotUnderstood);
}

void ControlSession::cmdSite(const QString& arg) {
    if (refusedByRights(arg))
        return;
    reply(Reply::SiteNotImplemented,
          {arg.section(u' ', 0, 0, QString::SectionSkipEmpty).toUpper()});
}

} // namespace kv::engine
