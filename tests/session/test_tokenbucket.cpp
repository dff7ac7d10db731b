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
        QTest::newRow("a hundredth of a second") << qint64(102400) << kSecond / 100 << qint64(1024);
        QTest::newRow("capped at a quantum") << qint64(102400) << 10 * kSecond << qint64(5120);
        QTest::newRow("fast rate, quantum capped")
            << qint64(100 << 20) << kSecond << TokenBucket::kMaxQuantum;
        QTest::newRow("slow rate, smallest quantum")
            << qint64(1024) << 10 * kSecond << TokenBucket::kMinQuantum;
    }
    void refillsFromTheTimePassed() {
        QFETCH(qint64, rate);
        QFETCH(qint64, afterNs);
        QFETCH(qint64, tokens);
        TokenBucket bucket(rate, 5 * kSecond);
        QCOMPARE(bucket.tokens(5 * kSecond + afterNs), tokens);
    }

    void debtIsPaidBeforeTheNextGrant() {
        TokenBucket bucket(20480, 0); // quantum 1024
        QCOMPARE(bucket.tokens(kSecond), 1024);
        bucket.take(4096); // a request larger than what was held
        QCOMPARE(bucket.tokens(kSecond), -3072);
        // 3072 of debt and 512 to hold (half a quantum): 3584 bytes at 20 KiB/s.
        QCOMPARE(bucket.threshold(1 << 20), 512);
        QCOMPARE(bucket.threshold(100), 100);
        QCOMPARE(bucket.nsUntil(512, kSecond), qint64(3584) * kSecond / 20480);
        const qint64 later = kSecond + qint64(3584) * kSecond / 20480;
        QCOMPARE(bucket.tokens(later), 512);
        QCOMPARE(bucket.nsUntil(512, later), 0);
    }

    void aNewRateKeepsTheTokensWithinItsCapacity() {
        TokenBucket bucket(1 << 20, 0);
        QCOMPARE(bucket.tokens(kSecond), 52428);
        bucket.setRate(10240, kSecond);
        QCOMPARE(bucket.tokens(kSecond), 512);
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
