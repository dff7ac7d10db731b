#pragma once
// Each account's quota as it is used, for every protocol: the bytes and files
// its folders hold (bytes still being written included), read against the
// limits in force in the LimitsBook, so a changed quota applies at once.
// Uploads take their bytes here before they write them: on the one event
// loop, sessions in parallel never take an account past its quota. Accounts
// without a quota are neither counted nor asked anything of the disk.
// The tallies are kept by a QuotaStore between runs; a tally not known to be
// right (never counted, a run that did not end cleanly, a quota just set) is
// counted again from the disk, a slice at a time on the loop.

#include "files/AccountLimits.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace kv::events {
class ServerEvents;
}

namespace kv::session {

class LimitsBook;
class QuotaCounter;

struct QuotaTally {
    qint64 bytes = 0;
    qint64 files = 0;
    friend bool operator==(const QuotaTally&, const QuotaTally&) = default;
};

// Where the tallies live between runs and which folders each account counts.
class QuotaStore {
public:
    struct Stored {
        QuotaTally tally;
        bool current = false; // saved by a run that ended cleanly
        bool kept = false;    // a tally is kept at all (counted once)
    };
    virtual ~QuotaStore() = default;
    virtual QHash<qint32, Stored> loadTallies() = 0;
    // `current`: false while a server runs on them, true at its clean end.
    virtual void saveTallies(const QHash<qint32, QuotaTally>& tallies, bool current) = 0;
    // The account's root and its virtual folders' destinations, on the disk.
    virtual QStringList foldersOf(qint32 accountId) = 0;
    // The account's name, for the log and the warning.
    virtual QString loginOf(qint32 accountId) = 0;
};

class QuotaKeeper : public QObject {
    Q_OBJECT
public:
    // `store` may be null (nothing kept between runs, nothing counted).
    QuotaKeeper(const LimitsBook& book, QuotaStore* store, QObject* parent = nullptr);
    ~QuotaKeeper() override;

    // Where quotaWarning is told; null: nowhere.
    void setNotifications(events::ServerEvents* bus) { bus_ = bus; }
    // Reads the stored tallies and counts the stale ones of accounts with a
    // quota again; call once the limits book is filled. Once until stop().
    void start();
    // Saves the tallies as current (a clean end).
    void stop();
    bool started() const { return started_; }

    // The account's name as its sessions log in, for the warning.
    void noteLogin(qint32 accountId, const QString& login) { names_.insert(accountId, login); }

    // Whether the account has a quota now (one look in the book).
    bool limited(qint32 accountId) const;
    files::AccountLimits limits(qint32 accountId) const;
    QuotaTally used(qint32 accountId);
    // Bytes the account may still add; -1 without a byte quota.
    qint64 bytesLeft(qint32 accountId);

    // Why an upload may not begin, in Italian for the log; empty when it may.
    // `replacedBytes` of an existing file go (an overwrite, a truncation),
    // `newFile`: it makes one file more.
    QString refusal(qint32 accountId, qint64 replacedBytes, bool newFile);
    // Up to `bytes` taken for a write about to happen; returns how many fit.
    qint64 reserve(qint32 accountId, qint64 bytes);
    // Bytes that no longer count (deleted, truncated, reserved and not written).
    void release(qint32 accountId, qint64 bytes);
    // Bytes that count again whatever the quota (a file left in place).
    void restore(qint32 accountId, qint64 bytes);
    // One file more (+1) or less (-1).
    void addFiles(qint32 accountId, qint64 files);

    // Counts the account again from the disk now (a slice at a time);
    // counted() tells the end.
    void recount(qint32 accountId);
    bool counting(qint32 accountId) const { return counters_.contains(accountId); }
    // Accounts whose folders hold the same disk folder as another's, as
    // lists of the accounts sharing one (from the last counts).
    QList<QList<qint32>> overlaps() const;

Q_SIGNALS:
    void counted(qint32 accountId, const kv::session::QuotaTally& tally);

private:
    struct Account {
        QuotaTally tally;
        bool known = false;  // counted, or read as current from the store
        bool warned = false; // over the warning line since it was last crossed
        files::AccountLimits seenLimits;
    };
    Account& account(qint32 accountId);
    void changed(qint32 accountId, Account& a);
    void checkWarning(qint32 accountId, Account& a);
    void scheduleSave();
    void save(bool current);
    void onCounted(qint32 accountId);

    const LimitsBook& book_;
    QuotaStore* store_;
    events::ServerEvents* bus_ = nullptr;
    QHash<qint32, Account> accounts_;
    QHash<qint32, QString> names_;
    QHash<qint32, std::shared_ptr<QuotaCounter>> counters_;
    // The disk folders (device and inode) each account's last count saw.
    QHash<qint32, QList<QPair<quint64, quint64>>> roots_;
    bool savePending_ = false;
    bool started_ = false;
    bool loaded_ = false; // the store's tallies were read
};

} // namespace kv::session
