// The default root's whole-disk warning, question and shared folder.
#include "admin/logic/RootFolderLogic.h"

#include "admin/logic/SettingsRowEdit.h"
#include "core/DataFolder.h"
#include "settings/OptionCatalog.h"
#include "settings/SharedRoot.h"

#include <QDir>

namespace kv::admin {

using settings::sharesWholeDisk;

bool warnsWholeDisk(const QString& root) {
    return sharesWholeDisk(root);
}

QString wholeDiskRootWarning() {
    return settings::wholeDiskWarning(
        QStringLiteral("la cartella radice predefinita"),
        QStringLiteral("premere \"%1\" oppure sceglierne un'altra con \"Sfoglia ...\".")
            .arg(kUseSharedFolderText));
}

bool asksWholeDisk(const QString& before, const QString& chosen) {
    return sharesWholeDisk(chosen) && !sharesWholeDisk(before);
}

QString wholeDiskQuestion(const QString& chosen) {
    const QString shown = chosen.trimmed().isEmpty() ? QStringLiteral("vuota, cioè /") : chosen;
    return QStringLiteral("Con la cartella radice predefinita \"%1\" chi si collega con un "
                          "account senza cartella propria vede tutto il disco, compresi i file "
                          "personali e quelli di sistema. Condividere davvero tutto il disco?")
        .arg(shown);
}

EditVerdict changeRoot(SettingsRowEdit& row, const QString& text, EditStep step,
                       const QString& before, Messages& messages) {
    const QString column = settings::setting::kRootDir;
    if (const auto refusal = row.check(column, text))
        return EditVerdict::refused(*refusal);
    if (asksWholeDisk(before, text)) {
        // Nothing of the whole disk is kept before the operator says yes.
        if (step == EditStep::Typing)
            return EditVerdict::refused(QString());
        if (step == EditStep::Leaving && !messages.confirm(wholeDiskQuestion(text)))
            return EditVerdict::undone();
    }
    if (step == EditStep::Given && text == row.shown(column))
        return EditVerdict::kept(); // showing what the row holds writes nothing
    const auto refusal = row.change(column, text);
    return refusal ? EditVerdict::refused(*refusal) : EditVerdict::kept();
}

bool isServiceDataFolder(const QString& dataFolder) {
    return QDir::cleanPath(dataFolder) == kServiceDataFolder;
}

QString sharedRootFor(const QString& dataFolder, const QString& home, const QString& publicShare) {
    return settings::safeDefaultRoot(isServiceDataFolder(dataFolder), home, publicShare);
}

QString sharedRootFor(const QString& dataFolder) {
    return settings::safeDefaultRoot(isServiceDataFolder(dataFolder));
}

SharedRootChoice prepareSharedRoot(const QString& folder) {
    return {folder, settings::makeSharedFolder(folder)};
}

} // namespace kv::admin
