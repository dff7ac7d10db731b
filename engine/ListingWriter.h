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

namespace kv::engine {

class ListingWriter {
public:
    // `nowUtc` decides which LIST dates show the time and which the year.
    ListingWriter(const QDateTime& nowUtc, qsizetype expectedEntries);

    // Each adds one line ending in CRLF; see Listing.h for the forms.
    void addLong(const files::FsEntry& entry);
    void addMachine(const files::FsEntry& entry, const QString& name, QByteArrayView perm);
    void addName(QByteArrayView prefix, const QString& name);

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

} // namespace kv::engine
