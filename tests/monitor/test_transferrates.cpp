#include "monitor/TransferRates.h"

#include <QTest>

using namespace kv;
using monitor::RatePoint;
using monitor::TransferRates;
using Direction = engine::TransferActivity::Direction;

namespace {

// Keys for the fake connections: only their addresses matter.
const int connectionA = 0, connectionB = 0;
const TransferRates::Key A = &connectionA, B = &connectionB;

TransferRates::Reading reading(TransferRates::Key key, qint64 sent, qint64 received) {
    TransferRates::Reading r;
    r.connection = key;
    r.activity.sentTotal = sent;
    r.activity.receivedTotal = received;
    return r;
}

} // namespace

class TestTransferRates : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ratesFromCounters() {
        TransferRates rates;
        rates.sample({reading(A, 5000, 0)}, 1000);
        QVERIFY(rates.history().empty()); // the first poll is the baseline only
        QCOMPARE(rates.rateOf(A), 0.0);

        rates.sample({reading(A, 7000, 100), reading(B, 300, 4000)}, 2000);
        QCOMPARE(rates.rateOf(A), 2100.0);
        QCOMPARE(rates.rateOf(B), 4300.0); // new: all it moved so far
        QCOMPARE(rates.total(), (RatePoint{2300, 4100}));

        // Half a second: twice the rate. B gone: not counted; A's counters went
        // back: another connection at the same address, counted from zero.
        rates.sample({reading(A, 500, 0)}, 2500);
        QCOMPARE(rates.rateOf(A), 1000.0);
        QCOMPARE(rates.rateOf(B), 0.0);
        QCOMPARE(rates.total(), (RatePoint{1000, 0}));
        QCOMPARE(rates.history().size(), size_t(2));

        rates.clear();
        rates.sample({reading(A, 9000, 0)}, 3000);
        QVERIFY(rates.history().empty());
    }

    void historyKeepsFiveMinutesAndScales() {
        TransferRates rates;
        qint64 sent = 0;
        rates.sample({reading(A, sent, 0)}, 0);
        for (int second = 1; second <= 400; ++second) {
            sent += second * 10; // rate of `second` * 10 B/s
            rates.sample({reading(A, sent, 0)}, second * 1000);
        }
        QCOMPARE(rates.history().size(), size_t(monitor::kRateHistoryPoints));
        QCOMPARE(rates.history().front().down, 1010.0); // seconds 101..400 are kept
        QCOMPARE(rates.history().back().down, 4000.0);
        QCOMPARE(rates.scale(), 5120.0);
    }

    void scaleRoundsUp_data() {
        QTest::addColumn<double>("peak");
        QTest::addColumn<double>("scale");
        QTest::newRow("idle: 1 KB/s") << 0.0 << 1024.0;
        QTest::newRow("2 KB/s") << 1025.0 << 2048.0;
        QTest::newRow("5 KB/s") << 2049.0 << 5120.0;
        QTest::newRow("10 KB/s") << 5121.0 << 10240.0;
        QTest::newRow("exact power") << 100.0 * 1024 << 100.0 * 1024;
        QTest::newRow("next unit") << 1000.0 * 1024 << 1024.0 * 1024;
        QTest::newRow("MB/s") << 3.0 * 1024 * 1024 << 5.0 * 1024 * 1024;
    }
    void scaleRoundsUp() {
        QFETCH(double, peak);
        QFETCH(double, scale);
        TransferRates rates;
        rates.sample({reading(A, 0, 0)}, 0);
        rates.sample({reading(A, 0, qint64(peak))}, 1000);
        QCOMPARE(rates.scale(), scale);
    }

    void texts_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("bytes");
        const auto row = [](const char* name, double value, const char* rate, const char* bytes) {
            QTest::newRow(name) << value << QString(rate) << QString(bytes);
        };
        row("zero", 0.0, "0 B/s", "0 B");
        row("below 1 KB", 980.4, "980 B/s", "980 B");
        row("KB with comma", 12.5 * 1024, "12,5 KB/s", "12,5 KB");
        row("MB", 3.44 * 1024 * 1024, "3,4 MB/s", "3,4 MB");
        row("negative is zero", -5.0, "0 B/s", "0 B");
    }
    void texts() {
        QFETCH(double, value);
        QFETCH(QString, rate);
        QFETCH(QString, bytes);
        QCOMPARE(monitor::rateText(value), rate);
        QCOMPARE(monitor::byteText(qint64(value)), bytes);
    }

    void liveColumnsOfATransfer() {
        engine::TransferActivity a;
        QCOMPARE(monitor::liveColumns(a, 0), (std::array<QString, monitor::kLiveColumns>{}));
        a.direction = Direction::Download;
        a.path = "/film.mkv";
        a.bytes = 3 * 1024 * 1024;
        a.size = 4 * 1024 * 1024;
        QCOMPARE(monitor::liveColumns(a, 1536),
                 (std::array<QString, monitor::kLiveColumns>{"/film.mkv", "Download", "3,0 MB",
                                                             "1,5 KB/s", "75%"}));
        a.direction = Direction::Upload;
        a.size = -1; // an upload's size is not known
        QCOMPARE(monitor::liveColumns(a, 0)[1], QString("Upload"));
        QCOMPARE(monitor::liveColumns(a, 0)[4], QString());
        QCOMPARE(monitor::totalRatesText({2048, 512}),
                 QString("Upload: 512 B/s  Download: 2,0 KB/s"));
    }

    void graphLineRunsRightToLeft() {
        std::deque<RatePoint> history{{100, 0}, {200, 50}, {400, 0}};
        const QRectF area(10, 20, 299, 100); // one pixel a second
        const QList<QPointF> down = monitor::graphLine(history, false, area, 200);
        QCOMPARE(down, (QList<QPointF>{{307, 70}, {308, 20}, {309, 20}})); // clipped at the top
        QCOMPARE(monitor::graphLine(history, true, area, 200)[1], QPointF(308, 95));
        QVERIFY(monitor::graphLine({}, true, area, 200).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTransferRates)
#include "test_transferrates.moc"
