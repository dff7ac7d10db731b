#pragma once
// A folder's listing (LIST, NLST, MLSD) made a piece at a time, as the
// client takes it: a piece is about kPieceBytes, so a client that stops
// reading holds one piece here (and FolderEntries' names), whatever the size
// of the folder.

#include "files/FileFacts.h"
#include "ftp/ListingWriter.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QRegularExpression>

#include <functional>
#include <memory>
#include <optional>

namespace kv::ftp {

class ListingPieces {
public:
    enum class Format { Long, Names, Machine };
    // The perm fact's letters of an entry (MLSD).
    using PermOf = std::function<QByteArrayView(const files::FsEntry&)>;
    // A piece ends at the first entry past this many bytes.
    static constexpr qsizetype kPieceBytes = 16 * 1024;

    // `filter`: only names it matches; `prefix`: put before each name (NLST
    // of a named folder gives paths as the client wrote them).
    ListingPieces(std::shared_ptr<files::FolderEntries> entries, Format format,
                  const QDateTime& nowUtc, std::optional<QRegularExpression> filter = {},
                  QByteArray prefix = {}, PermOf permOf = {}, MlstFacts facts = MlstFacts::all());

    // The next lines, each ending in CRLF; empty when the listing is done.
    QByteArray next();

private:
    std::shared_ptr<files::FolderEntries> entries_;
    Format format_;
    QDateTime now_;
    std::optional<QRegularExpression> filter_;
    QByteArray prefix_;
    PermOf permOf_;
    MlstFacts facts_;
};

} // namespace kv::ftp
