// The online panel's logic: its rows, the connection a row disconnects, its
// column widths, and the transfer rates, their texts and graph.

#include "monitor/OnlineList.h"
#include "monitor/TransferRates.h"

#include "tests/support/FakeConnection.h"

#include <QTest>
#include <memory>

using namespace kv;
using namespace kv::monitor;
using kv::testing::FakeConnection;
using Direction = kv::session::TransferActivity::Direction;

namespace {

// Connections as the engine lists them, logged in with a grant (root and
// rights) unless told otherwise.
struct Clients {
    std::vector<std::unique_ptr<FakeConnection>> owned;
    QList<kv::session::ConnectionObject*> list;

    FakeConnection& add(const QString& user, const QString& password, const QString& host,
                        const QString& letters, bool loggedIn = true, const QString& root = {}) {
        owned.push_back(std::make_unique<FakeConnection>(user, password, host));
        FakeConnection& c = *owned.back();
        if (loggedIn) {
            auto grant = std::make_shared<files::LoginGrant>();
            grant->login = user;
            grant->rights = files::Rights::fromLetters(letters);
            grant->root = root;
            grant->address = host;
            c.setGrant(std::move(grant));
        }
        list.append(&c);
        return c;
    }
};

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

class TestOnlineList : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // All five rights together, and none, are shown in the rows of the next test.
    void rightsInWords() {
        // The order of the letters does not matter; lower case letters are not rights.
        QCOMPARE(EsplicitaPermessi("MDR"), u"File: lettura cancellazione Cartelle: scrittura");
        QCOMPARE(EsplicitaPermessi("B"), u"File: nessuno Cartelle: navigazione");
        QCOMPARE(EsplicitaPermessi("rwdbm"), u"File: nessuno Cartelle: nessuno");
    }

    void oneRowPerConnectionInTheEngineOrder() {
        Clients clients;
        clients.add("mario", "pw1", "10.0.0.2", "RWDBM", true, "/srv/mario");
        clients.add("anna", "pw2", "10.0.0.3", "RB");
        // The same account twice from one address: two rows of their own.
        clients.add("mario", "pw1", "10.0.0.2", "R", true, "/srv/mario");
        clients.add("", "", "10.0.0.7", "", false); // no login yet: no rights
        clients.add("Anonymous", "guest@example.com", "10.0.0.8", "R");
        clients.add("bruno", "", "10.0.0.8", "R");
        // A refused login says why, and shows no root.
        clients.add("carla", "nope", "10.0.0.9", "", false).setRefused("password errata");
        const QList<OnlineRow> rows = buildOnlineRows(clients.list, "/srv/default");
        QStringList shown;
        for (const OnlineRow& row : rows)
            shown << QStringList(row.columns.begin(), row.columns.end()).join('|');
        // Passwords are masked; the anonymous account's e-mail address shows.
        QCOMPARE(
            shown,
            (QStringList{
                "mario|********|10.0.0.2|/srv/mario|File: lettura scrittura "
                "cancellazione Cartelle: navigazione scrittura",
                "anna|********|10.0.0.3|/srv/default|File: lettura Cartelle: navigazione",
                "mario|********|10.0.0.2|/srv/mario|File: lettura Cartelle: nessuno",
                "|||/srv/default|File: nessuno Cartelle: nessuno",
                "Anonymous|guest@example.com|10.0.0.8|/srv/default|File: lettura Cartelle: nessuno",
                "bruno||10.0.0.8|/srv/default|File: lettura Cartelle: nessuno",
                "carla|********|10.0.0.9||Login rifiutato: password errata"}));
    }

    void disconnectFindsTheExactConnection() {
        Clients clients;
        clients.add("mario", "pw", "10.0.0.2", "R");
        FakeConnection& target = clients.add("mario", "pw", "10.0.0.3", "R");
        FakeConnection& twin = clients.add("mario", "pw", "10.0.0.3", "R");
        const QList<OnlineRow> rows = buildOnlineRows(clients.list, "/");
        QCOMPARE(connectionToDisconnect(clients.list, rows[1].key), &target);
        QCOMPARE(connectionToDisconnect(clients.list, rows[2].key), &twin);
        QCOMPARE(connectionToDisconnect(clients.list, "k10.0.0.3_mario_pw"), nullptr);
        // A connection gone from the engine is found no more.
        clients.list.removeAll(&target);
        QCOMPARE(connectionToDisconnect(clients.list, rows[1].key), nullptr);
        QCOMPARE(reselect(rows, rows[2].key).row, 2);
    }

