// The "Impostazioni" panel: its boxes bound to the settings row, the address
// list, "Reset", "Mostra IP" and the window mode.

#include "PanelTestHost.h"
#include "admin/ui/AdminPanels.h"
#include "admin/ui/SettingsPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

using kv::admin::Adapter;
using kv::testing::arrayChild;
using kv::testing::PanelTestHost;

class TestSettingsPanel : public QObject {
    Q_OBJECT

    std::unique_ptr<PanelTestHost> host;
    std::unique_ptr<QWidget> panel;

    void build(const QStringList& statements = {}) {
        host = std::make_unique<PanelTestHost>();
        host->exec(statements);
        host->core().views().openAll();
        panel = std::make_unique<QWidget>();
        kv::ui::buildSettingsPanel(panel.get(), *host);
        settingsPanel()->setAdapterSource([] {
            return QList<Adapter>{
                {false, {QStringLiteral("192.168.1.10")}},
                {true, {QStringLiteral("127.0.0.1")}},
                {false, {}},
                {false, {QStringLiteral("10.0.0.5"), QStringLiteral("10.0.0.6")}}};
        });
    }
    kv::ui::SettingsPanel* settingsPanel() { return panel->findChild<kv::ui::SettingsPanel*>(); }
    QComboBox* cboIP() { return panel->findChild<QComboBox*>(QStringLiteral("cboIP")); }
    QPushButton* button(const QString& name) { return panel->findChild<QPushButton*>(name); }
    QStringList entries() {
        QStringList out;
        for (int i = 0; i < cboIP()->count(); ++i)
            out.append(cboIP()->itemText(i));
        return out;
    }
    QString field(const QString& name) { return host->core().views().Data2().Field(name); }

private Q_SLOTS:
    void cleanup() {
        panel.reset();
        host.reset();
    }

    void addressListKeepsTheSavedAddress() {
        build({QStringLiteral("UPDATE settings SET ip='172.16.0.1'")});
        QCOMPARE(entries().first(), QStringLiteral("Default"));
        QCOMPARE(entries().last(), QStringLiteral("172.16.0.1"));
        QCOMPARE(cboIP()->currentText(), QStringLiteral("172.16.0.1"));
        QVERIFY(!button(QStringLiteral("cmdMostraIP"))->isEnabled());

        settingsPanel()->CaricaIP(true);
        QCOMPARE(entries(), (QStringList{"Default", "192.168.1.10", "10.0.0.5", "172.16.0.1"}));
        settingsPanel()->CaricaIP(false);
        QCOMPARE(entries().size(), 4);
        QCOMPARE(field(QStringLiteral("ip")), QStringLiteral("172.16.0.1"));
        QVERIFY(!host->core().views().Data2().isDirty());
    }

    void anEmptyAddressBecomesDefault() {
        build({QStringLiteral("UPDATE settings SET ip=''")});
        QCOMPARE(cboIP()->currentText(), QStringLiteral("Default"));
        QCOMPARE(field(QStringLiteral("ip")), QStringLiteral("Default"));
        QVERIFY(button(QStringLiteral("cmdMostraIP"))->isEnabled());
    }

    void resetKeepsTheTypedAddressInTheList() {
        build();
        cboIP()->setEditText(QStringLiteral("9.9.9.9"));
        QCOMPARE(field(QStringLiteral("ip")), QStringLiteral("9.9.9.9"));
        QVERIFY(!button(QStringLiteral("cmdMostraIP"))->isEnabled());
        button(QStringLiteral("cmdResetIP"))->click();
        QCOMPARE(entries(), (QStringList{"Default", "192.168.1.10", "10.0.0.5", "9.9.9.9"}));
        QCOMPARE(cboIP()->currentText(), QStringLiteral("Default"));
        QCOMPARE(field(QStringLiteral("ip")), QStringLiteral("Default"));
        QVERIFY(button(QStringLiteral("cmdMostraIP"))->isEnabled());
        host->core().views().commitAll();
        QCOMPARE(host->column(QStringLiteral("SELECT ip FROM settings")), QStringList{"Default"});
    }

