#pragma once
// Everything a server start hands to the engine, read from the settings row
// and the options rows and checked once through the catalog into typed
// values: where to listen, the default root, the engine's numbers, and the
// options (TLS, passive mode, limits, bans, log limits).

#include "core/StartOptions.h"
#include "settings/OptionCatalog.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace kv {

// A stored engine number the catalog refuses: the engine keeps its own value.
struct KeptSetting {
    QString name;
    QString text;
    bool operator==(const KeptSetting&) const = default;
};

struct ServerConfig {
    // The address as stored ("Default" stays the word: the start listens on
    // every address for it), "" for every IPv4 address.
    QString address;
    quint16 port = 21;
    QString root;
    // Empty or refused: the engine keeps the value it has.
    std::optional<qint16> timeout;
    std::optional<qint16> debugMode;
    std::optional<qint16> dataLingerTime;
    std::optional<qint32> resolveLinks;
    StartOptions options;
    QList<KeptSetting> kept;
    // Italian, one reason a line: an address, port or root that cannot be
    // used, then the options' reasons. Empty when the start may go on.
    QStringList errors;
    bool ok() const { return errors.isEmpty(); }
};

// The line logged at start for a refused engine number, naming the value kept.
QString keptSettingLine(const KeptSetting& kept, const QString& engineValue);

// Checks `row` (settings column -> stored text; a missing column counts as
// empty) and `optionRows` (the options table).
ServerConfig readServerConfig(const QMap<QString, QString>& row,
                              const QMap<QString, QString>& optionRows, const QString& dataFolder,
                              const settings::OptionCatalog& catalog = settings::optionCatalog());

} // namespace kv
