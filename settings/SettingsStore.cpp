#include "settings/SettingsStore.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace kv {

namespace {

// One INI file per application name, e.g. "Kestrova Tarrow.ini", in the
// program's folder of the per-user configuration location.
QString settingsFile(const QString& directory, const QString& application) {
    const QString folder =
        directory.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                  QStringLiteral("/Kestrova Vellim")
            : directory;
    return QDir(folder).filePath(application + QStringLiteral(".ini"));
}

} // namespace

QtSettingsStore::QtSettingsStore(const QString& directory) : directory_(directory) {}

QString QtSettingsStore::value(const QString& application, const QString& section,
                               const QString& name, const QString& defaultValue) const {
    QSettings settings(settingsFile(directory_, application), QSettings::IniFormat);
    settings.beginGroup(section);
    const QVariant stored = settings.value(name);
    if (!stored.isValid())
        return defaultValue;
    // A hand-edited line such as "a,b" without quotes reads back as a list.
    if (stored.typeId() == QMetaType::QStringList)
        return stored.toStringList().join(QLatin1Char(','));
    return stored.toString();
}

void QtSettingsStore::setValue(const QString& application, const QString& section,
                               const QString& name, const QString& value) {
    QSettings settings(settingsFile(directory_, application), QSettings::IniFormat);
    settings.beginGroup(section);
    settings.setValue(name, value);
    settings.endGroup();
    settings.sync();
}

} // namespace kv
