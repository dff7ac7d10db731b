#pragma once
// The columns of the settings row edited from the panels' boxes: each text
// judged by the option catalog as `kestrova settings set` judges it, and
// written into the row (pending until the views are committed) only when
// accepted, in its normal form.

#include "panels/logic/FieldEdit.h"
#include "settings/OptionCatalog.h"

#include <QString>
#include <optional>

namespace kv::access {
class DataView;
}

namespace kv::admin {

class SettingsRowEdit {
public:
    explicit SettingsRowEdit(access::DataView& row,
                             const settings::OptionCatalog& catalog = settings::optionCatalog());

    // The catalog's reason, or nothing when `text` is accepted.
    std::optional<QString> check(const QString& column, const QString& text) const;
    // Checks, then writes the normal form; the reason when refused. Without
    // a row nothing is written, and the row shows empty.
    std::optional<QString> change(const QString& column, const QString& text);
    // What the row holds now (pending edits included).
    QString shown(const QString& column) const;

    // A box's edit over `column`.
    FieldEdit::Apply applier(const QString& column);
    FieldEdit::Shown shower(const QString& column) const;

private:
    access::DataView& row_;
    const settings::OptionCatalog& catalog_;
};

} // namespace kv::admin
