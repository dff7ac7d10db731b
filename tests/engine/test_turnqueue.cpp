// TurnQueue: posted work runs in order from the event loop, slow items one
// per pass with other events served in between, and an owner that is gone
// takes its items with it.
#include "engine/TurnQueue.h"

#include <QTest>

using kv::engine::TurnQueue;

class TestTurnQueue : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void runsInOrderAndSkipsGoneOwners() {
        TurnQueue queue;
        QObject owner;
        auto* gone = new QObject;
        QStringList ran;
        for (const char* name : {"a", "b", "c"})
            queue.post(name == QByteArray("b") ? gone : &owner, [&ran, name] { ran << name; });
        QVERIFY(ran.isEmpty()); // never from inside post()
        delete gone;
        QTRY_COMPARE(queue.waiting(), 0);
        QCOMPARE(ran, (QStringList{"a", "c"}));
    }

    void slowItemsLetOtherEventsIn() {
        TurnQueue queue;
        QObject owner;
        QStringList ran;
        // Three items of 5 ms each, and an event posted meanwhile from the
        // first: it is served before the last item runs.
        for (int i = 0; i < 3; ++i) {
            queue.post(&owner, [&ran, i, this] {
                ran << QString::number(i);
                if (i == 0)
                    QMetaObject::invokeMethod(
                        this, [&ran] { ran << "other"; }, Qt::QueuedConnection);
                QTest::qSleep(5); // stands for hashing a password: the thread is busy
            });
        }
        QTRY_COMPARE(queue.waiting(), 0);
        QVERIFY2(ran.indexOf("other") > 0 && ran.indexOf("other") < 3, qPrintable(ran.join(',')));
    }
};

QTEST_GUILESS_MAIN(TestTurnQueue)
#include "test_turnqueue.moc"
