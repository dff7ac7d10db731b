#pragma once
// Per-user program values (window size, column widths, notice switch), all
// text, addressed by application, section and value name.

#include <QMap>
#include <QString>

namespace kv {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual QString value(const QString& application, const QString& section, const QString& name,
                          const QString& defaultValue = {}) const = 0;
    virtual void setValue(const QString& application, const QString& section, const QString& name,
                          const QString& value) = 0;
};

inline const QString kAppTarrow = QStringLiteral("Kestrova Tarrow");
inline const QString kAppKestrova = QStringLiteral("Kestrova");
inline const QString kSectionAppIni = QStringLiteral("AppIni");

// Backed by QSettings in INI form under the per-user configuration folder
// (or `directory` when given, as tests do).
class QtSettingsStore : public SettingsStore {
public:
    explicit QtSettingsStore(const QString& directory = {});
    QString value(const QString& application, const QString& section, const QString& name,
                  const QString& defaultValue = {}) const override;
    void setValue(const QString& application, const QString& section, const QString& name,
                  const QString& value) override;

private:
    QString directory_;
};

// In memory, for tests.
class MemorySettingsStore : public SettingsStore {
public:
    QString value(const QString& application, const QString& section, const QString& name,
                  const QString& defaultValue = {}) const override {
        return values_.value(key(application, section, name), defaultValue);
    }
    void setValue(const QString& application, const QString& section, const QString& name,
                  const QString& value) override {
        values_.insert(key(application, section, name), value);
    }

private:
    static QString key(const QString& a, const QString& s, const QString& n) {
        return a + QLatin1Char('/') + s + QLatin1Char('/') + n;
    }
    QMap<QString, QString> values_;
};

} // namespace kv