    void pickingAnEntryUpdatesMostraIp() {
        build({QStringLiteral("UPDATE settings SET ip='5.6.7.8'")});
        cboIP()->setEditText(QStringLiteral("DEFAULT"));
        QVERIFY(button(QStringLiteral("cmdMostraIP"))->isEnabled());
        cboIP()->setCurrentIndex(entries().indexOf(QStringLiteral("5.6.7.8")));
        QVERIFY(!button(QStringLiteral("cmdMostraIP"))->isEnabled());
        QCOMPARE(field(QStringLiteral("ip")), QStringLiteral("5.6.7.8"));
    }

    void mostraIpShowsTheAddressInUse() {
        build({QStringLiteral("UPDATE settings SET ip='DEFAULT', port='2121'")});
        button(QStringLiteral("cmdMostraIP"))->click();
        QCOMPARE(host->recorder.shown.last().first, host->engineAddress);
        QCOMPARE(host->recorder.shown.last().second, kv::MessageIcon::None);

        cboIP()->setEditText(QStringLiteral("4.4.4.4"));
        settingsPanel()->cmdMostraIP_Click();
        QCOMPARE(host->recorder.texts().last(), QStringLiteral("4.4.4.4"));

        QVERIFY(host->core().server().ServerStart());
        cboIP()->setEditText(QStringLiteral("default"));
        settingsPanel()->cmdMostraIP_Click();
        QCOMPARE(host->recorder.texts().last(), QStringLiteral("4.4.4.4")); // the running engine's
        host->core().server().ServerStop();
        settingsPanel()->cmdMostraIP_Click();
        QCOMPARE(host->recorder.texts().last(), host->engineAddress);
    }

    void windowMode_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("option");
        QTest::newRow("-1") << QStringLiteral("-1") << 1;
        QTest::newRow("0") << QStringLiteral("0") << 0;
        QTest::newRow("1") << QStringLiteral("1") << 1;
    }
    void windowMode() {
        QFETCH(QString, stored);
        QFETCH(int, option);
        build({QStringLiteral("UPDATE settings SET minimized='%1'").arg(stored)});
        auto* normal = arrayChild<QRadioButton>(panel.get(), QStringLiteral("optWindow"), 0);
        auto* minimized = arrayChild<QRadioButton>(panel.get(), QStringLiteral("optWindow"), 1);
        QCOMPARE(normal->isChecked(), option == 0);
        QCOMPARE(minimized->isChecked(), option == 1);
        QCOMPARE(field(QStringLiteral("minimized")), stored); // showing it changes nothing

        normal->click();
        QCOMPARE(field(QStringLiteral("minimized")), QStringLiteral("0"));
        minimized->click();
        QCOMPARE(field(QStringLiteral("minimized")), QStringLiteral("1"));
        normal->click();
        host->core().views().commitAll();
        QCOMPARE(host->column(QStringLiteral("SELECT minimized FROM settings")), QStringList{"0"});
    }

    void boxesEditTheSettingsRow() {
        build();
        auto* port = panel->findChild<QComboBox*>(QStringLiteral("cboPorta"));
        auto* timeout = panel->findChild<QLineEdit*>(QStringLiteral("Text2"));
        auto* root = panel->findChild<QLineEdit*>(QStringLiteral("txtRoot"));
        auto* start = panel->findChild<QCheckBox*>(QStringLiteral("chkStart"));
        QCOMPARE(port->currentText(), QStringLiteral("21"));
        QCOMPARE(timeout->text(), QStringLiteral("180"));
        port->setEditText(QStringLiteral("2121"));
        timeout->setText(QStringLiteral("60"));
        start->click();
        host->pickerAnswer = QString();
        button(QStringLiteral("cmdBrowseRoot"))->click();
        QCOMPARE(root->text(), QString());
        host->pickerAnswer = QStringLiteral("/srv");
        button(QStringLiteral("cmdBrowseRoot"))->click();
        QCOMPARE(host->pickerCalls.last().prompt, QStringLiteral("Seleziona la root di default:"));
        host->core().views().commitAll();
        QCOMPARE(host->column(QStringLiteral(
                     "SELECT port||'|'||timeout||'|'||rootdir||'|'||start FROM settings")),
                 QStringList{"2121|60|/srv|1"});
        // The server start reads the same row.
        QVERIFY(host->core().server().ServerStart());
        QCOMPARE(host->mainEngine->Port(), qint16(2121));
        QCOMPARE(host->mainEngine->ServerRootDir(), QStringLiteral("/srv"));
    }
};

QTEST_MAIN(TestSettingsPanel)
#include "test_settingspanel.moc"
