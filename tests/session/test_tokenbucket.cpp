// The token bucket: refilled from the time passed, bounded, in debt after
// taking more than it held, and saying how long until enough is there.
#include "session/TokenBucket.h"

#include <QTest>

using namespace kv;
using session::TokenBucket;

namespace {
constexpr qint64 kSecond = 1'000'000'000;
}

class TestTokenBucket : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void refillsFromTheTimePassed_data() {
        QTest::addColumn<qint64>("rate");
        QTest::addColumn<qint64>("afterNs");
        QTest::addColumn<qint64>("tokens");
        QTest::newRow("new bucket is empty") << qint64(102400) << qint64(0) << qint64(0);
        QTest::newRow("a tenth of a second") << qint64(102400) << kSecond / 100 << qint64(1024);
        QTest::newRow("capped at two quanta") << qint64(102400) << 10 * kSecond << qint64(10240);
        QTest::newRow("fast rate, quantum capped")
            << qint64(100 << 20) << kSecond << 2 * TokenBucket::kMaxQuantum;
        QTest::newRow("slow rate, smallest quantum")
            << qint64(1024) << 10 * kSecond << 2 * TokenBucket::kMinQuantum;
    }
    void refillsFromTheTimePassed() {
        QFETCH(qint64, rate);
        QFETCH(qint64, afterNs);
        QFETCH(qint64, tokens);
        TokenBucket bucket(rate, 5 * kSecond);
        QCOMPARE(bucket.tokens(5 * kSecond + afterNs), tokens);
    }

    void debtIsPaidBeforeTheNextGrant() {
        TokenBucket bucket(10240, 0); // quantum 512
        QCOMPARE(bucket.tokens(kSecond), 1024);
        bucket.take(3072); // a request larger than what was held
        QCOMPARE(bucket.tokens(kSecond), -2048);
        // 2048 of debt and 512 to hold: a quarter of a second at 10 KiB/s.
        QCOMPARE(bucket.nsUntil(512, kSecond), kSecond / 4);
        QCOMPARE(bucket.tokens(kSecond + kSecond / 4), 512);
        QCOMPARE(bucket.nsUntil(512, kSecond + kSecond / 4), 0);
    }

    void aNewRateKeepsTheTokensWithinItsCapacity() {
        TokenBucket bucket(1 << 20, 0);
        QCOMPARE(bucket.tokens(kSecond), 2 * 52428);
        bucket.setRate(10240, kSecond);
        QCOMPARE(bucket.tokens(kSecond), 1024);
        QCOMPARE(bucket.rate(), 10240);
    }

    void timeGoingBackChangesNothing() {
        TokenBucket bucket(102400, kSecond);
        QCOMPARE(bucket.tokens(kSecond + kSecond / 100), 1024);
        QCOMPARE(bucket.tokens(kSecond), 1024);
        QCOMPARE(bucket.tokens(kSecond + kSecond / 50), 2048);
    }
};

QTEST_GUILESS_MAIN(TestTokenBucket)
#include "test_tokenbucket.moc"
