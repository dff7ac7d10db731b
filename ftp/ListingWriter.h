#pragma once
// Builds the bytes of a whole listing (LIST, NLST, MLSD) in one buffer:
// reserved once for the folder's size, numbers and dates written straight
// into it, and the date text of a day worked out once for all the entries of
// that day. A folder of 10,000 entries then costs no QDateTime or QString
// work per entry beyond the entry's name.

#include "files/FileFacts.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QStringView>

namespace kv::ftp {

// The facts MLST and MLSD give for an entry, as OPTS MLST selects them
// (RFC 3659 7.9); all four unless told otherwise.
class MlstFacts {
public:
    enum Fact : quint8 { Type = 1, Size = 2, Modify = 4, Perm = 8 };

    static constexpr MlstFacts all() { return MlstFacts(Type | Size | Modify | Perm); }
    // "type;size;" in any letter case; names not offered are left out, so
    // "" and a list of unknown facts select none.
    static MlstFacts fromList(QStringView list);

    constexpr bool has(Fact fact) const { return (bits_ & fact) != 0; }
    // The selected facts as OPTS MLST answers them: "type;size;".
    QString selected() const;
    // Every fact offered, the selected ones starred, as FEAT lists them:
    // "type*;size*;modify;perm;".
    QString offered() const;

    friend constexpr bool operator==(MlstFacts, MlstFacts) = default;

private:
    constexpr explicit MlstFacts(quint8 bits) : bits_(bits) {}
    quint8 bits_;
};

class ListingWriter {
public:
    // `nowUtc` decides which LIST dates show the time and which the year.
    ListingWriter(const QDateTime& nowUtc, qsizetype expectedEntries);

    // Each adds one line ending in CRLF; see Listing.h for the forms.
    void addLong(const files::FsEntry& entry);
    void addMachine(const files::FsEntry& entry, const QString& name, QByteArrayView perm,
                    MlstFacts facts = MlstFacts::all());
    void addName(QByteArrayView prefix, const QString& name);

    qsizetype size() const { return out_.size(); }
    QByteArray take() { return std::move(out_); }

private:
    // The pieces of one UTC day, kept for the next entry of the same day.
    struct Day {
        bool known = false;
        qint64 number = 0;    // days since 1970-01-01
        char monthDay[6];     // "Mar 05"
        char year[4];         // "2026"
        char yearMonthDay[8]; // "20260305"
    };
    const Day& dayOf(qint64 secs);
    // The perm fact and the space after it, for the letters `perm` (only
    // those of RFC 3659): worked out again only when the letters change, as
    // a listing's entries share a handful of them.
    const QByteArray& permFact(QByteArrayView perm);
    void appendName(const QString& name);

    QByteArray out_;
    qint64 now_;
    Day day_;
    bool permKnown_ = false;
    QByteArray permGiven_;
    QByteArray permFact_;
};

// Seconds since 1970 of a listed time; an invalid time counts as 1970.
qint64 listedSecs(const QDateTime& t);

} // namespace kv::ftp
