// The bus's news of one transfer: started, progress while someone listens,
// finished, and nothing after.
#include "session/TransferNews.h"

#include <QSignalSpy>
#include <QTest>

using namespace kv;

class TestTransferNews : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void progressIsToldWhileSomeoneListensAndEndsWithTheTransfer() {
        events::ServerEvents bus;
        QSignalSpy started(&bus, &events::ServerEvents::transferStarted);
        QSignalSpy progress(&bus, &events::ServerEvents::transferProgress);
        QSignalSpy finished(&bus, &events::ServerEvents::transferFinished);
        qint64 bytes = 0;
        session::TransferNews news(&bus, [&] {
            events::TransferEvent e;
            e.clientPath = QStringLiteral("/a.bin");
            e.bytes = bytes;
            return e;
        });
        news.started();
        QCOMPARE(started.size(), 1);
        bytes = 4096;
        QVERIFY(progress.wait(3 * session::TransferNews::kProgressMs));
        QCOMPARE(progress.last().first().value<events::TransferEvent>().bytes, 4096);
        events::TransferEvent end;
        end.outcome = events::TransferOutcome::Complete;
        news.finished(end);
        QCOMPARE(finished.size(), 1);
        const qsizetype told = progress.size();
        QTest::qWait(session::TransferNews::kProgressMs + 200);
        QCOMPARE(progress.size(), told);
    }

    void startedAndProgressNewsCarryTheLimitInForceThen() {
        events::ServerEvents bus;
        QSignalSpy started(&bus, &events::ServerEvents::transferStarted);
        QSignalSpy progress(&bus, &events::ServerEvents::transferProgress);
        qint64 limit = 10 * 1024 * 1024;
        session::TransferNews news(&bus, [] { return events::TransferEvent{}; });
        news.setLimit([&] { return limit; });
        news.started();
        QCOMPARE(started.first().first().value<events::TransferEvent>().limitBytesPerSecond,
                 10 * 1024 * 1024);
        limit = 0; // the limit was lifted meanwhile
        QVERIFY(progress.wait(3 * session::TransferNews::kProgressMs));
        QCOMPARE(progress.last().first().value<events::TransferEvent>().limitBytesPerSecond, 0);
        news.stop();
    }

    void nobodyListeningMeansNoProgress() {
        events::ServerEvents bus;
        QSignalSpy started(&bus, &events::ServerEvents::transferStarted);
        session::TransferNews news(&bus, [] { return events::TransferEvent{}; });
        news.started();
        QCOMPARE(started.size(), 1);
        QVERIFY(!bus.progressWanted());
        // Without a listener there is no timer to fire at all.
        QVERIFY(!news.findChild<QTimer*>() || !news.findChild<QTimer*>()->isActive());
    }
};

QTEST_GUILESS_MAIN(TestTransferNews)
#include "test_transfernews.moc"
