// The "Impostazioni" panel: its boxes bound to the settings row, the address
// list, "Reset", "Mostra IP" and the window mode.

#include "admin/ui/AdminPanels.h"
#include "admin/ui/SettingsPanel.h"
#include "tests/support/PanelFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

using namespace Qt::StringLiterals;

using kv::admin::Adapter;
using kv::testing::PanelTestHost;

class TestSettingsPanel : public QObject {
    Q_OBJECT

    kv::testing::PanelFixture<kv::ui::SettingsPanel> f{&kv::ui::buildSettingsPanel};
    PanelTestHost* host = nullptr;

    void build(const QStringList& statements = {}) {
        f.build(statements).setAdapterSource([] {
            return QList<Adapter>{{false, {u"192.168.1.10"_s}},
                                  {true, {u"127.0.0.1"_s}},
                                  {false, {}},
                                  {false, {u"10.0.0.5"_s, u"10.0.0.6"_s}}};
        });
        host = f.host.get();
    }
    kv::ui::SettingsPanel* settingsPanel() { return f.built; }
    QComboBox* cboIP() { return f.child<QComboBox>(u"cboIP"_s); }
    QPushButton* button(const QString& name) { return f.child<QPushButton>(name); }
    QStringList entries() {
        QStringList out;
        for (int i = 0; i < cboIP()->count(); ++i)
            out.append(cboIP()->itemText(i));
        return out;
    }
    QString field(const QString& name) { return host->core().views().Data2().Field(name); }

private Q_SLOTS:
    void cleanup() { f.reset(); }

    void addressListKeepsTheSavedAddress() {
        build({u"UPDATE settings SET ip='172.16.0.1'"_s});
        QCOMPARE(entries().first(), u"Default"_s);
        QCOMPARE(entries().last(), u"172.16.0.1"_s);
        QCOMPARE(cboIP()->currentText(), u"172.16.0.1"_s);
        QVERIFY(!button(u"cmdMostraIP"_s)->isEnabled());

        settingsPanel()->CaricaIP(true);
        QCOMPARE(entries(), (QStringList{"Default", "192.168.1.10", "10.0.0.5", "172.16.0.1"}));
        settingsPanel()->CaricaIP(false);
        QCOMPARE(entries().size(), 4);
        QCOMPARE(field(u"ip"_s), u"172.16.0.1"_s);
        QVERIFY(!host->core().views().Data2().isDirty());
    }

    void anEmptyAddressBecomesDefault() {
        build({u"UPDATE settings SET ip=''"_s});
        QCOMPARE(cboIP()->currentText(), u"Default"_s);
        QCOMPARE(field(u"ip"_s), u"Default"_s);
        QVERIFY(button(u"cmdMostraIP"_s)->isEnabled());
    }

    void resetKeepsTheTypedAddressInTheList() {
        build();
        cboIP()->setEditText(u"9.9.9.9"_s);
        QCOMPARE(field(u"ip"_s), u"9.9.9.9"_s);
        QVERIFY(!button(u"cmdMostraIP"_s)->isEnabled());
        button(u"cmdResetIP"_s)->click();
        QCOMPARE(entries(), (QStringList{"Default", "192.168.1.10", "10.0.0.5", "9.9.9.9"}));
        QCOMPARE(cboIP()->currentText(), u"Default"_s);
        QCOMPARE(field(u"ip"_s), u"Default"_s);
        QVERIFY(button(u"cmdMostraIP"_s)->isEnabled());
        host->core().views().commitAll();
        QCOMPARE(host->column(u"SELECT ip FROM settings"_s), QStringList{"Default"});
    }

    void pickingAnEntryUpdatesMostraIp() {
        build({u"UPDATE settings SET ip='5.6.7.8'"_s});
        cboIP()->setEditText(u"DEFAULT"_s);
        QVERIFY(button(u"cmdMostraIP"_s)->isEnabled());
        cboIP()->setCurrentIndex(entries().indexOf(u"5.6.7.8"_s));
        QVERIFY(!button(u"cmdMostraIP"_s)->isEnabled());
        QCOMPARE(field(u"ip"_s), u"5.6.7.8"_s);
    }

