// Areas shared between sessions, each checked against the disk before it is
// handed out again.
#include "files/AreaRegistry.h"

#include <algorithm>
#include <sys/stat.h>

namespace kv::files {

namespace {

// Whether `diskPath` leads now, links followed as openArea follows them, to
// the folder `area` was opened on. The area being held, its inode cannot
// have been reused for another object.
bool stillLeadsTo(const QByteArray& diskPath, bool lastMayBeLink, const UniqueFd& area) {
    struct stat now {};
    struct stat then {};
    const int found =
        lastMayBeLink ? ::stat(diskPath.constData(), &now) : ::lstat(diskPath.constData(), &now);
    return found == 0 && ::fstat(area.get(), &then) == 0 && S_ISDIR(now.st_mode) &&
           now.st_dev == then.st_dev && now.st_ino == then.st_ino;
}

} // namespace

AreaFd AreaRegistry::open(const QByteArray& diskPath, bool lastMayBeLink) {
    if (diskPath.isEmpty() || diskPath.contains('\0'))
        return {};
    Key key{diskPath, lastMayBeLink};
    if (const auto found = areas_.constFind(key); found != areas_.cend()) {
        if (AreaFd held = found->lock(); held && stillLeadsTo(diskPath, lastMayBeLink, *held))
            return held;
    }
    AreaFd fresh = openArea(diskPath, lastMayBeLink);
    if (fresh)
        areas_.insert(std::move(key), fresh);
    else
        areas_.remove(key);
    sweep();
    return fresh;
}

qsizetype AreaRegistry::areasHeld() const {
    return std::count_if(areas_.cbegin(), areas_.cend(),
                         [](const std::weak_ptr<const UniqueFd>& area) { return !area.expired(); });
}

void AreaRegistry::sweep() {
    if (areas_.size() < sweepAt_)
        return;
    areas_.removeIf([](const auto& entry) { return entry.value().expired(); });
    sweepAt_ = std::max(kFirstSweep, areas_.size() * 2);
}

} // namespace kv::files
