#pragma once
// The behaviour of the "Protezione dagli accessi ripetuti" group of the
// Sicurezza panel, free of widgets: the connection limits and the ban
// options (each checked through the option catalog and kept pending until
// the views are committed), and the list "Indirizzi bloccati
// temporaneamente" of the running server with "Sblocca".

#include "access/OptionsTable.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace kv {
class ServerSource;
}
namespace kv::session {
class LoginBans;
}

namespace kv::admin {

// One row of the list of banned addresses.
struct BannedRow {
    QString address;
    int attempts = 0;
    int minutesLeft = 0; // rounded up: a ban with seconds left shows 1
    friend bool operator==(const BannedRow&, const BannedRow&) = default;
};

class LoginProtectionLogic {
public:
    // `bans` may be null (no server core): the list is then empty.
    LoginProtectionLogic(access::OptionsTable& table, session::LoginBans* bans);

    // The options of the group, in the order the panel shows them.
    static const QStringList& options();
    // The option's caption from the catalog.
    QString caption(const QString& option) const;
    // The text the option's box shows (pending edit over the stored value).
    QString shown(const QString& option) const;
    // A box's new text: nothing when accepted, else the catalog's reason.
    std::optional<QString> change(const QString& option, const QString& text);

    // "Indirizzo", "Accessi falliti", "Minuti rimasti".
    static const QStringList& columns();
    QList<BannedRow> rows() const;
    // Lifts the ban of the row's address; false when it had ended already.
    bool unblock(const QString& address);
    // While set, the list and "Sblocca" are those of `server` (a server the
    // window is attached to) instead of the window's own; null goes back.
    void setServer(ServerSource* server) { server_ = server; }

private:
    access::OptionsTable& table_;
    session::LoginBans* bans_;
    ServerSource* server_ = nullptr;
};

} // namespace kv::admin
