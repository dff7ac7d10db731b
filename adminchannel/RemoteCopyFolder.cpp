// A remote window's private data folder.
#include "adminchannel/RemoteCopyFolder.h"

#include "access/AccountDatabase.h"

#include <QDir>
#include <QFile>

namespace kv {

RemoteCopyFolder::RemoteCopyFolder()
    : dir_(QDir::tempPath() + QStringLiteral("/kestrova-remote-XXXXXX")) {
    if (!dir_.isValid() ||
        !QFile::setPermissions(dir_.path(),
                               QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        problem_ =
            QStringLiteral("Impossibile creare la cartella temporanea: %1").arg(dir_.errorString());
        return;
    }
    // Made before the program's core opens it, so that no default root is
    // made on this PC for it.
    access::AccountDatabase copy(dir_.filePath(QStringLiteral("accounts.dat")));
    if (!copy.open())
        problem_ = copy.problem();
}

} // namespace kv
