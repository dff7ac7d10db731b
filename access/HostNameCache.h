#pragma once
// Host names to addresses without waiting: answers come from a cache filled
// by asynchronous lookups (QHostInfo::lookupHost), so neither the window nor a
// login ever waits for a name server. A name seen for the first time has no
// answer yet; its lookup runs in the background and the next request finds it.

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace kv::access {

class HostNameCache {
public:
    using Answer = std::function<void(const QList<QHostAddress>& addresses)>;
    // Starts a lookup of `name`; `done` is called later on this thread through
    // `context` (or at once), with no addresses when the name does not resolve.
    using StartLookup = std::function<void(const QString& name, QObject* context, Answer done)>;

    explicit HostNameCache(StartLookup start = startSystemLookup,
                           std::chrono::milliseconds keepFor = std::chrono::minutes(5));
    ~HostNameCache();

    // The addresses known for `name` (empty when it does not resolve), or
    // nullopt while its first lookup has not answered; a lookup is started
    // then, once. An answer older than `keepFor` is still given while it is
    // looked up again.
    std::optional<QList<QHostAddress>> addressesOf(const QString& name);

    // The system resolver, asynchronous; names under the reserved ".invalid"
    // domain are answered at once with no address, without a query.
    static void startSystemLookup(const QString& name, QObject* context, Answer done);

private:
    struct Entry {
        QList<QHostAddress> addresses;
        bool answered = false;
        bool asking = false;
        QElapsedTimer age;
    };
    void ask(const QString& name);

    StartLookup start_;
    std::chrono::milliseconds keepFor_;
    std::unique_ptr<QObject> context_; // pending answers die with the cache
    QHash<QString, Entry> entries_;
};

} // namespace kv::access
