#include "core/NewDatabase.h"

#include "core/DataFolder.h"
#include "settings/SharedRoot.h"

#include <QDir>
#include <QFileInfo>

namespace kv {

bool isServiceDataFolder(const QString& folder) {
    return QDir::cleanPath(QFileInfo(folder).absoluteFilePath()) == kServiceDataFolder;
}

access::NewDatabaseValues newDatabaseValues(const QString& dataFolder, const QString& home,
                                            const QString& publicShare) {
    return {settings::safeDefaultRoot(isServiceDataFolder(dataFolder), home, publicShare)};
}

access::NewDatabaseValues newDatabaseValues(const QString& dataFolder) {
    return {settings::safeDefaultRoot(isServiceDataFolder(dataFolder))};
}

bool openAccountDatabase(access::AccountDatabase& db, const QString& dataFolder) {
    const bool opened = db.open();
    const QString root = db.newValues().defaultRoot;
    // A folder that cannot be made is left to the start to name.
    if (opened && db.createdFile() && !isServiceDataFolder(dataFolder) && !root.isEmpty())
        (void)settings::makeSharedFolder(root);
    return opened;
}

} // namespace kv
