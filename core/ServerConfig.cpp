// Turns the settings row and the options rows into the typed configuration.
#include "core/ServerConfig.h"

namespace kv {

namespace {

using namespace settings::setting;
using settings::OptionStore;

// An engine number: empty leaves the engine's value, a refused text too but
// is remembered so that the start names it.
template <typename Int>
std::optional<Int> engineNumber(const settings::OptionCatalog& catalog,
                                const QMap<QString, QString>& row, const QString& name,
                                QList<KeptSetting>& kept) {
    const QString text = row.value(name);
    const settings::OptionCheck checked = catalog.check(name, text, OptionStore::SettingsRow);
    if (!checked.ok()) {
        kept.append({name, text});
        return std::nullopt;
    }
    if (checked.value.isEmpty())
        return std::nullopt;
    return Int(checked.value.toLongLong());
}

} // namespace

QString keptSettingLine(const KeptSetting& kept, const QString& engineValue) {
    return QStringLiteral("Impostazione %1: \"%2\" non valida, mantenuto %3")
        .arg(kept.name, kept.text, engineValue);
}

ServerConfig readServerConfig(const QMap<QString, QString>& row,
                              const QMap<QString, QString>& optionRows, const QString& dataFolder,
                              const settings::OptionCatalog& catalog) {
    ServerConfig config;
    // Where the server listens and what it serves are used as given or the
    // start fails: anything else would serve what nobody configured.
    const auto used = [&](const QString& name) {
        const settings::OptionCheck checked =
            catalog.check(name, row.value(name), OptionStore::SettingsRow);
        if (!checked.ok())
            config.errors.append(checked.error);
        return checked.value;
    };
    config.address = used(kIp);
    config.port = quint16(used(kPort).toUInt());
    config.root = used(kRootDir);

    config.timeout = engineNumber<qint16>(catalog, row, kTimeout, config.kept);
    config.debugMode = engineNumber<qint16>(catalog, row, kDebugMode, config.kept);
    config.dataLingerTime = engineNumber<qint16>(catalog, row, kDataLingerTime, config.kept);
    config.resolveLinks = engineNumber<qint32>(catalog, row, kResolveLinks, config.kept);

    config.options = readStartOptions(optionRows, dataFolder, catalog);
    config.errors.append(config.options.errors);
    return config;
}

} // namespace kv
