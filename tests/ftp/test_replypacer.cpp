// The reply pacer: work runs at its moment, never before, in the order of
// the moments (work of one moment in the order queued); a moment already
// past is refused so that the caller acts at once; work whose owner is gone
// is dropped; work may queue more; the addresses to pace are remembered up
// to a bound, past which the memory starts again.

#include "ftp/ReplyPacer.h"

#include <QTest>

#include <memory>

using namespace kv::ftp;

namespace {
constexpr qint64 kMs = 1'000'000; // nanoseconds
} // namespace

class TestReplyPacer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void workRunsAtItsMomentInOrder() {
        ReplyPacer pacer;
        QStringList ran;
        QList<qint64> early; // how long before its moment each ran, if it did
        // Far enough ahead that a busy machine cannot let a moment pass
        // before it is queued.
        const qint64 start = ReplyPacer::now() + 200 * kMs;
        const std::pair<qint64, const char*> queued[] = {
            {3 * kMs, "third"}, {kMs / 2, "first"}, {2 * kMs, "second"}, {2 * kMs, "second too"}};
        for (const auto& entry : queued) {
            const qint64 due = start + entry.first;
            const char* name = entry.second;
            QVERIFY(pacer.runAt(due, &pacer, [&ran, &early, due, name] {
                if (ReplyPacer::now() < due)
                    early << due - ReplyPacer::now();
                ran << QString::fromLatin1(name);
            }));
        }
        QCOMPARE(pacer.waiting(), 4);
        QTRY_COMPARE(ran, QStringList({"first", "second", "second too", "third"}));
        QCOMPARE(early, QList<qint64>());
        QCOMPARE(pacer.waiting(), 0);
    }

    void aMomentPastIsLeftToTheCaller() {
        ReplyPacer pacer;
        int ran = 0;
        QVERIFY(!pacer.runAt(ReplyPacer::now(), &pacer, [&ran] { ++ran; }));
        QVERIFY(!pacer.runAt(ReplyPacer::now() - kMs, &pacer, [&ran] { ++ran; }));
        QCOMPARE(pacer.waiting(), 0);
        // A later one still runs, and alone.
        QVERIFY(pacer.runAt(ReplyPacer::now() + 50 * kMs, &pacer, [&ran] { ran += 10; }));
        QTRY_COMPARE(ran, 10);
    }

    void workOfAGoneOwnerIsDropped() {
        ReplyPacer pacer;
        auto session = std::make_unique<QObject>();
        QStringList ran;
        const qint64 start = ReplyPacer::now() + 200 * kMs;
        QVERIFY(pacer.runAt(start + kMs, session.get(), [&ran] { ran << "gone"; }));
        QVERIFY(pacer.runAt(start + 2 * kMs, &pacer, [&ran] { ran << "kept"; }));
        session.reset();
        QTRY_COMPARE(ran, QStringList({"kept"}));
        QCOMPARE(pacer.waiting(), 0);
    }

    void workMayQueueMore() {
        ReplyPacer pacer;
        QStringList ran;
        QVERIFY(pacer.runAt(ReplyPacer::now() + 50 * kMs, &pacer, [&pacer, &ran] {
            ran << "first";
            const bool queued =
                pacer.runAt(ReplyPacer::now() + 50 * kMs, &pacer, [&ran] { ran << "second"; });
            ran << (queued ? "queued" : "refused");
        }));
        QTRY_COMPARE(ran, QStringList({"first", "queued", "second"}));
    }

    void lateLookersAreRememberedUpToABound() {
        ReplyPacer pacer;
        const auto address = [](int n) { return QHostAddress(quint32(0x7f000000 + n)); };
        QVERIFY(!pacer.isLateLooker(address(1)));
        for (int n = 1; n <= 1024; ++n)
            pacer.noteLateLooker(address(n));
        QVERIFY(pacer.isLateLooker(address(1)) && pacer.isLateLooker(address(1024)));
        QVERIFY(!pacer.isLateLooker(QHostAddress(QStringLiteral("::1"))));
        pacer.noteLateLooker(address(1025));
        QVERIFY(pacer.isLateLooker(address(1025)));
        QVERIFY(!pacer.isLateLooker(address(1)));
    }
};

QTEST_GUILESS_MAIN(TestReplyPacer)
#include "test_replypacer.moc"
