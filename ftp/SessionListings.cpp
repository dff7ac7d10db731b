// Listings of a control session: LIST, NLST and MLSD over the data
// connection (with the "-la" options and wildcards clients send), and MLST
// on the control connection.

#include "ftp/ControlSession.h"

#include "ftp/DataChannel.h"
#include "ftp/EngineSettings.h"
#include "ftp/Listing.h"
#include "ftp/ListingPieces.h"
#include "ftp/ListingWriter.h"

#include <QRegularExpression>

namespace kv::ftp {

void ControlSession::cmdList(const QString& arg) {
    listing(ListFormat::Long, arg);
}

void ControlSession::cmdNlst(const QString& arg) {
    listing(ListFormat::Names, arg);
}

void ControlSession::cmdMlsd(const QString& arg) {
    listing(ListFormat::Machine, arg);
}

void ControlSession::listing(ListFormat format, const QString& arg) {
    const bool machine = format == ListFormat::Machine;
    // "LIST -la dir": leading options are accepted and ignored.
    QString target = arg;
    while (!machine && target.startsWith(u'-')) {
        const qsizetype space = target.indexOf(u' ');
        target = space < 0 ? QString() : target.mid(space + 1).trimmed();
    }
    // "NLST *.txt" (mget of command-line clients): a wildcard in the last
    // name filters the folder above it, unless a file has that very name.
    std::optional<QRegularExpression> filter;
    const qsizetype slash = std::max(target.lastIndexOf(u'/'), target.lastIndexOf(u'\\'));
    const QString lastName = target.mid(slash + 1);
    if (!machine && (lastName.contains(u'*') || lastName.contains(u'?')) &&
        !files_.exists(target)) {
        filter = QRegularExpression(QRegularExpression::wildcardToRegularExpression(
            lastName, QRegularExpression::UnanchoredWildcardConversion));
        target = slash < 0 ? QString() : target.left(slash + 1);
    }
    const bool named = !target.trimmed().isEmpty();
    const QString shown = named ? target : files_.currentFolder();
    files::FolderListing listed = files_.listLazily(shown, format == ListFormat::Names);
    switch (listed.error) {
    case files::FileError::None:
    case files::FileError::CannotRead:
    case files::FileError::NoFacts:
        break; // the path is there: answered below
    default:
        replyRefused(listed.error, shown);
        return;
    }
    // NLST of a named folder gives paths as the client wrote them.
    QString prefix;
    if (format == ListFormat::Names && named && listed.isDir) {
        prefix = target;
        if (!prefix.endsWith(u'/'))
            prefix += u'/';
    }

    const QDateTime now = QDateTime::currentDateTimeUtc();
    QByteArray out;
    std::function<QByteArray()> more;
    if (listed.isDir) {
        if (!listed.ok()) {
            reply(Reply::CannotReadDir, {shown});
            return;
        }
        // Made a piece at a time, as the client takes it. The session
        // outlives its transfers.
        const auto pieceFormat = format == ListFormat::Long    ? ListingPieces::Format::Long
                                 : format == ListFormat::Names ? ListingPieces::Format::Names
                                                               : ListingPieces::Format::Machine;
        more = [pieces = std::make_shared<ListingPieces>(
                    listed.more, pieceFormat, now, std::move(filter), prefix.toUtf8(),
                    [this](const files::FsEntry& e) { return permFacts(e); }, mlstFacts_)] {
            return pieces->next();
        };
    } else {
        if (machine) {
            reply(Reply::NotADirectoryArgument, {target});
            return;
        }
        if (!listed.ok()) {
            reply(Reply::NoSuchFile, {target});
            return;
        }
        out += format == ListFormat::Long ? listLine(listed.entries.first(), now) : target.toUtf8();
        out += "\r\n";
    }
    auto pending = std::make_unique<PendingTransfer>();
    pending->kind = PendingTransfer::Kind::Listing;
    pending->listing = std::move(out);
    pending->moreListing = std::move(more);
    pending->path = listed.path;
    pending->opening =
        (data_ && data_->isPassive())
            ? settings_.replies.format(data_->isExtendedPassive() ? Reply::ExtendedPassiveOpen
                                                                  : Reply::PassiveOpen)
            : settings_.replies.format(Reply::OpeningAscii, {QStringLiteral(" for file list")});
    beginTransfer(std::move(pending));
}

QByteArrayView ControlSession::permFacts(const files::FsEntry& entry) const {
    return permTable_.lettersFor(entry.isDir, entry.readable, entry.writable);
}

void ControlSession::cmdMlst(const QString& arg) {
    const QString target = arg.trimmed().isEmpty() ? files_.currentFolder() : arg;
    const files::FactsResult r = files_.stat(target);
    if (!r.ok()) {
        replyRefused(r.error, target);
        return;
    }
    reply(Reply::MachineListBegin, {r.path});
    reply(QLatin1Char(' ') +
          QString::fromUtf8(
              mlsxLine(r.entry, r.path, QString::fromLatin1(permFacts(r.entry)), mlstFacts_)));
    reply(Reply::MachineListEnd);
}

} // namespace kv::ftp
