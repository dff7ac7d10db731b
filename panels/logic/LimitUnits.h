#pragma once
// The units the panels show limits in: speeds in KiB/s with the Mbit/s a
// line is sold in beside them (1 KiB/s = 8 × 1,024 bit/s), quotas in MiB or
// GiB, expiry dates as a day or "mai". Free of widgets, shared by the
// settings panel's rates and the account panel's "Limiti".

#include <QDate>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace kv::admin {

// Which way a rate goes, said plainly: "up" is what clients send.
inline const QString kUpDirection = QStringLiteral("in ricezione (upload dai client)");
inline const QString kDownDirection = QStringLiteral("in invio (download verso i client)");

// 10240 KiB/s -> 83.886...
double kibToMbit(qint64 kib);
// The nearest whole KiB/s; a speed above 0 is at least 1 KiB/s.
qint64 mbitToKib(double mbit);
// "≈ 83,9 Mbit/s"; "nessun limite" for 0.
QString mbitText(qint64 kib);
// "10240 KiB/s ≈ 83,9 Mbit/s"; "nessun limite" for 0.
QString rateText(qint64 kib);
// A rate as typed in KiB/s, or in Mbit/s with the unit ("80 Mbit/s", "2,5
// mbit"): the KiB/s text to judge; any other text comes back as it is, for
// the check that refuses it with its own words.
QString rateAsKib(const QString& typed);
// What to show beside a rate's box: its Mbit/s equivalent, or nothing while
// the text is no rate.
QString rateEquivalent(const QString& typed);

// A quota's size in the unit the panel offers.
enum class SizeUnit { MiB, GiB };
QString unitName(SizeUnit unit); // "MiB", "GiB"
struct SizeInUnit {
    QString number; // Italian form: "1,5", "800"; "0" for none
    SizeUnit unit = SizeUnit::MiB;
    friend bool operator==(const SizeInUnit&, const SizeInUnit&) = default;
};
// Whole GiB as GiB, else MiB (with up to two decimals).
SizeInUnit sizeInUnit(qint64 bytes);
// `bytes` in `unit`, in Italian form with up to two decimals: "1,5", "800".
QString numberInUnit(qint64 bytes, SizeUnit unit);
// The bytes of a plain number typed in `unit` ("1,5", "1.5"); nothing for
// any other text (a sign, a unit of its own), left to the limit fields'
// check.
std::optional<qint64> bytesFromUnit(const QString& typed, SizeUnit unit);
// "1,2 GiB", "340,5 MiB", "12 KiB", "0 byte": a size used, for reading.
QString usedText(qint64 bytes);
// "1,5 GiB", "800 MiB", "nessuna" for 0.
QString sizeText(qint64 bytes);

// A date box cannot be empty: it shows "mai" for this day, its lowest.
inline const QDate kNeverInDateBox = QDate(2000, 1, 1);
// The expiry date a date box holds (null for "mai"), and what it shows for one.
QDate expiryFromDateBox(const QDate& shown);
QDate dateBoxOf(const QDate& expires);
// "31/12/2026", or "mai" for a null date.
QString expiryText(const QDate& date);
// What the panel says of an expiry date on `today`: "Non scade mai",
// "Valido fino al 31/12/2026 compreso (ancora 21 giorni)", "Scaduto: ...".
// The account ends at the local midnight after its last day.
QString expiryState(const QDate& expires, const QDate& today);

} // namespace kv::admin
