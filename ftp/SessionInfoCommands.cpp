// The informational and setting commands of a control session: SYST, STAT,
// HELP, FEAT, OPTS, CLNT, TYPE, MODE, STRU, NOOP, QUIT and the ignored ones.

#include "ftp/ControlSession.h"

#include "files/FileHasher.h"
#include "ftp/EngineSettings.h"
#include "ftp/Listing.h"

namespace kv::ftp {

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
    // The algorithm HASH uses now carries a star (OPTS HASH changes it).
    QStringList hashes;
    for (const files::HashAlgorithm a : {files::HashAlgorithm::Sha256, files::HashAlgorithm::Sha1,
                                         files::HashAlgorithm::Md5, files::HashAlgorithm::Crc32})
        hashes << files::hashName(a) + (a == hashAlgorithm_ ? QStringLiteral("*") : QString());
    const QStringList features = {
        QStringLiteral(" AVBL"),
        QStringLiteral(" EPRT"),
        QStringLiteral(" EPSV"),
        QStringLiteral(" HASH ") + hashes.join(u';'),
        QStringLiteral(" MDTM"),
        QStringLiteral(" MFMT"),
        QStringLiteral(" MLST ") + mlstFacts_.offered(),
        QStringLiteral(" REST STREAM"),
        QStringLiteral(" SIZE"),
        QStringLiteral(" TVFS"),
        QStringLiteral(" UTF8"),
        QStringLiteral(" XCRC"),
        QStringLiteral(" XMD5"),
        QStringLiteral(" XSHA1"),
        QStringLiteral(" XSHA256"),
    };
    for (const QString& feature : features)
        reply(feature);
    if (offersTls()) {
        for (const char* feature : {" AUTH TLS", " AUTH SSL", " PBSZ", " PROT"})
            reply(QString::fromLatin1(feature));
    }
    reply(Reply::FeaturesEnd);
}

void ControlSession::cmdOpts(const QString& arg) {
    const QString line = arg.trimmed();
    const QString option = line.section(u' ', 0, 0).toUpper();
    const QString value = line.section(u' ', 1).trimmed();
    if (option == u"UTF8" && (value.isEmpty() || value.compare(u"ON", Qt::CaseInsensitive) == 0)) {
        reply(Reply::Utf8On); // names are always exchanged as UTF-8
    } else if (option == u"MLST") {
        // "OPTS MLST type;size;": the facts MLST and MLSD give from now on.
        mlstFacts_ = MlstFacts::fromList(value);
        reply(Reply::MlstOptions, {mlstFacts_.selected()});
    } else if (option == u"HASH") {
        // "OPTS HASH" tells the algorithm HASH uses, "OPTS HASH SHA-1" changes it.
        if (value.isEmpty()) {
            reply(Reply::HashAlgorithmSet, {files::hashName(hashAlgorithm_)});
        } else if (const std::optional<files::HashAlgorithm> a = files::hashByName(value)) {
            hashAlgorithm_ = *a;
            reply(Reply::HashAlgorithmSet, {files::hashName(*a)});
        } else {
            reply(Reply::HashUnsupported, {value});
        }
    } else {
        reply(Reply::OptionNotUnderstood);
    }
}

void ControlSession::cmdClnt(const QString&) {
    // The client's name is of no use to the server; the command is accepted.
    reply(Reply::CommandOk, {QStringLiteral("CLNT")});
}

} // namespace kv::ftp
