#include "engine/Listing.h"

namespace kv::engine {

namespace {

// Older entries (and those clearly in the future) show the year instead of
// the time, as "ls -l" does; a little clock skew still counts as recent.
constexpr qint64 kSixMonthsSecs = 15778476; // 365.2425 / 2 days
constexpr qint64 kFutureSkewSecs = 3600;

// English abbreviations whatever the locale: clients parse these names.
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

QDateTime utcOrEpoch(const QDateTime& t) {
    return t.isValid() ? t.toUTC() : QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
}

QByteArray twoDigits(int n) {
    return QByteArray::number(n).rightJustified(2, '0');
}

// A line break inside a name would end the line early and let a file name
// forge further entries.
QByteArray safeName(const QString& name) {
    QByteArray bytes = name.toUtf8();
    bytes.replace('\r', '?');
    bytes.replace('\n', '?');
    return bytes;
}

QByteArray modeOf(const FsEntry& entry) {
    if (entry.isLink)
        return "lrwxrwxrwx";
    QByteArray mode = entry.isDir ? "d" : "-";
    const char x = entry.isDir && entry.readable ? 'x' : '-';
    const char r = entry.readable ? 'r' : '-';
    mode += r;
    mode += entry.writable ? 'w' : '-';
    mode += x;
    for (int i = 0; i < 2; ++i) { // group and others: read only
        mode += r;
        mode += '-';
        mode += x;
    }
    return mode;
}

QByteArray dateOf(const QDateTime& modified, const QDateTime& nowUtc) {
    const QDateTime t = utcOrEpoch(modified);
    const QDate day = t.date();
    QByteArray text = kMonths[day.month() - 1];
    text += ' ';
    text += twoDigits(day.day());
    const qint64 age = utcOrEpoch(nowUtc).toSecsSinceEpoch() - t.toSecsSinceEpoch();
    if (age < kSixMonthsSecs && age >= -kFutureSkewSecs) {
        text += ' ';
        text += twoDigits(t.time().hour());
        text += ':';
        text += twoDigits(t.time().minute());
    } else {
        text += "  ";
        text += QByteArray::number(day.year()).rightJustified(4, '0');
    }
    return text;
}

// Only the letters RFC 3659 defines, so a caller's text cannot break the facts.
QByteArray permFact(const QString& perm) {
    QByteArray letters;
    static const QByteArray allowed = "acdeflmprw";
    for (const QChar c : perm) {
        if (c.unicode() < 128 && allowed.contains(char(c.unicode())))
            letters += char(c.unicode());
    }
    return letters;
}

} // namespace

QByteArray listLine(const FsEntry& entry, const QDateTime& nowUtc) {
    QByteArray line = modeOf(entry);
    line += " 1 ftp ftp ";
    line += QByteArray::number(entry.isLink ? 0 : entry.size);
    line += ' ';
    line += dateOf(entry.modified, nowUtc);
    line += ' ';
    line += safeName(entry.name);
    return line;
}

QByteArray mlsxLine(const FsEntry& entry, const QString& name, const QString& perm) {
    QByteArray line = "type=";
    line += entry.isLink ? "OS.unix=slink" : entry.isDir ? "dir" : "file";
    line += ';';
    if (!entry.isDir && !entry.isLink) {
        line += "size=" + QByteArray::number(entry.size) + ';';
    }
    line += "modify=" + ftpTimestamp(entry.modified).toLatin1() + ';';
    const QByteArray letters = permFact(perm);
    if (!letters.isEmpty())
        line += "perm=" + letters + ';';
    line += ' ';
    line += safeName(name);
    return line;
}

QString ftpTimestamp(const QDateTime& utc) {
    const QDateTime t = utcOrEpoch(utc);
    const QDate d = t.date();
    const QTime h = t.time();
    return QString::asprintf("%04d%02d%02d%02d%02d%02d", d.year(), d.month(), d.day(), h.hour(),
                             h.minute(), h.second());
}

} // namespace kv::engine
