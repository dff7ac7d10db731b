#pragma once
// The behaviour of the Impostazioni panel's "Limiti di velocità e quote"
// group, free of widgets: the server's rates, each address's rates, the
// local network's exemption and the quota warning share, each checked
// through the option catalog and kept pending until the views are
// committed. A rate may be typed in KiB/s or in Mbit/s ("80 Mbit/s"); it is
// kept in KiB/s, with its Mbit/s equivalent shown beside it.

#include "access/OptionsTable.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace kv::admin {

class SpeedLimitsLogic {
public:
    explicit SpeedLimitsLogic(access::OptionsTable& table) : table_(table) {}

    // The options of the group, in the order the panel shows them.
    static const QStringList& options();
    // The four rates among them.
    static const QStringList& rateOptions();
    access::OptionsTable& table() { return table_; }

    // The option's caption from the catalog.
    QString caption(const QString& option) const;
    // The kept value (pending edit over the stored one), in its normal form.
    QString shown(const QString& option) const;
    // Nothing when accepted (now pending); else the catalog's reason.
    std::optional<QString> change(const QString& option, const QString& text);

    bool localExempt() const;
    std::optional<QString> setLocalExempt(bool on);

    // What the rates kept now mean, in one line per direction.
    QString summary() const;

private:
    access::OptionsTable& table_;
};

} // namespace kv::admin
