#pragma once
// Which server the plain menu entry opens for a user who may administer the
// system service installed on this PC: the service's, or the user's own (in
// the per-user data folder). Such a user is asked once; the answer is kept in
// the per-user settings unless they want to be asked every time, and
// forgetting it (kestrova --choose) asks again. Anybody else opens their own.

#include "settings/SettingsStore.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace kv {

enum class StartFolder { Own, Service };

// What decides whether the question makes sense on this PC, for this user.
struct ServiceFacts {
    bool installed = false; // the service's unit file or its data folder exists
    bool member = false;    // this process belongs to the service's group
};

// Where the unit file of the package's service may be.
inline const QStringList kServiceUnitFiles = {
    QStringLiteral("/lib/systemd/system/kestrova.service"),
    QStringLiteral("/usr/lib/systemd/system/kestrova.service"),
    QStringLiteral("/etc/systemd/system/kestrova.service")};

// The facts of this PC and this process: `serviceFolder` or one of
// `unitFiles` present, and `group` among the process's groups.
ServiceFacts serviceFacts(const QString& serviceFolder, const QStringList& unitFiles,
                          const QString& group);

class StartFolderChoice {
public:
    explicit StartFolderChoice(SettingsStore& settings) : settings_(settings) {}

    // The folder to open without asking; nullopt when the question is due.
    std::optional<StartFolder> decided(const ServiceFacts& facts) const;
    // The operator's answer, kept when `remember`.
    void answer(StartFolder chosen, bool remember);
    // The next start asks again.
    void forget();

private:
    std::optional<StartFolder> remembered() const;
    SettingsStore& settings_;
};

} // namespace kv
