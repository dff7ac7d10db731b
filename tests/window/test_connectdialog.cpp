// "Connetti a un server...": the recent servers kept newest first and at
// most eight, a recent server bringing its port, an address that cannot be
// read refused in the dialog with the reason.
#include "window/ConnectDialog.h"

#include "settings/SettingsStore.h"

#include <QComboBox>
#include <QLabel>
#include <QSpinBox>
#include <QTest>

using namespace kv;

class TestConnectDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void recentServersNewestFirst() {
        MemorySettingsStore store;
        for (int port = 1; port <= 10; ++port)
            ui::rememberRecentServer(store, {QStringLiteral("nas"), quint16(port)});
        ui::rememberRecentServer(store, {QStringLiteral("::1"), 5});
        const QStringList recent = ui::recentServers(store);
        QCOMPARE(recent.size(), ui::kRecentServers);
        QCOMPARE(recent.mid(0, 3), (QStringList{"[::1]:5", "nas:10", "nas:9"}));
    }

    void chosenServer_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("chosen"); // empty: refused
        QTest::newRow("recent, its port") << "[::1]:15000"
                                          << "[::1]:15000";
        QTest::newRow("name only, default port") << "nas.local"
                                                 << "nas.local:14021";
        QTest::newRow("bare IPv6") << "fe80::1"
                                   << "[fe80::1]:14021";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("bad port") << "nas:99999"
                                  << "";
    }
    void chosenServer() {
        QFETCH(QString, typed);
        QFETCH(QString, chosen);
        ui::ConnectDialog dialog({});
        dialog.findChild<QComboBox*>("cboServer")->setCurrentText(typed);
        dialog.accept();
        QCOMPARE(dialog.result() == QDialog::Accepted, !chosen.isEmpty());
        if (!chosen.isEmpty())
            QCOMPARE(dialog.server().text(), chosen);
        else
            QVERIFY(!dialog.findChild<QLabel*>("lblProblem")->text().isEmpty());
    }
};

QTEST_MAIN(TestConnectDialog)
#include "test_connectdialog.moc"
