// The rate limiter on a clock of the test's own: each level of a chain
// holds its rate, sessions sharing a bucket share it evenly, a changed limit
// reaches a waiting flow within a second, a flow without limits costs no
// timer and no clock, and local clients are exempt when the book says so.
#include "session/RateLimiter.h"

#include <QTest>

#include <array>

using namespace kv;
using session::RateDirection;
using session::RateFlow;
using session::RateLimiter;
using session::RatePlace;

namespace {

constexpr qint64 kSecond = 1'000'000'000;
constexpr qint64 kWant = 1 << 20; // a transfer always has more to send

struct FakeClock : session::RateClock {
    qint64 nowNs() const override {
        ++reads;
        return now;
    }
    qint64 now = 1000 * kSecond;
    mutable int reads = 0;
};

RatePlace place(quint64 session, qint32 account, const QString& address = "192.0.2.1") {
    return RatePlace{session, account, address, {}};
}

// Runs `flows` as transfers that always have bytes to move, for `seconds` of
// the fake clock; what each moved. The first flow is `greedy`: it asks at
// every turn, as a transfer whose socket is always writable would, not only
// when woken.
template <std::size_t N>
std::array<qint64, N> run(RateLimiter& limiter, FakeClock& clock,
                          const std::array<RateFlow*, N>& flows, double seconds,
                          bool greedy = false) {
    std::array<qint64, N> moved{};
    std::array<bool, N> ready{};
    ready.fill(true);
    for (std::size_t i = 0; i < N; ++i)
        flows[i]->setWake([&ready, i] { ready[i] = true; });
    const qint64 start = clock.now;
    const qint64 end = start + qint64(seconds * kSecond);
    for (int steps = 0; steps < 1'000'000 && clock.now < end; ++steps) {
        bool progressed = false;
        for (std::size_t i = 0; i < N; ++i) {
            if (!ready[i])
                continue;
            const qint64 granted = flows[i]->allowance(kWant);
            if (granted > 0) {
                flows[i]->charge(granted);
                moved[i] += granted;
                progressed = true;
            } else {
                ready[i] = false;
            }
        }
        if (progressed)
            continue;
        if (!limiter.timerActive())
            break;
        clock.now += qint64(limiter.timerIntervalMs()) * 1'000'000;
        if (greedy)
            ready[0] = true;
        limiter.wakeDue();
    }
    for (RateFlow* f : flows)
        f->setWake({});
    return moved;
}

} // namespace

