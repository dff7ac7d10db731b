#pragma once
// The behaviour of the Impostazioni panel's "SFTP" group, free of widgets:
// the SFTP port (0 = SFTP off) and whether passwords may log in over SFTP,
// each change checked through the option catalog and kept pending until the
// views are committed, and the line that says whether SFTP is on.

#include "access/OptionsTable.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace kv::admin {

class SftpSettingsLogic {
public:
    explicit SftpSettingsLogic(access::OptionsTable& table) : table_(table) {}

    // The options of the group, in the order the panel shows them.
    static const QStringList& options();

    // The kept values (pending edits over the stored ones).
    QString port() const;
    bool passwordLogins() const;
    // Nothing when accepted (now pending); else the catalog's reason.
    std::optional<QString> change(const QString& option, const QString& text);
    std::optional<QString> setPasswordLogins(bool on);

    // "SFTP disattivato ..." or "SFTP attivo sulla porta N ...".
    QString stateText() const;

private:
    access::OptionsTable& table_;
};

} // namespace kv::admin
