// Root boxes' judgement; the default root's whole-disk warning and shared folder.
#include "panels/logic/RootFolderLogic.h"

#include "core/DataFolder.h"
#include "panels/logic/SettingsRowEdit.h"
#include "settings/OptionCatalog.h"
#include "settings/SharedRoot.h"

#include <QDir>

namespace kv::admin {

bool warnsWholeDisk(const QString& root) {
    return access::rootNeedsWholeDiskChoice(root, access::defaultRootOwner());
}

QString wholeDiskRootWarning() {
    return settings::wholeDiskWarning(
        access::defaultRootOwner().name,
        QStringLiteral("premere \"%1\" oppure sceglierne un'altra con \"Sfoglia ...\".")
            .arg(kUseSharedFolderText));
}

bool asksWholeDisk(const access::RootOwner& owner, const QString& before, const QString& chosen) {
    return access::rootNeedsWholeDiskChoice(chosen, owner) &&
           !access::rootNeedsWholeDiskChoice(before, owner);
}

EditVerdict changeRoot(const RootStore& store, const QString& text, EditStep step,
                       Messages& messages) {
    // The root before the edit: a text held back (the whole disk while typed,
    // a refused one) put it back in the store.
    const QString before = store.stored();
    if (step == EditStep::Given && !store.judgesGiven)
        return store.keep(text);
    if (const auto refusal = store.problem(text))
        return EditVerdict::refused(*refusal);
    if (step == EditStep::Given && text == before)
        return EditVerdict::kept(); // showing what the store holds writes nothing
    const access::RootOwner owner = store.owner();
    if (asksWholeDisk(owner, before, text)) {
        // Nothing of the whole disk is kept before the operator says yes.
        if (step == EditStep::Typing)
            return EditVerdict::refused(QString());
        if (step == EditStep::Leaving && !messages.confirm(access::wholeDiskQuestion(owner)))
            return EditVerdict::declined();
    }
    return store.keep(text);
}

RootStore defaultRootStore(SettingsRowEdit& row) {
    const QString column = settings::setting::kRootDir;
    RootStore store;
    store.owner = access::defaultRootOwner;
    store.stored = [&row, column] { return row.shown(column); };
    store.problem = [&row, column](const QString& text) { return row.check(column, text); };
    store.keep = [&row, column](const QString& text) {
        const auto refusal = row.change(column, text);
        return refusal ? EditVerdict::refused(*refusal) : EditVerdict::kept();
    };
    store.judgesGiven = true;
    return store;
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
