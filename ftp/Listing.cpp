// Single listing lines, for MLST, STAT and the tests: the same bytes the
// listing buffer makes for a whole folder, without the line end.
#include "ftp/Listing.h"

#include "ftp/ListingWriter.h"

namespace kv::ftp {

namespace {

QByteArray withoutLineEnd(QByteArray line) {
    line.chop(2);
    return line;
}

} // namespace

QByteArray listLine(const files::FsEntry& entry, const QDateTime& nowUtc) {
    ListingWriter writer(nowUtc, 1);
    writer.addLong(entry);
    return withoutLineEnd(writer.take());
}

QByteArray mlsxLine(const files::FsEntry& entry, const QString& name, const QString& perm,
                    MlstFacts facts) {
    ListingWriter writer(QDateTime(), 1);
    writer.addMachine(entry, name, perm.toLatin1(), facts);
    return withoutLineEnd(writer.take());
}

QString ftpTimestamp(const QDateTime& utc) {
    const QDateTime t = utc.isValid() ? utc.toUTC() : QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    const QDate d = t.date();
    const QTime h = t.time();
    return QString::asprintf("%04d%02d%02d%02d%02d%02d", d.year(), d.month(), d.day(), h.hour(),
                             h.minute(), h.second());
}

} // namespace kv::ftp