    // Widths saved and read back at the next start: test_onlinepanel.
    void unreadableColumnWidthsKeepTheDesign() {
        MemorySettingsStore settings;
        const ColumnWidths design = {1440, 1440, 1440, 1440, 1440};
        QCOMPARE(loadColumnWidths(settings, design), design); // nothing saved
        settings.setValue(kAppTarrow, kSectionAppIni, "OnlineCol1", "abc");
        settings.setValue(kAppTarrow, kSectionAppIni, "OnlineCol2", "-50");
        settings.setValue(kAppTarrow, kSectionAppIni, "OnlineCol3", "1234.5");
        QCOMPARE(loadColumnWidths(settings, design),
                 (ColumnWidths{1440, 1440, 1234.5, 1440, 1440}));
    }

    void columnsScaleWithTheList() {
        ColumnScaler scaler;
        const ColumnWidths w = {1000, 2000, 3000, 1500, 500};
        QCOMPARE(scaler.adapt(6000, w), w); // the first call only remembers the width
        const ColumnWidths grown = {1500, 3000, 4500, 2250, 750};
        QCOMPARE(scaler.adapt(9000, w), grown);
        QCOMPARE(scaler.adapt(9000, grown), grown);
        QCOMPARE(scaler.adapt(3000, grown), (ColumnWidths{500, 1000, 1500, 750, 250}));
    }

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

    // Peaks against the 1-2-5 steps of the graph's scale.
    void scaleRoundsUp() {
        const double KB = 1024, MB = KB * KB;
        for (const auto& [peak, scale] : {std::pair{0.0, KB},
                                          {KB + 1, 2 * KB},
                                          {2 * KB + 1, 5 * KB},
                                          {5 * KB + 1, 10 * KB},
                                          {100 * KB, 100 * KB},
                                          {1000 * KB, MB},
                                          {3 * MB, 5 * MB}}) {
            TransferRates rates;
            rates.sample({reading(A, 0, 0)}, 0);
            rates.sample({reading(A, 0, qint64(peak))}, 1000);
            QCOMPARE(rates.scale(), scale);
        }
    }

    void texts() {
        const double KB = 1024;
        for (const auto& [value, rate, bytes] : {std::tuple{0.0, "0 B/s", "0 B"},
                                                 {980.4, "980 B/s", "980 B"},
                                                 {12.5 * KB, "12,5 KB/s", "12,5 KB"},
                                                 {3.44 * KB * KB, "3,4 MB/s", "3,4 MB"},
                                                 {-5.0, "0 B/s", "0 B"}}) {
            QCOMPARE(monitor::rateText(value), QString(rate));
            QCOMPARE(monitor::byteText(qint64(value)), QString(bytes));
        }
    }

    // A download's columns, none without a transfer and the totals: test_onlinepanel.
    void liveColumnsOfAnUploadOfUnknownSize() {
        kv::session::TransferActivity a;
        a.direction = Direction::Upload;
        a.size = -1;
        QCOMPARE(monitor::liveColumns(a, 0)[1], QString("Upload"));
        QCOMPARE(monitor::liveColumns(a, 0)[4], QString());
    }

    // A limited transfer's speed with its limit beside it; none without one.
    void liveSpeedWithItsLimit() {
        kv::session::TransferActivity a;
        a.direction = Direction::Download;
        QCOMPARE(monitor::liveColumns(a, 3 << 20, 5 << 20)[3],
                 QString("3,0 MB/s (limite 5,0 MB/s)"));
        QCOMPARE(monitor::liveColumns(a, 512, 0)[3], QString("512 B/s"));
        a.direction = Direction::None;
        QCOMPARE(monitor::liveColumns(a, 0, 5 << 20)[3], QString());
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

QTEST_GUILESS_MAIN(TestOnlineList)
#include "test_onlinelist.moc"
