#include "session/QuotaKeeper.h"

#include "events/ServerEvents.h"
#include "session/LimitsBook.h"
#include "session/QuotaCounter.h"

#include <QLocale>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace kv::session {

namespace {
// Changed tallies are written at most this often.
constexpr int kSaveDelayMs = 2000;

// The share of the quota used, in percent (the fuller of bytes and files).
double percentUsed(const QuotaTally& t, const files::AccountLimits& l) {
    double p = 0;
    if (l.quotaBytes > 0)
        p = std::max(p, 100.0 * double(t.bytes) / double(l.quotaBytes));
    if (l.quotaFiles > 0)
        p = std::max(p, 100.0 * double(t.files) / double(l.quotaFiles));
    return p;
}
} // namespace

QuotaKeeper::QuotaKeeper(const LimitsBook& book, QuotaStore* store, QObject* parent)
    : QObject(parent), book_(book), store_(store) {}

QuotaKeeper::~QuotaKeeper() {
    // What changed after a stop (uploads cut by it) is kept too.
    if (loaded_)
        save(true);
}

void QuotaKeeper::start() {
    if (started_)
        return;
    started_ = true;
    if (!store_)
        return;
    // A server started again in the same run goes on with what it holds.
    if (std::exchange(loaded_, true)) {
        save(false);
        return;
    }
    const QHash<qint32, QuotaStore::Stored> stored = store_->loadTallies();
    for (auto it = stored.begin(); it != stored.end(); ++it) {
        Account& a = accounts_[it.key()];
        a.tally = it->tally;
        a.known = it->current;
        a.seenLimits = book_.account(it.key());
    }
    // A run is on: until its clean end the saved tallies are not current.
    save(false);
    // Stale tallies of accounts with a quota are counted again now.
    for (auto it = stored.begin(); it != stored.end(); ++it)
        if (!it->current && book_.account(it.key()).hasQuota())
            recount(it.key());
}

void QuotaKeeper::stop() {
    if (!started_)
        return;
    started_ = false;
    save(true);
}

bool QuotaKeeper::limited(qint32 accountId) const {
    return book_.account(accountId).hasQuota();
}

files::AccountLimits QuotaKeeper::limits(qint32 accountId) const {
    return book_.account(accountId);
}

QuotaKeeper::Account& QuotaKeeper::account(qint32 accountId) {
    Account& a = accounts_[accountId];
    const files::AccountLimits now = book_.account(accountId);
    // A quota set where there was none: what the folders hold is counted anew.
    const bool firstSet = now.hasQuota() && !a.seenLimits.hasQuota();
    a.seenLimits = now;
    if (now.hasQuota() && (!a.known || firstSet) && store_ && !counters_.contains(accountId))
        recount(accountId);
    return a;
}

QuotaTally QuotaKeeper::used(qint32 accountId) {
    return account(accountId).tally;
}

qint64 QuotaKeeper::bytesLeft(qint32 accountId) {
    const Account& a = account(accountId);
    if (a.seenLimits.quotaBytes <= 0)
        return -1;
    return std::max<qint64>(0, a.seenLimits.quotaBytes - a.tally.bytes);
}

QString QuotaKeeper::refusal(qint32 accountId, qint64 replacedBytes, bool newFile) {
    const Account& a = account(accountId);
    const files::AccountLimits& l = a.seenLimits;
    if (newFile && l.quotaFiles > 0 && a.tally.files >= l.quotaFiles)
        return QStringLiteral("quota di file esaurita (%1 file su %2)")
            .arg(a.tally.files)
            .arg(l.quotaFiles);
    const qint64 after = a.tally.bytes - std::max<qint64>(0, replacedBytes);
    if (l.quotaBytes > 0 && after >= l.quotaBytes)
        return QStringLiteral("quota di spazio esaurita (%1 byte usati su %2)")
            .arg(a.tally.bytes)
            .arg(l.quotaBytes);
    return {};
}

qint64 QuotaKeeper::reserve(qint32 accountId, qint64 bytes) {
    if (bytes <= 0)
        return 0;
    Account& a = account(accountId);
    qint64 granted = bytes;
    if (a.seenLimits.quotaBytes > 0)
        granted = std::clamp<qint64>(a.seenLimits.quotaBytes - a.tally.bytes, 0, bytes);
    if (granted > 0) {
        a.tally.bytes += granted;
        changed(accountId, a);
    }
    return granted;
}

