#include "access/QuotaTable.h"

#include "access/WriteTransaction.h"
#include "files/LoginGrant.h"
#include "session/QuotaCounter.h"

#include <QFileInfo>

#include <algorithm>

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace kv::access {

namespace {

const QStringList& tableStatements() {
    // The tally of a deleted account goes with it, whoever deletes it.
    static const QStringList statements = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS quota_usage (account INTEGER PRIMARY KEY, "
                       "bytes INTEGER NOT NULL, files INTEGER NOT NULL, current INTEGER NOT NULL)"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS quota_usage_follow_delete AFTER DELETE ON "
                       "users BEGIN DELETE FROM quota_usage WHERE account = OLD.ID; END"),
    };
    return statements;
}

} // namespace

QuotaTable::QuotaTable(QSqlDatabase db, DefaultRoot defaultRoot)
    : db_(std::move(db)), defaultRoot_(std::move(defaultRoot)) {}

QHash<qint32, session::QuotaStore::Stored> QuotaTable::loadTallies() {
    QHash<qint32, Stored> result;
    result.insert(files::kAnonymousAccountId, {});
    QSqlQuery q(db_);
    if (q.exec(QStringLiteral("SELECT ID FROM users")))
        while (q.next())
            result.insert(q.value(0).toInt(), {});
    // A file without the table has nothing counted yet.
    if (!q.exec(QStringLiteral("SELECT account, bytes, files, current FROM quota_usage")))
        return result;
    while (q.next()) {
        const qint32 id = q.value(0).toInt();
        if (!result.contains(id))
            continue;
        result[id] = {
            {q.value(1).toLongLong(), q.value(2).toLongLong()}, q.value(3).toBool(), true};
    }
    return result;
}

void QuotaTable::saveTallies(const QHash<qint32, session::QuotaTally>& tallies, bool current) {
    const auto error = inWriteTransaction(db_, [&]() -> std::optional<QString> {
        QSqlQuery q(db_);
        for (const QString& statement : tableStatements())
            if (!q.exec(statement))
                return q.lastError().text();
        q.prepare(QStringLiteral("INSERT OR REPLACE INTO quota_usage (account, bytes, files, "
                                 "current) VALUES (?, ?, ?, ?)"));
        for (auto it = tallies.begin(); it != tallies.end(); ++it) {
            q.addBindValue(it.key());
            q.addBindValue(it->bytes);
            q.addBindValue(it->files);
            q.addBindValue(current ? 1 : 0);
            if (!q.exec())
                return q.lastError().text();
        }
        // Tallies the keeper did not hold keep their values, never their claim
        // to be current while a server may change what they count.
        if (!current && !q.exec(QStringLiteral("UPDATE quota_usage SET current = 0")))
            return q.lastError().text();
        return std::nullopt;
    });
    problem_ = error.value_or(QString());
}

QStringList QuotaTable::foldersOf(qint32 accountId) {
    QStringList folders;
    QSqlQuery q(db_);
    if (accountId == files::kAnonymousAccountId) {
        q.exec(QStringLiteral("SELECT rootdir FROM anonymous"));
    } else {
        q.prepare(QStringLiteral("SELECT rootdir FROM users WHERE ID = ?"));
        q.addBindValue(accountId);
        q.exec();
    }
    if (!q.next())
        return folders;
    QString root = q.value(0).toString();
    if (root.isEmpty() && defaultRoot_)
        root = defaultRoot_();
    folders << root;
    q.prepare(QStringLiteral("SELECT destination FROM virtualdirs WHERE user = ?"));
    q.addBindValue(accountId);
    if (q.exec())
        while (q.next())
            folders << q.value(0).toString();
    return folders;
}

QString QuotaTable::loginOf(qint32 accountId) {
    if (accountId == files::kAnonymousAccountId)
        return QStringLiteral("anonymous");
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("SELECT login FROM users WHERE ID = ?"));
    q.addBindValue(accountId);
    return q.exec() && q.next() ? q.value(0).toString() : QString();
}

