// The listing buffer: LIST, NLST and MLSD lines appended in place, with the
// date pieces of the last day seen kept for the entries that follow.
#include "engine/ListingWriter.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace kv::engine {

namespace {

constexpr qint64 kDaySecs = 86400;
// Older entries (and those clearly in the future) show the year instead of
// the time, as "ls -l" does; a little clock skew still counts as recent.
constexpr qint64 kSixMonthsSecs = 15778476; // 365.2425 / 2 days
constexpr qint64 kFutureSkewSecs = 3600;
// Julian day of 1970-01-01.
constexpr qint64 kEpochJulianDay = 2440588;
// Bytes reserved per entry: a LIST line with a short name fits.
constexpr qsizetype kBytesPerEntry = 64;

// English abbreviations whatever the locale: clients parse these names.
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void digits(char* at, int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10)
        at[i] = char('0' + value % 10);
}

// Division that rounds down, so times before 1970 land on the right day.
qint64 floorDiv(qint64 a, qint64 b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// Only the letters RFC 3659 defines, so a caller's text cannot break the facts.
bool isPermLetter(char c) {
    return c != 0 && std::strchr("acdeflmprw", c) != nullptr;
}

} // namespace

qint64 listedSecs(const QDateTime& t) {
    return t.isValid() ? t.toSecsSinceEpoch() : 0;
}

ListingWriter::ListingWriter(const QDateTime& nowUtc, qsizetype expectedEntries)
    : now_(listedSecs(nowUtc)) {
    out_.reserve(expectedEntries * kBytesPerEntry);
}

const ListingWriter::Day& ListingWriter::dayOf(qint64 secs) {
    const qint64 number = floorDiv(secs, kDaySecs);
    if (day_.known && day_.number == number)
        return day_;
    // Once per day seen, not once per entry.
    const QDate date = QDate::fromJulianDay(number + kEpochJulianDay);
    day_.known = true;
    day_.number = number;
    std::memcpy(day_.monthDay, kMonths[date.month() - 1], 3);
    day_.monthDay[3] = ' ';
    digits(day_.monthDay + 4, date.day(), 2);
    digits(day_.year, std::clamp(date.year(), 0, 9999), 4);
    std::memcpy(day_.yearMonthDay, day_.year, 4);
    digits(day_.yearMonthDay + 4, date.month(), 2);
    digits(day_.yearMonthDay + 6, date.day(), 2);
    return day_;
}

void ListingWriter::appendNumber(qint64 n) {
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, n).ptr;
    out_.append(text, end - text);
}

void ListingWriter::appendTwoDigits(int n) {
    char text[2];
    digits(text, n, 2);
    out_.append(text, 2);
}

void ListingWriter::appendName(const QString& name) {
    // A line break inside a name would end the line early and let a file
    // name forge further entries.
    const qsizetype from = out_.size();
    // ASCII names (most of them) are copied as they are, without a UTF-8
    // conversion into a temporary array of their own.
    const QChar* text = name.constData();
    const qsizetype size = name.size();
    if (std::all_of(text, text + size, [](QChar c) { return c.unicode() < 0x80; })) {
        out_.resize(from + size);
        std::transform(text, text + size, out_.data() + from,
                       [](QChar c) { return char(c.unicode()); });
    } else {
        out_ += name.toUtf8();
    }
    for (char* c = out_.data() + from; c != out_.data() + out_.size(); ++c) {
        if (*c == '\r' || *c == '\n')
            *c = '?';
    }
}

void ListingWriter::addLong(const FsEntry& entry) {
    char mode[11] = "lrwxrwxrwx";
    if (!entry.isLink) {
        const char r = entry.readable ? 'r' : '-';
        const char x = entry.isDir && entry.readable ? 'x' : '-';
        // Group and others may read only.
        const char text[11] = {
            entry.isDir ? 'd' : '-', r, entry.writable ? 'w' : '-', x, r, '-', x, r, '-', x, 0};
        std::memcpy(mode, text, sizeof mode);
    }
    out_.append(mode, 10);
    out_.append(" 1 ftp ftp ");
    appendNumber(entry.isLink ? 0 : entry.size);
    out_ += ' ';
    const qint64 secs = listedSecs(entry.modified);
    const Day& day = dayOf(secs);
    out_.append(day.monthDay, 6);
    const qint64 age = now_ - secs;
    if (age < kSixMonthsSecs && age >= -kFutureSkewSecs) {
        const qint64 inDay = secs - day.number * kDaySecs;
        out_ += ' ';
        appendTwoDigits(int(inDay / 3600));
        out_ += ':';
        appendTwoDigits(int(inDay / 60 % 60));
    } else {
        out_.append("  ");
        out_.append(day.year, 4);
    }
    out_ += ' ';
    appendName(entry.name);
    out_.append("\r\n");
}

void ListingWriter::addMachine(const FsEntry& entry, const QString& name, QByteArrayView perm) {
    out_.append("type=");
    out_.append(entry.isLink ? "OS.unix=slink;" : entry.isDir ? "dir;" : "file;");
    if (!entry.isDir && !entry.isLink) {
        out_.append("size=");
        appendNumber(entry.size);
        out_ += ';';
    }
    const qint64 secs = listedSecs(entry.modified);
    const Day& day = dayOf(secs);
    const qint64 inDay = secs - day.number * kDaySecs;
    out_.append("modify=");
    out_.append(day.yearMonthDay, 8);
    appendTwoDigits(int(inDay / 3600));
    appendTwoDigits(int(inDay / 60 % 60));
    appendTwoDigits(int(inDay % 60));
    out_ += ';';
    const qsizetype permAt = out_.size();
    out_.append("perm=");
    for (const char c : perm) {
        if (isPermLetter(c))
            out_ += c;
    }
    if (out_.size() == permAt + 5)
        out_.truncate(permAt); // no letter left: the fact is left out
    else
        out_ += ';';
    out_ += ' ';
    appendName(name);
    out_.append("\r\n");
}

void ListingWriter::addName(QByteArrayView prefix, const QString& name) {
    out_.append(prefix);
    appendName(name);
    out_.append("\r\n");
}

} // namespace kv::engine