void QuotaKeeper::release(qint32 accountId, qint64 bytes) {
    if (bytes <= 0)
        return;
    Account& a = account(accountId);
    a.tally.bytes = std::max<qint64>(0, a.tally.bytes - bytes);
    changed(accountId, a);
}

void QuotaKeeper::restore(qint32 accountId, qint64 bytes) {
    if (bytes <= 0)
        return;
    Account& a = account(accountId);
    a.tally.bytes += bytes;
    changed(accountId, a);
}

void QuotaKeeper::addFiles(qint32 accountId, qint64 files) {
    if (files == 0)
        return;
    Account& a = account(accountId);
    a.tally.files = std::max<qint64>(0, a.tally.files + files);
    changed(accountId, a);
}

void QuotaKeeper::changed(qint32 accountId, Account& a) {
    checkWarning(accountId, a);
    scheduleSave();
}

void QuotaKeeper::checkWarning(qint32 accountId, Account& a) {
    const int line = book_.server().quotaWarnPercent;
    if (line <= 0 || !a.seenLimits.hasQuota())
        return;
    const double percent = percentUsed(a.tally, a.seenLimits);
    if (percent < line) {
        a.warned = false;
        return;
    }
    if (a.warned)
        return;
    a.warned = true;
    if (!bus_)
        return;
    events::AccountNotice notice;
    notice.login = names_.value(accountId);
    if (notice.login.isEmpty() && store_)
        notice.login = store_->loginOf(accountId);
    if (notice.login.isEmpty())
        notice.login = accountId == 0 ? QStringLiteral("anonymous") : QString::number(accountId);
    notice.detail = QStringLiteral("quota usata al %1% (%2 byte su %3, %4 file su %5)")
                        .arg(int(percent))
                        .arg(a.tally.bytes)
                        .arg(a.seenLimits.quotaBytes)
                        .arg(a.tally.files)
                        .arg(a.seenLimits.quotaFiles);
    Q_EMIT bus_->quotaWarning(notice);
}

void QuotaKeeper::scheduleSave() {
    if (!store_ || savePending_ || !started_)
        return;
    savePending_ = true;
    QTimer::singleShot(kSaveDelayMs, this, [this] { save(false); });
}

void QuotaKeeper::save(bool current) {
    savePending_ = false;
    if (!store_)
        return;
    QHash<qint32, QuotaTally> tallies;
    for (auto it = accounts_.begin(); it != accounts_.end(); ++it)
        if (it->known)
            tallies.insert(it.key(), it->tally);
    store_->saveTallies(tallies, current);
}

void QuotaKeeper::recount(qint32 accountId) {
    if (!store_ || counters_.contains(accountId))
        return;
    auto counter = std::make_shared<QuotaCounter>(store_->foldersOf(accountId));
    counters_.insert(accountId, counter);
    counter->runOnLoop(this, [this, accountId] { onCounted(accountId); });
}

void QuotaKeeper::onCounted(qint32 accountId) {
    const std::shared_ptr<QuotaCounter> counter = counters_.take(accountId);
    if (!counter)
        return;
    const QList<QuotaCounter::DiskId> ids(counter->folders().begin(), counter->folders().end());
    roots_.insert(accountId, ids);
    Account& a = accounts_[accountId];
    a.tally = counter->tally();
    a.known = true;
    checkWarning(accountId, a);
    save(false);
    Q_EMIT counted(accountId, a.tally);
}

QList<QList<qint32>> QuotaKeeper::overlaps() const {
    // Which accounts went through each folder.
    QHash<QuotaCounter::DiskId, QList<qint32>> byFolder;
    for (auto it = roots_.begin(); it != roots_.end(); ++it)
        for (const QuotaCounter::DiskId& id : it.value())
            byFolder[id].append(it.key());
    QList<QList<qint32>> groups;
    for (QList<qint32> accounts : byFolder) {
        if (accounts.size() < 2)
            continue;
        std::sort(accounts.begin(), accounts.end());
        if (!groups.contains(accounts))
            groups.append(accounts);
    }
    std::sort(groups.begin(), groups.end());
    return groups;
}

} // namespace kv::session
