// The SFTP group's two options and the line saying whether SFTP is on.
#include "panels/logic/SftpSettingsLogic.h"

#include "panels/logic/OptionEdit.h"

namespace kv::admin {

using namespace settings::option;

const QStringList& SftpSettingsLogic::options() {
    static const QStringList names = {kSftpPort, kSftpPasswordAuth};
    return names;
}

QString SftpSettingsLogic::port() const {
    return shownOption(table_, kSftpPort);
}

bool SftpSettingsLogic::passwordLogins() const {
    return shownOption(table_, kSftpPasswordAuth) != QLatin1String("0");
}

std::optional<QString> SftpSettingsLogic::change(const QString& option, const QString& text) {
    return changeOption(table_, option, text);
}

std::optional<QString> SftpSettingsLogic::setPasswordLogins(bool on) {
    return change(kSftpPasswordAuth, on ? QStringLiteral("1") : QStringLiteral("0"));
}

QString SftpSettingsLogic::stateText() const {
    const settings::OptionCheck checked =
        table_.catalog().check(kSftpPort, table_.value(kSftpPort));
    if (!checked.ok())
        return checked.error; // the start says the same
    const QString shown = checked.value;
    if (shown == QLatin1String("0"))
        return QStringLiteral("SFTP disattivato: indicare una porta (per esempio 2222) per "
                              "attivarlo.");
    const QString logins = passwordLogins()
                               ? QStringLiteral("con password o con chiave")
                               : QStringLiteral("solo con chiave (password non ammesse)");
    return QStringLiteral("SFTP attivo sulla porta %1: accesso %2.").arg(shown, logins);
}

} // namespace kv::admin
