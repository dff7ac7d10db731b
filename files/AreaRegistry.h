#pragma once
// The areas (root folders, virtual folders' destinations) open for the
// sessions of one server, so that sessions whose areas are the same folder
// share one descriptor instead of holding one each: with thousands of idle
// sessions the descriptors, not the memory, run out first.
//
// A registered descriptor is handed out again only while the configured path
// still leads to the very folder it was opened on (same device and inode,
// links followed as openArea follows them); otherwise the path is opened
// afresh and later logins get the new folder, while sessions already holding
// the old one keep it. So a folder renamed or replaced on disk is seen
// exactly as when every login opened its own.
//
// The registry holds no descriptor itself: the sessions do, and the last one
// to let go of an area closes it (on whatever thread that happens). The
// registry is used from one thread only, the one that makes file systems.

#include "files/BeneathOpen.h"

#include <QByteArray>
#include <QHash>

#include <memory>

namespace kv::files {

class AreaRegistry {
public:
    AreaRegistry() = default;
    AreaRegistry(const AreaRegistry&) = delete;
    AreaRegistry& operator=(const AreaRegistry&) = delete;

    // As openArea, but shares the descriptor of an area still held for the
    // same path, when it is still the folder that path leads to.
    AreaFd open(const QByteArray& diskPath, bool lastMayBeLink);

    // Paths with an area still held by somebody.
    qsizetype areasHeld() const;

private:
    struct Key {
        QByteArray path;
        bool lastMayBeLink = false;
        friend bool operator==(const Key&, const Key&) = default;
        friend size_t qHash(const Key& key, size_t seed = 0) {
            return qHashMulti(seed, key.path, key.lastMayBeLink);
        }
    };

    // Forgets areas nobody holds any longer, when enough have piled up.
    void sweep();

    QHash<Key, std::weak_ptr<const UniqueFd>> areas_;
    qsizetype sweepAt_ = kFirstSweep;
    static constexpr qsizetype kFirstSweep = 64;
};

} // namespace kv::files
