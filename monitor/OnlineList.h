#pragma once
// What the online list shows, without a window: one row per connection, even
// when one account logs in several times from one address, named accounts'
// passwords masked (the anonymous account's e-mail address shown), the rights in words, the user
// count text, the remembered selection, and the column widths that are saved,
// restored and scaled with the list.

#include "session/LoginDecision.h"
#include "settings/SettingsStore.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>

namespace kv::monitor {

inline constexpr int kOnlineColumns = 5;
inline constexpr double kOnlineColumnDesignWidth = 1440; // twips

// "Login", "Password", "IP", "Root directory", "Permessi".
const QStringList& onlineHeaders();

struct OnlineRow {
    QString key; // onlineKey
    std::array<QString, kOnlineColumns> columns;
    friend bool operator==(const OnlineRow&, const OnlineRow&) = default;
};

// Permission letters in words: "File: lettura scrittura cancellazione
// Cartelle: navigazione scrittura"; "nessuno" for an empty group.
QString EsplicitaPermessi(const QString& sTesto);

// The rights column of a connection whose login was refused: "Login
// rifiutato: <reason>", as the log's line before the 530.
QString refusedLoginText(const QString& reason);

// A connection's key in the online list: "k" and its number, so that every
// connection has its own row and Disconnetti reaches exactly that one.
QString onlineKey(const session::ConnectionObject& connection);

// The rows of AggiornaUtenti in the engine's order; `defaultRoot` is shown
// for a connection whose account has no root. A connection whose last login
// was refused shows no root, and the reason in place of the rights.
QList<OnlineRow> buildOnlineRows(const QList<session::ConnectionObject*>& connections,
                                 const QString& defaultRoot);

// "N utenti connessi" for N > 0; "" when nobody is connected.
QString usersNumberText(qsizetype connections);

// The row to select again after a rebuild: the index of the row with the
// remembered key, or -1; the key is forgotten when its row is gone.
struct SelectionAfterRebuild {
    int row = -1;
    QString rememberedKey;
};
SelectionAfterRebuild reselect(const QList<OnlineRow>& rows, const QString& rememberedKey);

// The connection that DisconnettiUtente tells to disconnect: the one whose
// key is the selected row's.
session::ConnectionObject*
connectionToDisconnect(const QList<session::ConnectionObject*>& connections, const QString& key);

using ColumnWidths = std::array<double, kOnlineColumns>; // twips

// "OnlineCol1".."OnlineCol5"; a missing or unreadable value keeps the current width.
ColumnWidths loadColumnWidths(const SettingsStore& settings, const ColumnWidths& current);
void saveColumnWidths(SettingsStore& settings, const ColumnWidths& widths);

// Scales the columns with the list: the first call only remembers the list's
// width; later calls multiply each column by the ratio of the new width to
// the remembered one (widths kept in single precision).
class ColumnScaler {
public:
    ColumnWidths adapt(double listWidth, const ColumnWidths& widths);

private:
    float remembered_ = 0;
};

} // namespace kv::monitor
