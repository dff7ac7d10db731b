#include "ftp/ListingPieces.h"

namespace kv::ftp {

namespace {
// Entries taken from the folder at a time: a piece overshoots kPieceBytes
// by less than that many lines.
constexpr qsizetype kEntriesAtOnce = 32;
} // namespace

ListingPieces::ListingPieces(std::shared_ptr<files::FolderEntries> entries, Format format,
                             const QDateTime& nowUtc, std::optional<QRegularExpression> filter,
                             QByteArray prefix, PermOf permOf, MlstFacts facts)
    : entries_(std::move(entries)), format_(format), now_(nowUtc), filter_(std::move(filter)),
      prefix_(std::move(prefix)), permOf_(std::move(permOf)), facts_(facts) {}

QByteArray ListingPieces::next() {
    ListingWriter writer(now_, kEntriesAtOnce);
    QList<files::FsEntry> batch;
    while (writer.size() < kPieceBytes && entries_ && entries_->take(batch, kEntriesAtOnce)) {
        for (const files::FsEntry& e : std::as_const(batch)) {
            if (filter_ && !filter_->match(e.name).hasMatch())
                continue;
            if (format_ == Format::Long)
                writer.addLong(e);
            else if (format_ == Format::Names)
                writer.addName(prefix_, e.name);
            else
                writer.addMachine(e, e.name, permOf_ ? permOf_(e) : QByteArrayView(), facts_);
        }
        batch.clear();
    }
    QByteArray piece = writer.take();
    if (piece.isEmpty())
        entries_.reset(); // lets the folder go
    return piece;
}

} // namespace kv::ftp