    void mostraIpShowsTheAddressInUse() {
        build({u"UPDATE settings SET ip='DEFAULT', port='2121'"_s});
        button(u"cmdMostraIP"_s)->click();
        QCOMPARE(host->recorder.shown.last().first, host->engineAddress);
        QCOMPARE(host->recorder.shown.last().second, kv::MessageIcon::None);

        cboIP()->setEditText(u"4.4.4.4"_s);
        settingsPanel()->cmdMostraIP_Click();
        QCOMPARE(host->recorder.texts().last(), u"4.4.4.4"_s);

        QVERIFY(host->core().server().ServerStart());
        cboIP()->setEditText(u"default"_s);
        settingsPanel()->cmdMostraIP_Click();
        QCOMPARE(host->recorder.texts().last(), u"4.4.4.4"_s); // the running engine's
        host->core().server().ServerStop();
        settingsPanel()->cmdMostraIP_Click();
        QCOMPARE(host->recorder.texts().last(), host->engineAddress);
    }

    void windowMode_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("option");
        QTest::newRow("-1") << u"-1"_s << 1;
        QTest::newRow("0") << u"0"_s << 0;
        QTest::newRow("1") << u"1"_s << 1;
    }
    void windowMode() {
        QFETCH(QString, stored);
        QFETCH(int, option);
        build({u"UPDATE settings SET minimized='%1'"_s.arg(stored)});
        auto* normal = f.element<QRadioButton>(u"optWindow"_s, 0);
        auto* minimized = f.element<QRadioButton>(u"optWindow"_s, 1);
        QCOMPARE(normal->isChecked(), option == 0);
        QCOMPARE(minimized->isChecked(), option == 1);
        QCOMPARE(field(u"minimized"_s), stored); // showing it changes nothing

        normal->click();
        QCOMPARE(field(u"minimized"_s), u"0"_s);
        minimized->click();
        QCOMPARE(field(u"minimized"_s), u"1"_s);
        normal->click();
        host->core().views().commitAll();
        QCOMPARE(host->column(u"SELECT minimized FROM settings"_s), QStringList{"0"});
    }

    void boxesEditTheSettingsRow() {
        build();
        auto* port = f.child<QComboBox>(u"cboPorta"_s);
        auto* timeout = f.child<QLineEdit>(u"Text2"_s);
        auto* root = f.child<QLineEdit>(u"txtRoot"_s);
        auto* start = f.child<QCheckBox>(u"chkStart"_s);
        QCOMPARE(port->currentText(), u"21"_s);
        QCOMPARE(timeout->text(), u"180"_s);
        port->setEditText(u"2121"_s);
        timeout->setText(u"60"_s);
        start->click();
        host->pickerAnswer = QString();
        button(u"cmdBrowseRoot"_s)->click();
        QCOMPARE(root->text(), QString());
        host->pickerAnswer = u"/srv"_s;
        button(u"cmdBrowseRoot"_s)->click();
        QCOMPARE(host->pickerCalls.last().prompt, u"Seleziona la root di default:"_s);
        host->core().views().commitAll();
        QCOMPARE(host->column(QStringLiteral(
                     "SELECT port||'|'||timeout||'|'||rootdir||'|'||start FROM settings")),
                 QStringList{"2121|60|/srv|1"});
        // The server start reads the same row.
        QVERIFY(host->core().server().ServerStart());
        QCOMPARE(host->mainEngine->Port(), qint16(2121));
        QCOMPARE(host->mainEngine->ServerRootDir(), u"/srv"_s);
    }
};

QTEST_MAIN(TestSettingsPanel)
#include "test_settingspanel.moc"
