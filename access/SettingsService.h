#pragma once
// The one way the server's settings are changed, for the command line, the
// panels and the administration channel alike: the columns of the settings
// row and the rows of `options`, by their catalog names
// (settings/OptionCatalog.h) and judged there; the address lists' entries
// (access/EntryChecks.h) and their switches. A refusal comes back as the
// Italian reason, and nothing refused is written.

#include "access/OptionsTable.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace kv::access {

// The two address lists: the allow list (table IPok, switch settings.IPok)
// and the block list (IPko).
enum class AddressList { Allow, Block };
QString tableOf(AddressList list);

class SettingsService {
public:
    explicit SettingsService(QSqlDatabase db);

    // A column of the settings row as stored ("" for null); empty without a row.
    QString setting(const QString& name) const;
    // Every column the catalog declares, in its order, as stored.
    QList<std::pair<QString, QString>> settingsRow() const;
    // Checks `text` for the column `name` as the catalog does and writes its
    // normal form; a root that shares the whole disk only when
    // `wholeDiskChosen`. The stored text comes back in `stored` when given.
    std::optional<QString> setSetting(const QString& name, const QString& text,
                                      bool wholeDiskChosen = false, QString* stored = nullptr);

    // The options table, for reads of every option.
    OptionsTable& options() { return options_; }
    // Checks `text` for the option `name` and writes its normal form
    // (returned in `stored` when given), also judged with the other options.
    std::optional<QString> setOption(const QString& name, const QString& text,
                                     QString* stored = nullptr);
    // The option returns to its default.
    std::optional<QString> unsetOption(const QString& name);

    // Whether `list` is switched on, as stored: a null switch counts as on
    // (a greyed box), a file without a settings row as off.
    bool listOn(AddressList list) const;
    // As listOn(), but nullopt when the file cannot be read now (another
    // program holds it, the table is missing).
    std::optional<bool> listInForce(AddressList list) const;
    // The switch as stored: true, false or null (nullopt).
    std::optional<bool> listSwitch(AddressList list) const;
    std::optional<QString> setListOn(AddressList list, bool on);
    QStringList listEntries(AddressList list) const;
    // An entry judged by listEntryProblem(), stored trimmed.
    std::optional<QString> addListEntry(AddressList list, const QString& entry);
    std::optional<QString> removeListEntry(AddressList list, const QString& entry);

private:
    QSqlDatabase db_;
    OptionsTable options_;
};

} // namespace kv::access
