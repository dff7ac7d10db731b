// The listing buffer: LIST, NLST and MLSD lines appended in place, with the
// date pieces of the last day seen kept for the entries that follow.
#include "ftp/ListingWriter.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace kv::ftp {

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

// The fixed-width parts of a line, put together on the stack and appended
// to the listing in one call: each QByteArray append costs a capacity check
// and an out-of-line insert, and a line used to make a dozen of them.
class LineParts {
public:
    void put(const char* text, int size) {
        std::memcpy(text_ + size_, text, size_t(size));
        size_ += size;
    }
    template <int N> void put(const char (&text)[N]) { put(text, N - 1); }
    void put(char c) { text_[size_++] = c; }
    void number(qint64 n) {
        size_ = int(std::to_chars(text_ + size_, text_ + kCapacity, n).ptr - text_);
    }
    void twoDigits(int n) {
        digits(text_ + size_, n, 2);
        size_ += 2;
    }
    // Drops what was put after `size` (a fact that turned out empty).
    void cut(int size) { size_ = size; }
    int size() const { return size_; }
    void appendTo(QByteArray& out) const { out.append(text_, size_); }

private:
    // The longest fixed part put together here (a LIST line up to its name,
    // or MLSD facts up to perm) is well below this.
    static constexpr int kCapacity = 128;
    char text_[kCapacity];
    int size_ = 0;
};

struct FactName {
    MlstFacts::Fact fact;
    QLatin1StringView name;
};
constexpr FactName kFactNames[] = {{MlstFacts::Type, QLatin1StringView("type")},
                                   {MlstFacts::Size, QLatin1StringView("size")},
                                   {MlstFacts::Modify, QLatin1StringView("modify")},
                                   {MlstFacts::Perm, QLatin1StringView("perm")}};

} // namespace

MlstFacts MlstFacts::fromList(QStringView list) {
    quint8 bits = 0;
    for (const QStringView fact : list.split(u';', Qt::SkipEmptyParts)) {
        for (const FactName& f : kFactNames) {
            if (fact.trimmed().compare(f.name, Qt::CaseInsensitive) == 0)
                bits |= f.fact;
        }
    }
    return MlstFacts(bits);
}

QString MlstFacts::selected() const {
    QString text;
    for (const FactName& f : kFactNames) {
        if (has(f.fact))
            text += f.name + u';';
    }
    return text;
}

QString MlstFacts::offered() const {
    QString text;
    for (const FactName& f : kFactNames)
        text += f.name + (has(f.fact) ? QStringLiteral("*;") : QStringLiteral(";"));
    return text;
}

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

void ListingWriter::addLong(const files::FsEntry& entry) {
    LineParts line;
    if (entry.isLink) {
        line.put("lrwxrwxrwx");
    } else {
        const char r = entry.readable ? 'r' : '-';
        const char x = entry.isDir && entry.readable ? 'x' : '-';
        // Group and others may read only.
        const char mode[10] = {
            entry.isDir ? 'd' : '-', r, entry.writable ? 'w' : '-', x, r, '-', x, r, '-', x};
        line.put(mode, 10);
    }
    line.put(" 1 ftp ftp ");
    line.number(entry.isLink ? 0 : entry.size);
    line.put(' ');
    const qint64 secs = listedSecs(entry.modified);
    const Day& day = dayOf(secs);
    line.put(day.monthDay, 6);
    const qint64 age = now_ - secs;
    if (age < kSixMonthsSecs && age >= -kFutureSkewSecs) {
        const qint64 inDay = secs - day.number * kDaySecs;
        line.put(' ');
        line.twoDigits(int(inDay / 3600));
        line.put(':');
        line.twoDigits(int(inDay / 60 % 60));
    } else {
        line.put("  ");
        line.put(day.year, 4);
    }
    line.put(' ');
    line.appendTo(out_);
    appendName(entry.name);
    out_.append("\r\n", 2);
}

const QByteArray& ListingWriter::permFact(QByteArrayView perm) {
    if (permKnown_ && perm == permGiven_)
        return permFact_;
    permKnown_ = true;
    permGiven_ = perm.toByteArray();
    permFact_ = "perm=";
    for (const char c : perm) {
        if (isPermLetter(c))
            permFact_ += c;
    }
    // No letter left: the fact is left out.
    permFact_ = permFact_.size() == 5 ? QByteArray(" ") : permFact_ + "; ";
    return permFact_;
}

void ListingWriter::addMachine(const files::FsEntry& entry, const QString& name,
                               QByteArrayView perm, MlstFacts facts) {
    LineParts line;
    if (facts.has(MlstFacts::Type)) {
        line.put("type=");
        if (entry.isLink)
            line.put("OS.unix=slink;");
        else if (entry.isDir)
            line.put("dir;");
        else
            line.put("file;");
    }
    if (facts.has(MlstFacts::Size) && !entry.isDir && !entry.isLink) {
        line.put("size=");
        line.number(entry.size);
        line.put(';');
    }
    if (facts.has(MlstFacts::Modify)) {
        const qint64 secs = listedSecs(entry.modified);
        const Day& day = dayOf(secs);
        const qint64 inDay = secs - day.number * kDaySecs;
        line.put("modify=");
        line.put(day.yearMonthDay, 8);
        line.twoDigits(int(inDay / 3600));
        line.twoDigits(int(inDay / 60 % 60));
        line.twoDigits(int(inDay % 60));
        line.put(';');
    }
    line.appendTo(out_);
    // Without facts the line is the space and the name alone.
    out_.append(facts.has(MlstFacts::Perm) ? permFact(perm) : QByteArray(" "));
    appendName(name);
    out_.append("\r\n", 2);
}

void ListingWriter::addName(QByteArrayView prefix, const QString& name) {
    out_.append(prefix);
    appendName(name);
    out_.append("\r\n");
}

} // namespace kv::ftp
