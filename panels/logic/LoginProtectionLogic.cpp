// The protection group's options and the list of banned addresses.
#include "panels/logic/LoginProtectionLogic.h"

#include "core/ServerSource.h"
#include "panels/logic/OptionEdit.h"
#include "session/LoginBans.h"

namespace kv::admin {

namespace {
constexpr qint64 kMinuteMs = 60 * 1000;
} // namespace

LoginProtectionLogic::LoginProtectionLogic(access::OptionsTable& table, session::LoginBans* bans)
    : table_(table), bans_(bans) {}

const QStringList& LoginProtectionLogic::options() {
    using namespace settings::option;
    static const QStringList names = {kBanAttempts, kBanWindowMinutes, kBanMinutes, kMaxConnections,
                                      kMaxConnectionsPerIp};
    return names;
}

QString LoginProtectionLogic::caption(const QString& option) const {
    const settings::OptionDef* def = table_.catalog().find(option);
    return def ? def->caption : option;
}

QString LoginProtectionLogic::shown(const QString& option) const {
    return shownOption(table_, option);
}

std::optional<QString> LoginProtectionLogic::change(const QString& option, const QString& text) {
    return changeOption(table_, option, text);
}

const QStringList& LoginProtectionLogic::columns() {
    static const QStringList captions = {QStringLiteral("Indirizzo"),
                                         QStringLiteral("Accessi falliti"),
                                         QStringLiteral("Minuti rimasti")};
    return captions;
}

QList<BannedRow> LoginProtectionLogic::rows() const {
    QList<BannedRow> rows;
    if (!bans_ && !server_)
        return rows;
    for (const session::BanEntry& ban : server_ ? server_->bans() : bans_->bans())
        rows.append({ban.address, ban.attempts, int((ban.msLeft + kMinuteMs - 1) / kMinuteMs)});
    return rows;
}

bool LoginProtectionLogic::unblock(const QString& address) {
    if (server_) {
        server_->unban(address); // answered later: the list follows bansChanged()
        return true;
    }
    return bans_ && bans_->lift(address);
}

} // namespace kv::admin
