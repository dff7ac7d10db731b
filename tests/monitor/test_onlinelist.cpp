#include "monitor/OnlineList.h"

#include "tests/support/FakeConnection.h"

#include <QTest>
#include <memory>

using namespace kv;
using namespace kv::monitor;
using kv::testing::FakeConnection;

namespace {

// Connections with records in a table of their own, as logins make them.
struct Clients {
    access::ConnectedUsers users;
    std::vector<std::unique_ptr<FakeConnection>> owned;
    QList<engine::ConnectionObject*> list;

    FakeConnection& add(const QString& user, const QString& password, const QString& host,
                        const QString& letters, bool loggedIn = true) {
        owned.push_back(std::make_unique<FakeConnection>(user, password, host));
        FakeConnection& c = *owned.back();
        if (loggedIn) {
            const qint32 index = users.Append();
            users.record(index)->setPermissions(letters);
            users.record(index)->setAddress(host + QChar(u'\0'));
            c.setTag(QString::number(index));
        }
        list.append(&c);
        return c;
    }
};

RootOf roots(const QHash<QString, QString>& byUser) {
    return [byUser](const engine::ConnectionObject& c) { return byUser.value(c.UserName()); };
}

} // namespace

class TestOnlineList : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rightsInWords() {
        const QString none = QStringLiteral("File: nessuno Cartelle: nessuno");
        QCOMPARE(EsplicitaPermessi("RWDBM"),
                 u"File: lettura scrittura cancellazione Cartelle: navigazione scrittura");
        QCOMPARE(EsplicitaPermessi(""), none);
        // The order of the letters does not matter; lower case letters are not rights.
        QCOMPARE(EsplicitaPermessi("MDR"), u"File: lettura cancellazione Cartelle: scrittura");
        QCOMPARE(EsplicitaPermessi("B"), u"File: nessuno Cartelle: navigazione");
        QCOMPARE(EsplicitaPermessi("rwdbm"), none);
    }

    void oneRowPerKeyInTheEngineOrder() {
        Clients clients;
        clients.add("mario", "pw1", "10.0.0.2", "RWDBM");
        clients.add("anna", "pw2", "10.0.0.3", "RB");
        clients.add("mario", "pw1", "10.0.0.2", "R"); // same key: not shown again
        clients.add("mario", "pw1", "10.0.0.9", "R");
        clients.add("", "", "10.0.0.7", "", false); // no login: record zero
        clients.add("Anonymous", "guest@example.com", "10.0.0.8", "R");
        clients.add("bruno", "", "10.0.0.8", "R");
        const QList<OnlineRow> rows = buildOnlineRows(
            clients.list, clients.users, roots({{"mario", "/srv/mario"}}), "/srv/default");
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
                "mario|********|10.0.0.9|/srv/mario|File: lettura Cartelle: nessuno",
                "|||/srv/default|File: nessuno Cartelle: nessuno",
                "Anonymous|guest@example.com|10.0.0.8|/srv/default|File: lettura Cartelle: nessuno",
                "bruno||10.0.0.8|/srv/default|File: lettura Cartelle: nessuno"}));
        QCOMPARE(rows[0].key, QStringLiteral("k10.0.0.2_mario_pw1"));
    }

    void disconnectFindsTheExactClient() {
        Clients clients;
        clients.add("mario", "pw", "10.0.0.2", "R");
        FakeConnection& target = clients.add("mario", "pw", "10.0.0.3", "R");
        clients.add("mario", "pw", "10.0.0.3", "R");
        QCOMPARE(connectionToDisconnect(clients.list, "k10.0.0.3_mario_pw"), &target);
        QCOMPARE(connectionToDisconnect(clients.list, "k10.0.0.3_mario_PW"), nullptr);
        QCOMPARE(connectionToDisconnect(clients.list, "k10.0.0.2_Mario_pw"), nullptr);
        // The row's key, not what the row shows; the same key selects its row again.
        const QList<OnlineRow> rows = buildOnlineRows(clients.list, clients.users, roots({}), "/");
        QCOMPARE(connectionToDisconnect(clients.list, rows[1].key), &target);
        QCOMPARE(reselect(rows, rows[1].key).row, 1);
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
