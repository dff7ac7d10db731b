// Passive ports of a data channel: the operator's range swept in full and
// reported busy when every port of it is taken, and the dynamic ports
// (with the kernel's choice as the last resort) when no range is set.

#include "engine/DataChannel.h"

#include <QTcpServer>
#include <QTest>

#include <memory>
#include <vector>

using namespace kv::engine;

namespace {

const QHostAddress kLoopback(QHostAddress::LocalHost);

// A run of `count` free consecutive ports below the kernel's ephemeral ones.
quint16 freeRun(int count) {
    for (int base = 21000; base < 32000; base += 97) {
        bool free = true;
        for (int p = base; p < base + count && free; ++p) {
            QTcpServer probe;
            free = probe.listen(kLoopback, quint16(p));
        }
        if (free)
            return quint16(base);
    }
    return 0;
}

PassiveSettings range(int first, int last) {
    return PassiveSettings{quint16(first), quint16(last), {}};
}

} // namespace

class TestDataChannel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void busyRangeIsReportedNeverLeft() {
        const quint16 base = freeRun(3);
        QVERIFY(base != 0);
        std::vector<std::unique_ptr<QTcpServer>> taken;
        for (int p = base; p < base + 2; ++p) {
            taken.push_back(std::make_unique<QTcpServer>());
            QVERIFY(taken.back()->listen(kLoopback, quint16(p)));
        }
        DataChannel channel(kLoopback, EngineLimits{}, nullptr);
        // One port left of three: always found, whatever order is tried.
        for (int i = 0; i < 10; ++i) {
            channel.closeListener();
            QCOMPARE(channel.listenPassive(kLoopback, range(base, base + 2)).port,
                     quint16(base + 2));
        }
        taken.push_back(std::make_unique<QTcpServer>());
        channel.closeListener();
        QVERIFY(taken.back()->listen(kLoopback, quint16(base + 2)));
        const PassivePort full = channel.listenPassive(kLoopback, range(base, base + 2));
        QVERIFY(full.port == 0 && full.rangeBusy && !channel.isPassive());
        // A range of one busy port, the smallest demand that cannot be met.
        QVERIFY(channel.listenPassive(kLoopback, range(base, base)).rangeBusy);
    }

    void withoutARangeTheDynamicPortsThenAny() {
        DataChannel channel(kLoopback, EngineLimits{}, nullptr);
        const PassivePort opened = channel.listenPassive(kLoopback, PassiveSettings{});
        QVERIFY(opened.port >= 49152 && !opened.rangeBusy);
        // Dynamic ports all taken (a range of one, here): the kernel picks one.
        const quint16 base = freeRun(1);
        QTcpServer blocker;
        QVERIFY(blocker.listen(kLoopback, base));
        DataChannel fallback(
            kLoopback, EngineLimits{.passivePortFirst = base, .passivePortLast = base}, nullptr);
        const PassivePort any = fallback.listenPassive(kLoopback, PassiveSettings{});
        QVERIFY(any.port != 0 && any.port != base && !any.rangeBusy);
    }

    void otherFailuresAreNoBusyRange() {
        // An address this machine does not have fails at once, not as a busy range.
        DataChannel channel(kLoopback, EngineLimits{}, nullptr);
        const PassivePort opened =
            channel.listenPassive(QHostAddress("192.0.2.55"), range(40000, 40100));
        QVERIFY(opened.port == 0 && !opened.rangeBusy);
    }
};

QTEST_GUILESS_MAIN(TestDataChannel)
#include "test_datachannel.moc"
