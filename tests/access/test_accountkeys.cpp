// AccountKeys: a file without the table has no keys and is not changed by
// reading; adding a key twice keeps one row; keys go by fingerprint; an
// account's keys follow its rename and go with its deletion, whoever changes
// the users table; a login differing only in case finds the same keys.

#include "access/AccountDatabase.h"
#include "access/AccountKeys.h"
#include "tests/support/DbTestSupport.h"
#include "tests/support/SampleKeys.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace kv::access;
using kv::sftp::parsePublicKeyLine;
using kv::sftp::PublicKey;
using Result = KeyChange::Result;
using Listed = AccountKeys::Listed;

namespace {

PublicKey keyOf(const char* line) {
    return parsePublicKeyLine(QString::fromLatin1(line)).key.value();
}

} // namespace

class TestAccountKeys : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<AccountDatabase> db_;
    const PublicKey ed_ = keyOf(kv::testing::kEd25519Line);
    const PublicKey ec_ = keyOf(kv::testing::kEcdsa256Line);

    bool sql(const QString& statement) { return QSqlQuery(db_->connection()).exec(statement); }
    int count(const QString& select) {
        QSqlQuery q(db_->connection());
        return q.exec(select) && q.next() ? q.value(0).toInt() : -1;
    }

private Q_SLOTS:
    void init() {
        db_.reset();
        QFile::remove(dir_.filePath(QStringLiteral("accounts.dat")));
        db_ = std::make_unique<AccountDatabase>(dir_.filePath(QStringLiteral("accounts.dat")));
        QVERIFY2(db_->open(), qPrintable(db_->problem()));
        QVERIFY(sql("INSERT INTO users (login, password, enabled) VALUES ('bob', 'x', 1)"));
        QVERIFY(sql("INSERT INTO users (login, password, enabled) VALUES ('carol', 'y', 1)"));
    }

    void fileWithoutTableHasNoKeysAndStaysAsItIs() {
        const QString path = db_->filePath();
        const QByteArray before = kv::testing::fileHash(path);
        AccountKeys keys(db_->connection());
        QCOMPARE(keys.list(QStringLiteral("bob")).value().size(), 0);
        QCOMPARE(keys.isListed(QStringLiteral("bob"), ed_.fingerprint), Listed::No);
        QCOMPARE(keys.remove(QStringLiteral("bob"), ed_.fingerprint).result, Result::Unchanged);
        // A key for no account is refused, and makes no table either.
        QCOMPARE(keys.add(QStringLiteral("nobody"), ed_).result, Result::NoAccount);
        QCOMPARE(keys.remove(QStringLiteral("nobody"), ed_.fingerprint).result, Result::NoAccount);
        QCOMPARE(kv::testing::fileHash(path), before);
        QCOMPARE(count("SELECT count(*) FROM sqlite_master WHERE name LIKE 'account_keys%'"), 0);
        // Account changes work as before.
        QVERIFY(sql("UPDATE users SET login = 'robert' WHERE login = 'bob'"));
        QVERIFY(sql("DELETE FROM users WHERE login = 'robert'"));
    }

    void addTwiceKeepsOneRowAndRemoveByFingerprint() {
        AccountKeys keys(db_->connection());
        const QDateTime at(QDate(2026, 3, 1), QTime(9, 30), Qt::UTC);
        QCOMPARE(keys.add(QStringLiteral("bob"), ed_, at).result, Result::Done);
        QCOMPARE(keys.add(QStringLiteral("bob"), ed_).result, Result::Unchanged);
        QCOMPARE(keys.add(QStringLiteral("BOB"), ed_).result, Result::Unchanged);
        QCOMPARE(keys.add(QStringLiteral("BOB"), ec_).result, Result::Done);
        const QList<StoredKey> listed = keys.list(QStringLiteral("bob")).value();
        // A key's fingerprint and comment as listed: test_accountpanel, e2e_sftp_keys.
        QCOMPARE(listed.size(), 2);
        QCOMPARE(listed[0].addedAt, at);
        QCOMPARE(listed[1].type, QStringLiteral("ecdsa-sha2-nistp256"));
        QCOMPARE(keys.isListed(QStringLiteral("Bob"), ed_.fingerprint), Listed::Yes);
        QCOMPARE(count("SELECT count(*) FROM account_keys WHERE login = 'bob' COLLATE BINARY"), 2);
        // Another account does not share them.
        QCOMPARE(keys.isListed(QStringLiteral("carol"), ed_.fingerprint), Listed::No);
        QCOMPARE(keys.list(QStringLiteral("carol")).value().size(), 0);
        // Removing goes by fingerprint and account.
        QCOMPARE(keys.add(QStringLiteral("carol"), ed_).result, Result::Done);
        QCOMPARE(keys.remove(QStringLiteral("bob"), ed_.fingerprint).result, Result::Done);
        QCOMPARE(keys.remove(QStringLiteral("bob"), ed_.fingerprint).result, Result::Unchanged);
        QCOMPARE(keys.isListed(QStringLiteral("bob"), ed_.fingerprint), Listed::No);
        QCOMPARE(keys.isListed(QStringLiteral("bob"), ec_.fingerprint), Listed::Yes);
        QCOMPARE(keys.isListed(QStringLiteral("carol"), ed_.fingerprint), Listed::Yes);
    }

    void keysFollowRenameAndDelete() {
        AccountKeys keys(db_->connection());
        QCOMPARE(keys.add(QStringLiteral("bob"), ed_).result, Result::Done);
        QCOMPARE(keys.add(QStringLiteral("carol"), ec_).result, Result::Done);
        // Renamed the way the panel saves a row: by rowid.
        QVERIFY(sql("UPDATE users SET login = 'robert' WHERE rowid = 1"));
        QCOMPARE(keys.isListed(QStringLiteral("robert"), ed_.fingerprint), Listed::Yes);
        QCOMPARE(keys.isListed(QStringLiteral("bob"), ed_.fingerprint), Listed::No);
        // A new "bob" does not inherit them.
        QVERIFY(sql("INSERT INTO users (login, password, enabled) VALUES ('bob', 'z', 1)"));
        QCOMPARE(keys.list(QStringLiteral("bob")).value().size(), 0);
        QVERIFY(sql("DELETE FROM users WHERE login = 'robert'"));
        QCOMPARE(keys.isListed(QStringLiteral("robert"), ed_.fingerprint), Listed::No);
        QCOMPARE(count("SELECT count(*) FROM account_keys WHERE login = 'robert'"), 0);
        QCOMPARE(keys.isListed(QStringLiteral("carol"), ec_.fingerprint), Listed::Yes);
        // Changing only the case keeps them.
        QVERIFY(sql("UPDATE users SET login = 'Carol' WHERE login = 'carol'"));
        QCOMPARE(keys.isListed(QStringLiteral("Carol"), ec_.fingerprint), Listed::Yes);
    }

    void lockedFileLosesNothing() {
        AccountKeys keys(db_->connection());
        QCOMPARE(keys.add(QStringLiteral("bob"), ed_).result, Result::Done);
        {
            kv::testing::LockHolder other(db_->filePath(), QStringLiteral("BEGIN EXCLUSIVE"));
            QVERIFY(other.locked());
            const KeyChange change = keys.add(QStringLiteral("bob"), ec_);
            QCOMPARE(change.result, Result::Failed);
            QVERIFY(!change.error.isEmpty());
            QCOMPARE(keys.isListed(QStringLiteral("bob"), ed_.fingerprint), Listed::Unknown);
        }
        QCOMPARE(keys.list(QStringLiteral("bob")).value().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestAccountKeys)
#include "test_accountkeys.moc"
