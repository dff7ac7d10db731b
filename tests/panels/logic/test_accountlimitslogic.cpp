// The Account panel's "Limiti" group without a window: an account's limits
// read and written through the account service, rates typed in KiB/s or
// Mbit/s, quotas in MiB or GiB, the expiry date or "mai", refusals in the
// words of the limit fields' declaration, the anonymous account's own
// limits, and the space used and the overlapping accounts from their hooks.

#include "access/AccountService.h"
#include "panels/logic/AccountLimitsLogic.h"
#include "tests/support/DataRow.h"
#include "tests/support/OptionsFixture.h"

#include <QTest>

using namespace Qt::StringLiterals;
using kv::access::LimitField;
using kv::admin::AccountLimitsLogic;
using kv::admin::SizeUnit;

namespace {

// Accounts bob and carol; the group follows `current`.
struct Fixture : kv::testing::OptionsFixture {
    QString current = u"bob"_s;
    AccountLimitsLogic logic{db.connection(), [this] { return current; }};
    AccountLimitsLogic anonymous{db.connection()};

    Fixture()
        : OptionsFixture({u"INSERT INTO users (login, password, enabled) VALUES "
                          u"('bob', 'x', 1), ('carol', 'y', 1)"_s}) {
        logic.refresh();
    }
    kv::files::AccountLimits stored(const QString& login) const {
        for (const kv::access::AccountRow& row :
             kv::access::AccountService(db.connection()).accounts()) {
            if (row.login == login)
                return row.limits;
        }
        return {};
    }
};

} // namespace

