#pragma once
// The "Altre opzioni" group of the Impostazioni panel, free of widgets: one
// row for every setting of the option catalog that no other group shows,
// taken from the catalog itself (a new option appears here without touching
// the panel), with its Italian caption, its value and its default. A value is
// judged by the catalog as `kestrova option set` / `settings set` judge it; a
// write-only option (a password) is never shown back, only written.

#include "access/OptionsTable.h"
#include "panels/logic/FieldEdit.h"
#include "panels/logic/SettingsRowEdit.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace kv::access {
class DataView;
}

namespace kv::admin {

struct OptionRow {
    QString name;
    settings::OptionStore store = settings::OptionStore::Options;
    QString caption; // the catalog's, with the default: "... (predefinito: 5)"
    bool writeOnly = false;
};

class OptionsPageLogic {
public:
    // `row` is the settings row; the catalog is the options table's.
    OptionsPageLogic(access::OptionsTable& table, access::DataView& row);

    // The settings the other groups and panels show (the log switch is the
    // log panel's, the address lists the Sicurezza panel's).
    static const QStringList& shownElsewhere();
    // Every other setting of the catalog, the settings row's columns first,
    // each in the catalog's order.
    QList<OptionRow> rows() const;

    // The box's text: the kept value; empty for a write-only option.
    QString shown(const OptionRow& row) const;
    // What an empty box says: the mask for a write-only option that is set.
    QString placeholder(const OptionRow& row) const;
    // Nothing when accepted (now pending), else the catalog's reason. An
    // empty box leaves a write-only option as it is.
    std::optional<QString> change(const OptionRow& row, const QString& text);

    FieldEdit::Apply applier(const OptionRow& row);
    FieldEdit::Shown shower(const OptionRow& row) const;

private:
    access::OptionsTable& table_;
    SettingsRowEdit settingsRow_;
};

} // namespace kv::admin
