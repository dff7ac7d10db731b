#include "monitor/OnlineList.h"

#include "tests/support/FakeConnection.h"

#include <QTest>
#include <memory>

using namespace kv;
using namespace kv::monitor;
using kv::testing::FakeConnection;

namespace {

// Connections as the engine lists them, logged in with a grant (root and
// rights) unless told otherwise.
struct Clients {
    std::vector<std::unique_ptr<FakeConnection>> owned;
    QList<engine::ConnectionObject*> list;

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
                "bruno||10.0.0.8|/srv/default|File: lettura Cartelle: nessuno"}));
        QSet<QString> keys;
        for (const OnlineRow& row : rows)
            keys.insert(row.key);
        QCOMPARE(keys.size(), rows.size());
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

    void columnWidthsSurviveARestart() {
        MemorySettingsStore settings;
        const ColumnWidths saved = {1000, 2000, 3000, 1500, 500};
        saveColumnWidths(settings, saved);
        QCOMPARE(settings.value(kAppTarrow, kSectionAppIni, "OnlineCol3"), QStringLiteral("3000"));
        const ColumnWidths design = {1440, 1440, 1440, 1440, 1440};
        QCOMPARE(loadColumnWidths(settings, design), saved);
        QCOMPARE(loadColumnWidths(MemorySettingsStore(), design), design); // nothing saved
        // A width that cannot be read keeps its column's design width.
        settings.setValue(kAppTarrow, kSectionAppIni, "OnlineCol1", "abc");
        settings.setValue(kAppTarrow, kSectionAppIni, "OnlineCol2", "-50");
        settings.setValue(kAppTarrow, kSectionAppIni, "OnlineCol3", "1234.5");
        QCOMPARE(loadColumnWidths(settings, design), (ColumnWidths{1440, 1440, 1234.5, 1500, 500}));
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
};

QTEST_GUILESS_MAIN(TestOnlineList)
#include "test_onlinelist.moc"