class TestRateLimiter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachLevelOfTheChainHoldsItsRate_data() {
        QTest::addColumn<QString>("level");
        QTest::addColumn<bool>("up");
        QTest::addColumn<qint64>("kib");
        QTest::addColumn<double>("seconds");
        for (const bool up : {false, true}) {
            const char* way = up ? "up" : "down";
            for (const char* level : {"session", "account", "address", "server"})
                QTest::addRow("%s %s", level, way)
                    << QString::fromLatin1(level) << up << qint64(512) << 4.0;
        }
        // Half a second a grant: a longer run for the same accuracy.
        QTest::newRow("slow session") << QStringLiteral("session") << false << qint64(1) << 32.0;
    }
    void eachLevelOfTheChainHoldsItsRate() {
        QFETCH(QString, level);
        QFETCH(bool, up);
        QFETCH(qint64, kib);
        QFETCH(double, seconds);
        session::LimitsBook book;
        session::ServerLimits server;
        files::AccountLimits account;
        qint64& rate =
            level == "session"   ? (up ? account.sessionRateUpKib : account.sessionRateDownKib)
            : level == "account" ? (up ? account.rateUpKib : account.rateDownKib)
            : level == "address" ? (up ? server.addressRateUpKib : server.addressRateDownKib)
                                 : (up ? server.rateUpKib : server.rateDownKib);
        rate = kib;
        book.setServer(server);
        book.setAccount(7, account);
        FakeClock clock;
        RateLimiter limiter(book, &clock);
        const auto limitedWay =
            limiter.flow(place(1, 7), up ? RateDirection::Up : RateDirection::Down);
        const auto otherWay =
            limiter.flow(place(1, 7), up ? RateDirection::Down : RateDirection::Up);
        QCOMPARE(limitedWay->limitBytesPerSecond(), kib * 1024);
        QCOMPARE(otherWay->limitBytesPerSecond(), 0);
        QCOMPARE(otherWay->allowance(kWant), kWant);
        const auto moved = run<1>(limiter, clock, {limitedWay.get()}, seconds);
        const double average = double(moved[0]) / seconds;
        // Never faster than the limit; a little slower at most.
        QVERIFY2(average <= kib * 1024 && average >= 0.95 * kib * 1024,
                 qPrintable(QString::number(average)));
        QVERIFY(!limiter.timerActive());
    }

    void sessionsSharingABucketShareItEvenly_data() {
        QTest::addColumn<QString>("shared");
        QTest::addColumn<bool>("greedy");
        for (const bool greedy : {false, true}) {
            const char* how = greedy ? ", one asking at every turn" : "";
            QTest::addRow("two sessions of one account%s", how)
                << QStringLiteral("account") << greedy;
            QTest::addRow("two accounts at one address%s", how)
                << QStringLiteral("address") << greedy;
            QTest::addRow("two clients of the server%s", how) << QStringLiteral("server") << greedy;
        }
    }
    void sessionsSharingABucketShareItEvenly() {
        QFETCH(QString, shared);
        QFETCH(bool, greedy);
        session::LimitsBook book;
        session::ServerLimits server;
        files::AccountLimits account;
        if (shared == "account")
            account.rateDownKib = 1000;
        if (shared == "address")
            server.addressRateDownKib = 1000;
        if (shared == "server")
            server.rateDownKib = 1000;
        book.setServer(server);
        book.setAccount(7, account);
        book.setAccount(8, account);
        FakeClock clock;
        RateLimiter limiter(book, &clock);
        const auto first = limiter.flow(place(1, 7, "192.0.2.1"), RateDirection::Down);
        const auto second = limiter.flow(
            place(2, shared == "account" ? 7 : 8, shared == "server" ? "192.0.2.2" : "192.0.2.1"),
            RateDirection::Down);
        const double seconds = 4;
        const auto moved = run<2>(limiter, clock, {first.get(), second.get()}, seconds, greedy);
        const double total = double(moved[0] + moved[1]) / seconds;
        QVERIFY2(total <= 1000 * 1024 && total >= 0.95 * 1000 * 1024,
                 qPrintable(QString::number(total)));
        // Neither takes much more than its half.
        QVERIFY2(qAbs(moved[0] - moved[1]) <= (moved[0] + moved[1]) / 20,
                 qPrintable(QStringLiteral("%1 %2").arg(moved[0]).arg(moved[1])));
    }

    void theTightestLevelDecidesAndEachSessionKeepsItsOwn() {
        session::LimitsBook book;
        files::AccountLimits account;
        account.rateDownKib = 1000;
        account.sessionRateDownKib = 200;
        book.setAccount(7, account);
        FakeClock clock;
        RateLimiter limiter(book, &clock);
        const auto first = limiter.flow(place(1, 7), RateDirection::Down);
        const auto second = limiter.flow(place(2, 7), RateDirection::Down);
        QCOMPARE(first->limitBytesPerSecond(), 200 * 1024);
        const auto moved = run<2>(limiter, clock, {first.get(), second.get()}, 4);
        for (const qint64 m : moved)
            QVERIFY2(m <= 4 * 200 * 1024 && m >= 0.95 * 4 * 200 * 1024,
                     qPrintable(QString::number(m)));
    }

    void aChangedLimitReachesAWaitingFlowWithinASecond_data() {
        QTest::addColumn<qint64>("before");
        QTest::addColumn<qint64>("after");
        QTest::newRow("lowered") << qint64(400) << qint64(100);
        QTest::newRow("raised") << qint64(100) << qint64(400);
        QTest::newRow("slow, then lifted") << qint64(1) << qint64(0);
    }
    void aChangedLimitReachesAWaitingFlowWithinASecond() {
        QFETCH(qint64, before);
        QFETCH(qint64, after);
        session::LimitsBook book;
        book.setServer({0, before});
        FakeClock clock;
        RateLimiter limiter(book, &clock);
        const auto flow = limiter.flow(place(1, 7), RateDirection::Down);
        run<1>(limiter, clock, {flow.get()}, 2);
        bool woken = false;
        flow->setWake([&] { woken = true; });
        // The flow is waiting when the limit changes.
        for (qint64 granted = 1; granted > 0;)
            flow->charge(granted = flow->allowance(kWant));
        QVERIFY(flow->waiting());
        book.setServer({0, after});
        const qint64 changedAtNs = clock.now;
        for (int i = 0; i < 100 && !woken && limiter.timerActive(); ++i) {
            clock.now += qint64(limiter.timerIntervalMs()) * 1'000'000;
            limiter.wakeDue();
        }
        QVERIFY(woken);
        QVERIFY(clock.now - changedAtNs <= RateLimiter::kLongestWaitNs);
        QCOMPARE(flow->limitBytesPerSecond(), after * 1024);
        if (after == 0) {
            QCOMPARE(flow->allowance(kWant), kWant);
            return;
        }
        const auto moved = run<1>(limiter, clock, {flow.get()}, 4);
        const double average = double(moved[0]) / 4;
        QVERIFY2(average <= after * 1024 * 1.02 && average >= 0.9 * after * 1024,
                 qPrintable(QString::number(average)));
    }

    void aFlowNoLimitTouchesCostsNoTimerAndNoClock_data() {
        QTest::addColumn<bool>("otherDirectionLimited");
        QTest::newRow("no limits at all") << false;
        QTest::newRow("only uploads limited") << true;
    }
    void aFlowNoLimitTouchesCostsNoTimerAndNoClock() {
        QFETCH(bool, otherDirectionLimited);
        session::LimitsBook book;
        if (otherDirectionLimited)
            book.setServer({100, 0});
        FakeClock clock;
        RateLimiter limiter(book, &clock);
        const auto flow = limiter.flow(place(1, 7), RateDirection::Down);
        bool woken = false;
        flow->setWake([&] { woken = true; });
        for (int i = 0; i < 1000; ++i) {
            QCOMPARE(flow->allowance(kWant), kWant);
            flow->charge(kWant);
        }
        QCOMPARE(clock.reads, 0);
        QVERIFY(!limiter.timerActive());
        QVERIFY(!flow->waiting());
        QVERIFY(!woken);
    }

    void localClientsAreExemptOnlyWhenTheBookSays_data() {
        QTest::addColumn<bool>("exempt");
        QTest::addColumn<bool>("local");
        QTest::addColumn<bool>("limited");
        QTest::newRow("local, exempt") << true << true << false;
        QTest::newRow("local, not exempt") << false << true << true;
        QTest::newRow("outside, exempt") << true << false << true;
        QTest::newRow("outside, not exempt") << false << false << true;
    }
    void localClientsAreExemptOnlyWhenTheBookSays() {
        QFETCH(bool, exempt);
        QFETCH(bool, local);
        QFETCH(bool, limited);
        session::LimitsBook book;
        session::ServerLimits server;
        server.rateDownKib = 100;
        server.localExempt = exempt;
        book.setServer(server);
        FakeClock clock;
        RateLimiter limiter(book, &clock);
        int asked = 0;
        RatePlace p = place(1, 7);
        p.isLocal = [&] {
            ++asked;
            return local;
        };
        const auto flow = limiter.flow(p, RateDirection::Down);
        QCOMPARE(flow->limited(), limited);
        QCOMPARE(flow->limitBytesPerSecond(), limited ? 100 * 1024 : 0);
        QCOMPARE(asked, exempt ? 1 : 0); // judged once, and only while it matters
    }

    void aFlowThatGoesLeavesItsQueueAndTheNextIsWoken() {
        session::LimitsBook book;
        book.setServer({0, 100});
        FakeClock clock;
        RateLimiter limiter(book, &clock);
        auto first = limiter.flow(place(1, 7), RateDirection::Down);
        const auto second = limiter.flow(place(2, 8), RateDirection::Down);
        bool firstWoken = false;
        bool secondWoken = false;
        first->setWake([&] { firstWoken = true; });
        second->setWake([&] { secondWoken = true; });
        QCOMPARE(first->allowance(kWant), 0);
        QCOMPARE(second->allowance(kWant), 0);
        QVERIFY(first->waiting() && second->waiting());
        first.reset(); // its transfer ended while it waited
        clock.now += kSecond;
        limiter.wakeDue();
        QVERIFY(secondWoken);
        QVERIFY(second->allowance(kWant) > 0);
        QVERIFY(!firstWoken);
        second->setWake({});
        QVERIFY(!limiter.timerActive());
    }
};

QTEST_GUILESS_MAIN(TestRateLimiter)
#include "test_ratelimiter.moc"
