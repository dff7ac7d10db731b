#include "desktop/ShellOpen.h"

#include <QFileInfo>

namespace kv::shell {

QString ShortPath(const QString& path) {
    if (path.isEmpty() || !QFileInfo::exists(path))
        return {};
    return path;
}

bool ShellOpen(const QString& document, const QString& folder, SettingsStore& settings,
               const DesktopOpener& open) {
    const QString name = QStringLiteral("previewretry");
    QString retry = settings.value(kAppKestrova, kSectionAppIni, name);
    if (retry.isEmpty()) {
        // The value is read under one application and stored under the other,
        // so every call stores it again.
        retry = QStringLiteral("on");
        settings.setValue(kAppTarrow, kSectionAppIni, name, retry);
    }
    if (document.isEmpty())
        return false;
    if (open && open(document, folder))
        return false;
    if (folder.isEmpty() || retry != QLatin1String("on"))
        return true;
    const QString shortForm = ShortPath(folder + QLatin1Char('/') + document);
    if (shortForm.isEmpty())
        return true;
    return !(open && open(shortForm, QString()));
}

} // namespace kv::shell