class TestAccountLimitsLogic : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ratesAreWrittenAtOnce_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("reason"); // empty: kept
        QTest::addColumn<QString>("shown");
        const int up = int(LimitField::RateUp);
        const int sessionDown = int(LimitField::SessionRateDown);
        QTest::newRow("KiB/s") << up << u"10240"_s << QString() << u"10240"_s;
        QTest::newRow("Mbit/s") << sessionDown << u"80 Mbit/s"_s << QString() << u"9766"_s;
        addRow("too fast in Mbit/s", up, u"200000 Mbit/s"_s,
               u"Velocità massima in ricezione (upload) dell'account, in KiB/s: \"200000 "
               u"Mbit/s\" è oltre il massimo (16777216)"_s,
               u"0"_s);
    }
    void ratesAreWrittenAtOnce() {
        QFETCH(int, field);
        QFETCH(QString, typed);
        QFETCH(QString, reason);
        Fixture f;
        QVERIFY(f.logic.hasAccount());
        QCOMPARE(f.logic.setRate(LimitField(field), typed).value_or(QString()), reason);
        QTEST(f.logic.rateShown(LimitField(field)), "shown");
        const kv::files::AccountLimits stored = f.stored(u"bob"_s);
        QTEST(QString::number(stored.*kv::access::limitField(LimitField(field)).member), "shown");
        QCOMPARE(f.stored(u"carol"_s), kv::files::AccountLimits{});
    }

    void quotas_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("unit");
        QTest::addColumn<qint64>("bytes"); // -1: refused
        QTest::addColumn<QString>("reason");
        const int mib = int(SizeUnit::MiB);
        const int gib = int(SizeUnit::GiB);
        QTest::newRow("GiB") << u"5"_s << gib << (qint64(5) << 30) << QString();
        addRow("a fraction of a GiB", u"1,5"_s, gib, (qint64(1536) << 20), QString());
        QTest::newRow("MiB") << u"800"_s << mib << (qint64(800) << 20) << QString();
        addRow("the command line's form", u"2G"_s, mib, (qint64(2) << 30), QString());
        QTest::newRow("empty: none") << u""_s << gib << qint64(0) << QString();
        addRow("negative", u"-1"_s, mib, qint64(-1),
               u"Quota di spazio: \"-1 MiB\" non può essere negativa"_s);
        addRow("words", u"molta"_s, gib, qint64(-1),
               u"Quota di spazio: \"molta\" non è una dimensione (byte, "
               u"oppure un numero seguito da K, M, G o T)"_s);
        addRow("beyond the largest", u"2000000000"_s, gib, qint64(-1),
               u"Quota di spazio: \"2000000000 GiB\" è oltre il massimo (1048576T)"_s);
    }
    void quotas() {
        QFETCH(QString, typed);
        QFETCH(int, unit);
        QFETCH(qint64, bytes);
        QFETCH(QString, reason);
        Fixture f;
        QCOMPARE(f.logic.setQuota(u"3"_s, SizeUnit::GiB), std::nullopt);
        QCOMPARE(f.logic.setQuota(typed, SizeUnit(unit)).value_or(QString()), reason);
        const qint64 kept = bytes < 0 ? qint64(3) << 30 : bytes;
        QCOMPARE(f.stored(u"bob"_s).quotaBytes, kept);
        QCOMPARE(f.logic.quotaShown(), kv::admin::sizeInUnit(kept));
    }

    void filesAndExpiry() {
        Fixture f;
        QCOMPARE(f.logic.setQuotaFiles(u"1000"_s), std::nullopt);
        QCOMPARE(f.logic.setQuotaFiles(u"mille"_s), u"Quota di file: \"mille\" non è un numero"_s);
        QCOMPARE(f.logic.quotaFilesShown(), u"1000"_s);
        const QDate today(2026, 12, 10);
        QCOMPARE(f.logic.expiryText(today), u"Non scade mai"_s);
        QCOMPARE(f.logic.setExpires(QDate(2026, 12, 31)), std::nullopt);
        QCOMPARE(f.stored(u"bob"_s).expires, QDate(2026, 12, 31));
        QCOMPARE(f.logic.expiryText(today),
                 u"Valido fino al 31/12/2026 compreso (ancora 21 giorni)"_s);
        // "mai": no date at all.
        QCOMPARE(f.logic.setExpires(QDate()), std::nullopt);
        QCOMPARE(f.stored(u"bob"_s).expires, QDate());
        QCOMPARE(f.stored(u"bob"_s).quotaFiles, 1000);
        QCOMPARE(f.logic.expiryText(today), u"Non scade mai"_s);
    }

    // The group follows the account named now; with none, nothing is written.
    void followsTheCurrentAccount() {
        Fixture f;
        int written = 0;
        f.logic.setWritten([&written] { ++written; });
        QCOMPARE(f.logic.setRate(LimitField::RateDown, u"100"_s), std::nullopt);
        f.current = u"carol"_s;
        QVERIFY(f.logic.refresh());
        QCOMPARE(f.logic.rateShown(LimitField::RateDown), u"0"_s);
        QCOMPARE(f.logic.setRate(LimitField::RateDown, u"200"_s), std::nullopt);
        QCOMPARE(f.stored(u"bob"_s).rateDownKib, 100);
        QCOMPARE(f.stored(u"carol"_s).rateDownKib, 200);
        QCOMPARE(written, 2);
        QCOMPARE(f.logic.setRate(LimitField::RateDown, u"200"_s), std::nullopt);
        QCOMPARE(written, 2); // the same value: nothing written
        f.current.clear();    // a new account without a saved login
        QVERIFY(!f.logic.refresh());
        QCOMPARE(f.logic.setRate(LimitField::RateDown, u"300"_s), u"Nessun account selezionato"_s);
        QCOMPARE(f.logic.usageText(), QString());
    }

    void theAnonymousAccountHasItsOwn() {
        Fixture f;
        QVERIFY(f.anonymous.hasAccount());
        QCOMPARE(f.anonymous.setRate(LimitField::RateDown, u"512"_s), std::nullopt);
        QCOMPARE(f.anonymous.setExpires(QDate(2027, 1, 1)), std::nullopt);
        const auto row = kv::access::AccountService(f.db.connection()).anonymous();
        QVERIFY(row);
        QCOMPARE(row->limits.rateDownKib, 512);
        QCOMPARE(row->limits.expires, QDate(2027, 1, 1));
        QCOMPARE(f.stored(u"bob"_s), kv::files::AccountLimits{});
    }

    void ratesSummarySaysWhichWayIsWhich() {
        Fixture f;
        QCOMPARE(f.logic.setRate(LimitField::RateDown, u"10240"_s), std::nullopt);
        QCOMPARE(f.logic.setRate(LimitField::SessionRateUp, u"128"_s), std::nullopt);
        QCOMPARE(f.logic.ratesSummary(),
                 u"In ricezione (upload dai client): account nessun limite, ogni sessione 128 "
                 u"KiB/s ≈ 1,0 Mbit/s.\n"
                 u"In invio (download verso i client): account 10240 KiB/s ≈ 83,9 Mbit/s, ogni "
                 u"sessione nessun limite."_s);
    }

    // The space used and the overlapping accounts come from the quota's
    // bookkeeping, through hooks the panel is given.
    void usageAndOverlapsFromTheirHooks() {
        Fixture f;
        QCOMPARE(f.logic.usageText(), QString()); // no hook: nothing said
        QCOMPARE(f.logic.overlapText(), QString());
        qint32 asked = -1;
        std::optional<kv::admin::QuotaUsage> usage;
        f.logic.setUsageSource([&](qint32 id) {
            asked = id;
            return usage;
        });
        QCOMPARE(f.logic.usageText(), u"Spazio usato: non ancora contato"_s);
        QCOMPARE(asked, qint32(*kv::access::AccountService(f.db.connection()).accountId("bob")));
        usage = kv::admin::QuotaUsage{qint64(1288490189), 340};
        QCOMPARE(f.logic.usageText(), u"Spazio usato: 1,2 GiB, 340 file"_s);
        QCOMPARE(f.logic.setQuota(u"5"_s, SizeUnit::GiB), std::nullopt);
        QCOMPARE(f.logic.setQuotaFiles(u"1000"_s), std::nullopt);
        QCOMPARE(f.logic.usageText(), u"Spazio usato: 1,2 GiB di 5 GiB (24%), 340 file di 1000"_s);

        f.logic.setOverlapSource([](qint32) { return QStringList{u"anna"_s, u"bea"_s}; });
        QCOMPARE(f.logic.overlapText(), u"Cartelle in comune con: anna, bea (un file lì conta per "
                                        u"ciascuno di questi account)"_s);
        f.anonymous.setUsageSource([&](qint32 id) {
            asked = id;
            return usage;
        });
        QVERIFY(!f.anonymous.usageText().isEmpty());
        QCOMPARE(asked, kv::files::kAnonymousAccountId);
    }
};

QTEST_GUILESS_MAIN(TestAccountLimitsLogic)
#include "test_accountlimitslogic.moc"
