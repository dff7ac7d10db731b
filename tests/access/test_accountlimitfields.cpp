// The declaration of an account's limit fields: how a typed value is read
// (sizes with K, M, G, T; dates; whole numbers) and refused with the one
// message every front end shows, and when an expiry date ends an account.

#include "access/AccountLimitFields.h"
#include "tests/support/DataRow.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using kv::access::LimitField;
using kv::access::limitField;
using kv::access::readLimitText;

class TestAccountLimitFields : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void typedValues_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("number");
        QTest::addColumn<QString>("refusal"); // empty: accepted
        const int rate = int(LimitField::RateUp);
        const int quota = int(LimitField::QuotaBytes);
        const int files = int(LimitField::QuotaFiles);
        const QString rateCaption =
            u"Velocità massima in ricezione (upload) dell'account, in KiB/s: "_s;
        QTest::newRow("rate") << rate << u" 512 "_s << qint64(512) << QString();
        QTest::newRow("rate none") << rate << u"0"_s << qint64(0) << QString();
        QTest::newRow("rate maximum") << rate << u"16777216"_s << qint64(16777216) << QString();
        addRow("rate over maximum", rate, u"16777217"_s, qint64(0),
               rateCaption + u"\"16777217\" è oltre il massimo (16777216)"_s);
        addRow("rate negative", rate, u"-5"_s, qint64(0),
               rateCaption + u"\"-5\" non può essere negativo"_s);
        addRow("rate fraction", rate, u"1.5"_s, qint64(0),
               rateCaption + u"\"1.5\" deve essere un numero intero"_s);
        addRow("rate too many digits", rate, u"99999999999999999999"_s, qint64(0),
               rateCaption + u"\"99999999999999999999\" è oltre il massimo (16777216)"_s);
        addRow("rate word", rate, u"veloce"_s, qint64(0),
               rateCaption + u"\"veloce\" non è un numero"_s);
        addRow("rate empty", rate, u""_s, qint64(0), rateCaption + u"\"\" non è un numero"_s);
        QTest::newRow("bytes") << quota << u"1000"_s << qint64(1000) << QString();
        QTest::newRow("kibibytes") << quota << u"4K"_s << qint64(4096) << QString();
        QTest::newRow("mebibytes lower case") << quota << u"3m"_s << qint64(3 << 20) << QString();
        addRow("gibibytes with unit", quota, u"2GiB"_s, (qint64(2) << 30), QString());
        QTest::newRow("tebibytes") << quota << u"1T"_s << (qint64(1) << 40) << QString();
        QTest::newRow("none") << quota << u"0"_s << qint64(0) << QString();
        addRow("size negative", quota, u"-1G"_s, qint64(0),
               u"Quota di spazio: \"-1G\" non può essere negativa"_s);
        addRow("size fraction", quota, u"1.5G"_s, qint64(0),
               u"Quota di spazio: \"1.5G\" deve essere un numero intero (ad esempio 1536M invece "
               "di 1.5G)"_s);
        addRow("size unknown unit", quota, u"5P"_s, qint64(0),
               u"Quota di spazio: \"5P\" non è una dimensione (byte, oppure un numero seguito da "
               "K, M, G o T)"_s);
        addRow("size over maximum", quota, u"1048577T"_s, qint64(0),
               u"Quota di spazio: \"1048577T\" è oltre il massimo (1048576T)"_s);
        addRow("size too many digits", quota, u"99999999999999999999"_s, qint64(0),
               u"Quota di spazio: \"99999999999999999999\" è oltre il massimo (1048576T)"_s);
        QTest::newRow("files") << files << u"250"_s << qint64(250) << QString();
        addRow("files with a unit", files, u"5K"_s, qint64(0),
               u"Quota di file: \"5K\" non è un numero"_s);
    }
    void typedValues() {
        QFETCH(int, field);
        QFETCH(QString, text);
        QFETCH(qint64, number);
        QFETCH(QString, refusal);
        const auto read = readLimitText(limitField(LimitField(field)), text);
        QCOMPARE(read.error, refusal);
        if (refusal.isEmpty())
            QCOMPARE(read.number, number);
    }

    void sizesWriteBackAsTheyRead_data() {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << qint64(0) << u"0"_s;
        QTest::newRow("bytes") << qint64(1000) << u"1000"_s;
        QTest::newRow("kibibytes") << qint64(1536) << u"1536"_s;
        QTest::newRow("mebibytes") << qint64(1536) * 1024 << u"1536K"_s;
        QTest::newRow("gibibytes") << (qint64(3) << 30) << u"3G"_s;
    }
    void sizesWriteBackAsTheyRead() {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(kv::access::sizeText(bytes), text);
        QCOMPARE(kv::access::readSize(text).bytes, bytes);
    }

    void dates_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<bool>("refused");
        QTest::newRow("a date") << u"2026-12-10"_s << QDate(2026, 12, 10) << false;
        QTest::newRow("never") << u"never"_s << QDate() << false;
        QTest::newRow("empty") << u""_s << QDate() << false;
        QTest::newRow("no such day") << u"2026-02-30"_s << QDate() << true;
        QTest::newRow("another order") << u"10/12/2026"_s << QDate() << true;
        QTest::newRow("with a time") << u"2026-12-10T10:00"_s << QDate() << true;
    }
    void dates() {
        QFETCH(QString, text);
        QFETCH(QDate, date);
        QFETCH(bool, refused);
        const auto read = readLimitText(limitField(LimitField::Expires), text);
        QCOMPARE(read.date, date);
        QCOMPARE(read.error,
                 refused ? u"Scadenza dell'account: \"%1\" non è una data (AAAA-MM-GG, oppure "
                           "never)"_s.arg(text)
                         : QString());
    }

    // An account that expires on the 10th logs in all of the 10th, local
    // time, and is expired from midnight at the start of the 11th.
    void expiryIsTheLocalMidnightAfterTheDate_data() {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<bool>("expired");
        const QDate day(2026, 12, 10);
        QTest::newRow("the day before") << QDateTime(day.addDays(-1), QTime(12, 0)) << false;
        QTest::newRow("the day's start") << QDateTime(day, QTime(0, 0)) << false;
        QTest::newRow("the day's last second") << QDateTime(day, QTime(23, 59, 59)) << false;
        QTest::newRow("midnight after it") << QDateTime(day.addDays(1), QTime(0, 0)) << true;
        QTest::newRow("years later") << QDateTime(day.addYears(3), QTime(9, 0)) << true;
    }
    void expiryIsTheLocalMidnightAfterTheDate() {
        QFETCH(QDateTime, now);
        QFETCH(bool, expired);
        const QDate day(2026, 12, 10);
        QCOMPARE(kv::access::isExpired(day, now), expired);
        QCOMPARE(kv::access::isExpired(day, now.toUTC()), expired); // the same moment
        QCOMPARE(now >= kv::access::expiryMoment(day), expired);
        QVERIFY(!kv::access::isExpired(QDate(), now)); // never
    }

    void changesApplyOnlyWhatTheyName() {
        kv::access::LimitChanges changes;
        QVERIFY(changes.isEmpty());
        const kv::files::AccountLimits before{1, 2, 3, 4, 5, 6, QDate(2030, 1, 1)};
        QCOMPARE(changes.appliedTo(before), before);
        changes.sessionRateDownKib = 40;
        changes.expires = QDate(); // never
        QVERIFY(!changes.isEmpty());
        QCOMPARE(changes.appliedTo(before), (kv::files::AccountLimits{1, 2, 3, 40, 5, 6, QDate()}));
    }
};

QTEST_GUILESS_MAIN(TestAccountLimitFields)
#include "test_accountlimitfields.moc"
