#pragma once
// The public keys that open an account over SFTP, in the table account_keys
// of accounts.dat (one row per login and key fingerprint). A file without
// the table has no keys; the table is made with the first key, together
// with two triggers on users so that renaming an account moves its keys and
// deleting it deletes them, in the same statement whoever changes the users
// table (the panel, the command line, another program).

#include "sftp/KeyLogins.h"
#include "sftp/PublicKeyLine.h"

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <functional>
#include <optional>

namespace kv::access {

struct StoredKey {
    QString type;
    QString fingerprint;
    QString comment;
    QDateTime addedAt; // UTC
};

struct KeyChange {
    enum class Result {
        Done,
        Unchanged, // add: the key was listed already; remove: it was not listed
        NoAccount, // no account has this login
        Failed,    // the file could not be written: `error` says why
    };
    Result result = Result::Failed;
    QString error;
};

class AccountKeys {
public:
    using Listed = sftp::KeyListed;

    explicit AccountKeys(QSqlDatabase db) : db_(std::move(db)) {}

    // Each change is one write transaction.
    KeyChange add(const QString& login, const sftp::PublicKey& key,
                  const QDateTime& now = QDateTime::currentDateTimeUtc());
    KeyChange remove(const QString& login, const QString& fingerprint);
    // The keys of `login`, oldest first; nullopt when the file cannot be read.
    std::optional<QList<StoredKey>> list(const QString& login) const;
    // Whether `fingerprint` opens `login`; Unknown when the file cannot be read.
    Listed isListed(const QString& login, const QString& fingerprint) const;

    static const QStringList& tableStatements();

private:
    // One step of a change, run inside its write transaction once the account
    // is found (`owner` spelt as stored) and whether the table exists is known.
    using KeyStep = std::function<std::optional<QString>(QSqlQuery&, const QString& owner,
                                                         bool tableThere, KeyChange::Result&)>;
    KeyChange changeKeysOf(const QString& login, const KeyStep& step);
    std::optional<bool> tableExists() const;

    QSqlDatabase db_;
};

} // namespace kv::access