std::optional<qint32> QuotaTable::accountOf(const QString& login) {
    if (login.compare(QStringLiteral("anonymous"), Qt::CaseInsensitive) == 0)
        return files::kAnonymousAccountId;
    QSqlQuery q(db_);
    q.prepare(QStringLiteral("SELECT ID FROM users WHERE login = ?"));
    q.addBindValue(login);
    if (q.exec() && q.next())
        return q.value(0).toInt();
    return std::nullopt;
}

QJsonObject QuotaRow::toJson() const {
    const double bytesShare =
        limits.quotaBytes > 0 ? 100.0 * double(used.bytes) / double(limits.quotaBytes) : 0;
    const double filesShare =
        limits.quotaFiles > 0 ? 100.0 * double(used.files) / double(limits.quotaFiles) : 0;
    return {{QStringLiteral("login"), login},
            {QStringLiteral("bytesUsed"), double(used.bytes)},
            {QStringLiteral("filesUsed"), double(used.files)},
            {QStringLiteral("quotaBytes"), double(limits.quotaBytes)},
            {QStringLiteral("quotaFiles"), double(limits.quotaFiles)},
            {QStringLiteral("percent"), qRound(std::max(bytesShare, filesShare) * 10) / 10.0},
            {QStringLiteral("counted"), counted}};
}

QList<QuotaRow> QuotaTable::rows(const QString& login) {
    const QHash<qint32, Stored> stored = loadTallies();
    QList<QuotaRow> result;
    for (auto it = stored.begin(); it != stored.end(); ++it) {
        QuotaRow row;
        row.account = it.key();
        row.login = loginOf(it.key());
        if (!login.isEmpty() && row.login.compare(login, Qt::CaseInsensitive) != 0)
            continue;
        row.used = it->tally;
        row.counted = it->kept;
        result << row;
    }
    std::sort(result.begin(), result.end(), [](const QuotaRow& a, const QuotaRow& b) {
        return (a.account != files::kAnonymousAccountId) <
                   (b.account != files::kAnonymousAccountId) ||
               ((a.account != files::kAnonymousAccountId) ==
                    (b.account != files::kAnonymousAccountId) &&
                a.login.compare(b.login, Qt::CaseInsensitive) < 0);
    });
    return result;
}

session::QuotaTally QuotaTable::scanNow(qint32 accountId) {
    session::QuotaCounter counter(foldersOf(accountId));
    counter.runToEnd();
    saveTallies({{accountId, counter.tally()}}, true);
    return counter.tally();
}

QList<QStringList> QuotaTable::overlaps() {
    // Each account's folders as canonical paths; two overlap when one is the
    // other or lies inside it.
    QList<QPair<QString, QStringList>> folders;
    const QHash<qint32, Stored> accounts = loadTallies();
    for (auto it = accounts.begin(); it != accounts.end(); ++it) {
        QStringList paths;
        for (const QString& folder : foldersOf(it.key())) {
            const QString canonical = QFileInfo(folder).canonicalFilePath();
            if (!canonical.isEmpty())
                paths << (canonical.endsWith(u'/') ? canonical : canonical + u'/');
        }
        folders.append({loginOf(it.key()), paths});
    }
    const auto within = [](const QString& a, const QString& b) {
        return a.startsWith(b) || b.startsWith(a);
    };
    QList<QStringList> result;
    for (qsizetype i = 0; i < folders.size(); ++i)
        for (qsizetype j = i + 1; j < folders.size(); ++j) {
            bool shared = false;
            for (const QString& a : folders[i].second)
                for (const QString& b : folders[j].second)
                    shared = shared || within(a, b);
            if (shared) {
                QStringList pair{folders[i].first, folders[j].first};
                pair.sort(Qt::CaseInsensitive);
                result << pair;
            }
        }
    std::sort(result.begin(), result.end());
    return result;
}

} // namespace kv::access
