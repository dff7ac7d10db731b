#include "core/StartFolderChoice.h"

#include <QFile>
#include <QFileInfo>
#include <grp.h>
#include <unistd.h>
#include <vector>

namespace kv {

namespace {

const QString kSection = kSectionAppIni;
const QString kName = QStringLiteral("ServerAllAvvio");
const QString kService = QStringLiteral("servizio");
const QString kOwn = QStringLiteral("proprio");

// Whether this process has `group` among its groups (as the kernel checks
// access: a group joined since the login counts only after a new login).
bool inGroup(const QString& name) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (getgrnam_r(QFile::encodeName(name).constData(), &entry, buffer.data(), buffer.size(),
                   &found) != 0 ||
        !found)
        return false;
    if (getegid() == found->gr_gid)
        return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    const int filled = getgroups(count, groups.data());
    for (int i = 0; i < filled; ++i) {
        if (groups[static_cast<size_t>(i)] == found->gr_gid)
            return true;
    }
    return false;
}

} // namespace

ServiceFacts serviceFacts(const QString& serviceFolder, const QStringList& unitFiles,
                          const QString& group) {
    ServiceFacts facts;
    facts.installed = QFileInfo(serviceFolder).isDir();
    for (const QString& unit : unitFiles)
        facts.installed = facts.installed || QFileInfo::exists(unit);
    facts.member = inGroup(group);
    return facts;
}

std::optional<StartFolder> StartFolderChoice::remembered() const {
    const QString stored = settings_.value(kAppTarrow, kSection, kName);
    if (stored == kService)
        return StartFolder::Service;
    if (stored == kOwn)
        return StartFolder::Own;
    return std::nullopt; // never answered, or asked every time
}

std::optional<StartFolder> StartFolderChoice::decided(const ServiceFacts& facts) const {
    if (!facts.installed || !facts.member)
        return StartFolder::Own;
    return remembered();
}

void StartFolderChoice::answer(StartFolder chosen, bool remember) {
    settings_.setValue(kAppTarrow, kSection, kName,
                       !remember                        ? QString()
                       : chosen == StartFolder::Service ? kService
                                                        : kOwn);
}

void StartFolderChoice::forget() {
    settings_.setValue(kAppTarrow, kSection, kName, QString());
}

} // namespace kv
