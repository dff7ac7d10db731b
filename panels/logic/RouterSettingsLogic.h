#pragma once
// The behaviour of the "Connessioni dall'esterno (router/NAT)" group of the
// settings panel, free of widgets: the passive port range and the public
// address, each change checked through the option catalog and kept pending
// until the views are committed, and the forwarding the router needs.

#include "access/OptionsTable.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace kv::admin {

struct RouterForm {
    QString passivePorts;   // "LO-HI" or ""
    QString passiveAddress; // an IPv4 address, a host name or ""
};

class RouterSettingsLogic {
public:
    explicit RouterSettingsLogic(access::OptionsTable& table) : table_(table) {}

    // The options of the group.
    static const QStringList& options();
    access::OptionsTable& table() { return table_; }

    // The stored values with the pending edits over them.
    RouterForm load() const;
    // Nothing when accepted (now pending); else the catalog's message.
    std::optional<QString> change(const QString& option, const QString& text);

    // What to forward on the router to this PC, for the control port shown
    // in the port box and the passive range kept now.
    QString forwardingText(const QString& controlPort) const;

private:
    access::OptionsTable& table_;
};

} // namespace kv::admin
