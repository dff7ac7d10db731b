// Host-name cache: asynchronous lookups, their answers kept for a while.

#include "access/HostNameCache.h"

#include <QHostInfo>

namespace kv::access {

namespace {

// Enough for every client of a small server; a full cache starts again.
constexpr qsizetype kMaxNames = 1024;

} // namespace

HostNameCache::HostNameCache(StartLookup start, std::chrono::milliseconds keepFor)
    : start_(std::move(start)), keepFor_(keepFor), context_(std::make_unique<QObject>()) {}

HostNameCache::~HostNameCache() = default;

std::optional<QList<QHostAddress>> HostNameCache::addressesOf(const QString& name) {
    const QString key = name.toLower();
    auto it = entries_.find(key);
    if (it == entries_.end()) {
        if (entries_.size() >= kMaxNames)
            entries_.clear();
        entries_.insert(key, Entry{});
        ask(key);
        it = entries_.find(key); // the answer may have come at once
    } else if (it->answered && !it->asking && it->age.hasExpired(keepFor_.count())) {
        ask(key);
        it = entries_.find(key);
    }
    if (it == entries_.end() || !it->answered)
        return std::nullopt;
    return it->addresses;
}

void HostNameCache::ask(const QString& key) {
    entries_[key].asking = true;
    start_(key, context_.get(), [this, key](const QList<QHostAddress>& addresses) {
        Entry& entry = entries_[key];
        entry.addresses = addresses;
        entry.answered = true;
        entry.asking = false;
        entry.age.start();
    });
}

void HostNameCache::startSystemLookup(const QString& name, QObject* context, Answer done) {
    // Names under the reserved ".invalid" domain never resolve (RFC 6761).
    QString bare = name.toLower();
    if (bare.endsWith(QLatin1Char('.')))
        bare.chop(1);
    if (bare == QLatin1String("invalid") || bare.endsWith(QLatin1String(".invalid"))) {
        done({});
        return;
    }
    QHostInfo::lookupHost(name, context, [done = std::move(done)](const QHostInfo& info) {
        done(info.error() == QHostInfo::NoError ? info.addresses() : QList<QHostAddress>{});
    });
}

} // namespace kv::access
