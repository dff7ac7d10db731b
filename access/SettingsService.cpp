#include "access/SettingsService.h"

#include "access/EntryChecks.h"
#include "access/SqlRows.h"
#include "settings/OptionCatalog.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>

namespace kv::access {

namespace {

using settings::OptionStore;

QString switchOf(AddressList list) {
    return list == AddressList::Allow ? settings::setting::kIpOk : settings::setting::kIpKo;
}

} // namespace

QString tableOf(AddressList list) {
    // The tables are named as the switches are.
    return switchOf(list);
}

SettingsService::SettingsService(QSqlDatabase db) : db_(db), options_(db) {}

QString SettingsService::setting(const QString& name) const {
    if (!settings::optionCatalog().find(name, OptionStore::SettingsRow))
        return {};
    return readValue(db_, QStringLiteral("SELECT %1 FROM settings").arg(name)).toString();
}

QList<std::pair<QString, QString>> SettingsService::settingsRow() const {
    QStringList names;
    for (const settings::OptionDef& column :
         settings::optionCatalog().options(OptionStore::SettingsRow))
        names << column.name;
    const auto rows =
        readRows(db_, QStringLiteral("SELECT %1 FROM settings").arg(names.join(u',')));
    QList<std::pair<QString, QString>> row;
    for (int i = 0; i < names.size(); ++i)
        row << std::pair{names[i], rows.isEmpty() ? QString() : rows.first().value(i).toString()};
    return row;
}

std::optional<QString> SettingsService::setSetting(const QString& name, const QString& text,
                                                   bool wholeDiskChosen, QString* stored) {
    const settings::OptionCheck check =
        settings::optionCatalog().check(name, text, OptionStore::SettingsRow);
    if (!check.ok())
        return check.error;
    QString value = check.value;
    if (name == settings::setting::kRootDir) {
        // A relative folder is taken from where the change is asked.
        if (!value.isEmpty())
            value = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(value).absoluteFilePath()));
        // The whole disk (or an empty root, which means it) only when asked for by name.
        if (rootNeedsWholeDiskChoice(value, defaultRootOwner()) && !wholeDiskChosen)
            return wholeDiskRefusal(defaultRootOwner());
    }
    // `name` is a catalog column, never the caller's text.
    if (const auto refusal =
            writeAll(db_, {{QStringLiteral("UPDATE settings SET %1 = ?").arg(name), {value}}}))
        return refusal;
    if (stored)
        *stored = value;
    return std::nullopt;
}

std::optional<QString> SettingsService::setOption(const QString& name, const QString& text,
                                                  QString* stored) {
    const settings::OptionCheck check = options_.catalog().check(name, text);
    if (!check.ok())
        return check.error;
    if (const auto refusal = options_.writeChecked({{name, check.value}}))
        return refusal;
    if (stored)
        *stored = check.value;
    return std::nullopt;
}

std::optional<QString> SettingsService::unsetOption(const QString& name) {
    if (!options_.catalog().find(name))
        return options_.catalog().check(name, QString()).error;
    return options_.remove(name);
}

std::optional<bool> SettingsService::listSwitch(AddressList list) const {
    const QVariant value =
        readValue(db_, QStringLiteral("SELECT %1 FROM settings").arg(switchOf(list)));
    if (value.isNull())
        return std::nullopt;
    return value.toBool();
}

std::optional<bool> SettingsService::listInForce(AddressList list) const {
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT %1 FROM settings").arg(switchOf(list))))
        return std::nullopt;
    if (!query.next())
        return false;
    const QVariant value = query.value(0);
    return value.isNull() || value.toBool();
}

bool SettingsService::listOn(AddressList list) const {
    return listInForce(list).value_or(false);
}

std::optional<QString> SettingsService::setListOn(AddressList list, bool on) {
    return writeAll(
        db_, {{QStringLiteral("UPDATE settings SET %1 = ?").arg(switchOf(list)), {int(on)}}});
}

QStringList SettingsService::listEntries(AddressList list) const {
    QStringList entries;
    for (const QVariantList& r :
         readRows(db_, QStringLiteral("SELECT IP FROM %1").arg(tableOf(list))))
        entries << r.first().toString();
    return entries;
}

std::optional<QString> SettingsService::addListEntry(AddressList list, const QString& entry) {
    if (const auto problem = listEntryProblem(db_, tableOf(list), entry))
        return problem;
    return writeAll(db_, {{QStringLiteral("INSERT INTO %1 (IP) VALUES (?)").arg(tableOf(list)),
                           {entry.trimmed()}}});
}

std::optional<QString> SettingsService::removeListEntry(AddressList list, const QString& entry) {
    const QVariant rowid =
        readValue(db_, QStringLiteral("SELECT rowid FROM %1 WHERE IP = ?").arg(tableOf(list)),
                  {entry.trimmed()});
    if (!rowid.isValid())
        return QStringLiteral("\"%1\" non è nella lista").arg(entry.trimmed());
    return writeAll(
        db_, {{QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(tableOf(list)), {rowid}}});
}

} // namespace kv::access
