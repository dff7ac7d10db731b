// The "Impostazioni" panel over the settings row and the options table.

#include "net/HostAddresses.h"
#include "panels/logic/AcmeStateText.h"
#include "panels/logic/RootFolderLogic.h"
#include "panels/ui/AdminPanels.h"
#include "panels/ui/RefusalMark.h"
#include "panels/ui/SettingsPanel.h"
#include "settings/PortPrivilege.h"
#include "sftp/SftpHostKeys.h"
#include "tests/support/PanelFixture.h"
#include "tests/support/SettingValues.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QJsonArray>
#include <QLabel>
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
    QComboBox* cboIP() { return f.child<QComboBox>(u"cboIP"_s); }
    QPushButton* button(const QString& name) { return f.child<QPushButton>(name); }
    QStringList entries() {
        QStringList out;
        for (int i = 0; i < cboIP()->count(); ++i)
            out.append(cboIP()->itemText(i));
        return out;
    }
    QString field(const QString& name) { return host->core().views().Data2().Field(name); }
    QStringList options() {
        return host->column(
            u"SELECT name || '=' || value FROM options WHERE name LIKE 'tls%' ORDER BY name"_s);
    }
    void typeAndLeave(const QString& box, const QString& text) {
        f.type(box, text);
        kv::testing::leaveBox(f.child<QLineEdit>(box));
    }
    // Why the box named `name` refuses its text, as its red line below says
    // (empty, and the line hidden, when it does not).
    QString reason(const QString& name) {
        auto* line = f.child<QLabel>(u"lblRefusal_"_s + name);
        return line->isVisibleTo(f.panel.get()) ? line->text() : QString();
    }
    QString marked(QWidget* box) { return kv::ui::refusalOf(box); }

private Q_SLOTS:
    // The host key fingerprints appear once SFTP has made the keys, the next
    // time the panel is shown; a key file that cannot be read is left out.
    void sftpHostKeyFingerprints() {
        build();
        auto* label = f.child<QLabel>(u"lblSftpFingerprints"_s);
        QVERIFY(label->text().startsWith(u"Nessuna chiave"_s));
        const kv::sftp::HostKeyFiles files = kv::sftp::hostKeyFiles(host->dataFolder());
        QVERIFY(kv::sftp::ensureHostKeys(files).isEmpty());
        const QString ed25519 = u"ED25519  "_s + kv::sftp::hostKeyFingerprint(files.ed25519);
        f.panel->show();
        QCOMPARE(label->text(),
                 ed25519 + u"\nECDSA  "_s + kv::sftp::hostKeyFingerprint(files.ecdsa));
        QVERIFY(QFile(files.ecdsa).open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.panel->hide();
        f.panel->show();
        QCOMPARE(label->text(), ed25519);
    }

    void cleanup() { f.reset(); }

    // The saved address stays in the list; typing, picking and "Reset" edit
    // the row and switch "Mostra IP", which tells the address in use.
    void addressBoxAndMostraIp() {
        build({u"UPDATE settings SET ip='172.16.0.1'"_s});
        QCOMPARE(cboIP()->currentText(), u"172.16.0.1"_s);
        QVERIFY(!button(u"cmdMostraIP"_s)->isEnabled());
        f.built->CaricaIP(true);
        f.built->CaricaIP(false);
        QCOMPARE(entries(), (QStringList{"Default", "0.0.0.0", "::", "192.168.1.10", "10.0.0.5",
                                         "172.16.0.1"}));
        QVERIFY(!host->core().views().Data2().isDirty());
        cboIP()->setEditText(u"DEFAULT"_s);
        QCOMPARE(field(u"ip"_s), u"Default"_s); // the row keeps the catalog's form
        QVERIFY(button(u"cmdMostraIP"_s)->isEnabled());
        cboIP()->setCurrentIndex(entries().indexOf(u"172.16.0.1"_s));
        QVERIFY(!button(u"cmdMostraIP"_s)->isEnabled());
        QCOMPARE(field(u"ip"_s), u"172.16.0.1"_s);

        cboIP()->setEditText(u"9.9.9.9"_s);
        button(u"cmdResetIP"_s)->click();
        QCOMPARE(entries(),
                 (QStringList{"Default", "0.0.0.0", "::", "192.168.1.10", "10.0.0.5", "9.9.9.9"}));
        QCOMPARE(cboIP()->currentText(), u"Default"_s);
        QVERIFY(button(u"cmdMostraIP"_s)->isEnabled());
        host->core().views().commitAll();
        QCOMPARE(host->column(u"SELECT ip FROM settings"_s), QStringList{"Default"});

        button(u"cmdMostraIP"_s)->click();
        // "Default" is this machine's first address, or the engine's without one.
        const QString machine = kv::net::primaryIPv4Address();
        const QString byDefault = machine.isEmpty() ? host->engineAddress : machine;
        QCOMPARE(host->recorder.shown.last().first, byDefault);
        QCOMPARE(host->recorder.shown.last().second, kv::MessageIcon::None);
        cboIP()->setEditText(u"4.4.4.4"_s);
        f.built->cmdMostraIP_Click();
        QCOMPARE(host->recorder.texts().last(), u"4.4.4.4"_s);
        QVERIFY(host->core().server().ServerStart());
        cboIP()->setEditText(u"default"_s);
        f.built->cmdMostraIP_Click();
        QCOMPARE(host->recorder.texts().last(), u"4.4.4.4"_s); // the running engine's
        host->core().server().ServerStop();
        f.built->cmdMostraIP_Click();
        QCOMPARE(host->recorder.texts().last(), byDefault);
    }

    // The window mode is written as 0 or 1 (a new file's shows as normal:
    // boxesEditTheSettingsRow); an empty address becomes Default.
    void windowModeAndAnEmptyAddress() {
        build({u"UPDATE settings SET minimized='-1', ip=''"_s});
        auto* normal = f.element<QRadioButton>(u"optWindow"_s, 0);
        auto* minimized = f.element<QRadioButton>(u"optWindow"_s, 1);
        QVERIFY(minimized->isChecked() && !normal->isChecked());
        QCOMPARE(field(u"minimized"_s), u"-1"_s); // showing it changes nothing
        QCOMPARE(cboIP()->currentText(), u"Default"_s);
        QCOMPARE(field(u"ip"_s), u"Default"_s);
        QVERIFY(button(u"cmdMostraIP"_s)->isEnabled());

        normal->click();
        QCOMPARE(field(u"minimized"_s), u"0"_s);
        minimized->click();
        QCOMPARE(field(u"minimized"_s), u"1"_s);
        normal->click();
        host->core().views().commitAll();
        QCOMPARE(host->column(u"SELECT minimized FROM settings"_s), QStringList{"0"});
    }

    // A new database's port is the one this user may listen on (2121 for a
    // user who may not listen on 21), and the caption names that default.
    void boxesEditTheSettingsRow() {
        build();
        auto* port = f.child<QComboBox>(u"cboPorta"_s);
        auto* timeout = f.child<QLineEdit>(u"Text2"_s);
        auto* root = f.child<QLineEdit>(u"txtRoot"_s);
        auto* start = f.child<QCheckBox>(u"chkStart"_s);
        const QString newPort = kv::settings::newDatabasePort(kv::settings::mayBindPort(21));
        QCOMPARE(port->currentText(), newPort);
        QVERIFY(f.child<QLabel>(u"lblPortCaption"_s)
                    ->text()
                    .contains(u"di default \"%1\""_s.arg(newPort)));
        QCOMPARE(timeout->text(), u"180"_s);
        QVERIFY(f.element<QRadioButton>(u"optWindow"_s, 0)->isChecked());
        port->setEditText(u"2200"_s);
        timeout->setText(u"60"_s);
        start->click();
        const QString newRoot = root->text(); // the folder a new database shares
        host->pickerAnswer = QString();
        button(u"cmdBrowseRoot"_s)->click();
        QCOMPARE(root->text(), newRoot);
        host->pickerAnswer = QDir::tempPath();
        button(u"cmdBrowseRoot"_s)->click();
        QCOMPARE(host->pickerCalls.last().prompt, u"Seleziona la root di default:"_s);
        host->core().views().commitAll();
        QCOMPARE(host->column(QStringLiteral(
                     "SELECT port||'|'||timeout||'|'||rootdir||'|'||start FROM settings")),
                 QStringList{"2200|60|" + QDir::tempPath() + "|1"});
    }

    // A typed value is judged as the command line and the start judge it:
    // refused with the same words when the box is left, the text staying in
    // the box, marked, while the row keeps what it held, until Esc puts that
    // back; accepted in its normal form.
    void typedSettingsAsTheCatalogJudgesThem_data() {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("normal");
        QTest::addColumn<QString>("refusal");
        for (const kv::testing::SettingValue& v : kv::testing::settingValueSamples()) {
            if (v.typedInPanel)
                QTest::newRow(v.row) << v.column << v.text << v.normal << v.refusal;
        }
    }
    void typedSettingsAsTheCatalogJudgesThem() {
        QFETCH(QString, column);
        QFETCH(QString, text);
        QFETCH(QString, refusal);
        build({u"UPDATE settings SET ip='127.0.0.1', port='2121', timeout='90', rootdir='/'"_s});
        const QMap<QString, QLineEdit*> boxes = {
            {u"ip"_s, cboIP()->lineEdit()},
            {u"port"_s, f.child<QComboBox>(u"cboPorta"_s)->lineEdit()},
            {u"timeout"_s, f.child<QLineEdit>(u"Text2"_s)},
            {u"rootdir"_s, f.child<QLineEdit>(u"txtRoot"_s)}};
        QLineEdit* box = boxes.value(column);
        QVERIFY(box);
        const QString before = box->text();
        box->selectAll();
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClicks(box, text);
        kv::testing::leaveBox(box);
        QWidget* framed = column == u"ip"_s || column == u"port"_s ? box->parentWidget() : box;
        QVERIFY(host->recorder.shown.isEmpty()); // no message box: the line below says it
        if (refusal.isEmpty()) {
            QTEST(box->text(), "normal");
            QTEST(field(column), "normal");
            QCOMPARE(reason(column), QString());
            QCOMPARE(marked(framed), QString());
            return;
        }
        QCOMPARE(box->text(), text);
        QCOMPARE(reason(column), refusal);
        QCOMPARE(marked(framed), refusal);
        QCOMPARE(field(column), before);
        host->core().views().commitAll();
        QCOMPARE(host->column(u"SELECT %1 FROM settings"_s.arg(column)), QStringList{before});
        // Leaving again changes nothing; Esc brings back the value kept.
        kv::testing::leaveBox(box);
        QCOMPARE(box->text(), text);
        QTest::keyClick(box, Qt::Key_Escape);
        QCOMPARE(box->text(), before);
        QCOMPARE(reason(column), QString());
        QCOMPARE(marked(framed), QString());
        QVERIFY(host->recorder.shown.isEmpty());
    }

    // A refused text that is corrected loses its mark as it is typed; one
    // typed over an accepted value without leaving never reaches the row, and
    // is called wrong only once the box is left, not when another window
    // takes the focus.
    void aRefusedTextIsCorrectedInPlace() {
        build({u"UPDATE settings SET timeout='90'"_s});
        auto* timeout = f.child<QLineEdit>(u"Text2"_s);
        typeAndLeave(u"Text2"_s, u"abc"_s);
        QVERIFY(!reason(u"timeout"_s).isEmpty());
        QTest::keyClick(timeout, Qt::Key_Backspace);
        QTest::keyClick(timeout, Qt::Key_Backspace);
        QTest::keyClick(timeout, Qt::Key_Backspace);
        QTest::keyClicks(timeout, u"45"_s);
        QCOMPARE(reason(u"timeout"_s), QString());
        QCOMPARE(field(u"timeout"_s), u"45"_s);
        kv::testing::leaveBox(timeout);
        f.type(u"Text2"_s, u"4x"_s);
        QCOMPARE(field(u"timeout"_s), u"45"_s);
        kv::testing::leaveBox(timeout, Qt::ActiveWindowFocusReason);
        QCOMPARE(reason(u"timeout"_s), QString());
        kv::testing::leaveBox(timeout);
        QVERIFY(!reason(u"timeout"_s).isEmpty());
        host->core().views().commitAll();
        QCOMPARE(host->column(u"SELECT timeout FROM settings"_s), QStringList{u"45"_s});
    }

    // Choosing the whole disk as default root, typed or picked, asks first:
    // no keeps the root it had, yes takes it (and the warning shows).
    void theWholeDiskIsAskedFor_data() {
        QTest::addColumn<bool>("picked");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("answer");
        QTest::newRow("typed /, no") << false << u"/"_s << false;
        QTest::newRow("typed //, no") << false << u"//"_s << false;
        QTest::newRow("typed empty, no") << false << QString() << false;
        QTest::newRow("picked /, no") << true << u"/"_s << false;
        QTest::newRow("typed /, yes") << false << u"/"_s << true;
        QTest::newRow("picked /, yes") << true << u"/"_s << true;
    }
    void theWholeDiskIsAskedFor() {
        QFETCH(bool, picked);
        QFETCH(QString, chosen);
        QFETCH(bool, answer);
        const QString old = QDir::tempPath();
        build({u"UPDATE settings SET rootdir='%1'"_s.arg(old)});
        auto* root = f.child<QLineEdit>(u"txtRoot"_s);
        auto* warning = f.child<QLabel>(u"lblWholeDisk"_s);
        QVERIFY(!warning->isVisibleTo(f.panel.get()));
        host->recorder.answer = answer;
        if (picked) {
            host->pickerAnswer = chosen;
            button(u"cmdBrowseRoot"_s)->click();
        } else {
            root->selectAll();
            QTest::keyClick(root, Qt::Key_Delete);
            QTest::keyClicks(root, chosen);
            QCOMPARE(field(u"rootdir"_s), old); // nothing of it kept before the answer
            kv::testing::leaveBox(root);
        }
        QCOMPARE(host->recorder.asked,
                 QStringList{u"Per la cartella radice predefinita sarebbe condiviso tutto il disco "
                             u"(/), compresi i file personali e quelli di sistema.\n\nCondividere "
                             u"davvero tutto il disco?"_s});
        QCOMPARE(root->text(), answer ? chosen : old);
        QCOMPARE(field(u"rootdir"_s), answer ? chosen : old);
        QCOMPARE(warning->isVisibleTo(f.panel.get()), answer);
        QCOMPARE(reason(u"rootdir"_s), QString());
    }

    // While the default root shares the whole disk the panel says so, and
    // "Usa una cartella condivisa" puts a folder made for sharing there.
    void theWholeDiskWarningAndTheSharedFolder_data() {
        QTest::addColumn<QString>("stored");
        QTest::newRow("/") << u"/"_s;
        QTest::newRow("empty, an older database's") << QString();
    }
    void theWholeDiskWarningAndTheSharedFolder() {
        QFETCH(QString, stored);
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", home.path().toUtf8());
        qunsetenv("XDG_CONFIG_HOME");
        build({u"UPDATE settings SET rootdir='%1'"_s.arg(stored)});
        auto* warning = f.child<QLabel>(u"lblWholeDisk"_s);
        auto* useShared = button(u"cmdSharedRoot"_s);
        QVERIFY(warning->isVisibleTo(f.panel.get()));
        QCOMPARE(warning->text(), kv::admin::wholeDiskRootWarning());
        QVERIFY(useShared->isVisibleTo(f.panel.get()));
        QCOMPARE(useShared->text(), u"Usa una cartella condivisa"_s);
        useShared->click();
        qputenv("HOME", oldHome);
        if (!oldConfig.isNull())
            qputenv("XDG_CONFIG_HOME", oldConfig);
        const QString shared = home.path() + u"/Condivisi"_s;
        QVERIFY(QFileInfo(shared).isDir());
        QCOMPARE(f.child<QLineEdit>(u"txtRoot"_s)->text(), shared);
        QCOMPARE(field(u"rootdir"_s), shared);
        QVERIFY(!warning->isVisibleTo(f.panel.get()));
        QVERIFY(!useShared->isVisibleTo(f.panel.get()));
        QVERIFY(host->recorder.asked.isEmpty() && host->recorder.shown.isEmpty());
        host->core().views().commitAll();
        QCOMPARE(host->column(u"SELECT rootdir FROM settings"_s), QStringList{shared});
    }

    void ftpsGroupShowsAndSavesTheOptions() {
        build({u"INSERT INTO options VALUES ('tls', 'on'), ('tls_max_version', '1.2')"_s});
        auto* mode = f.child<QComboBox>(u"cboTls"_s);
        auto* reuse = f.child<QCheckBox>(u"chkTlsReuse"_s);
        QCOMPARE(mode->currentText(), u"Consentita"_s);
        QCOMPARE(f.child<QComboBox>(u"cboTlsMax"_s)->currentText(), u"1.2"_s);
        QVERIFY(reuse->isChecked());
        QVERIFY(f.child<QLineEdit>(u"txtTlsPort"_s)->text().isEmpty());
        // Without certificate tools there is no line and no button.
        QVERIFY(f.child<QLabel>(u"lblTlsCertificate"_s)->text().isEmpty());
        QVERIFY(!f.child<QPushButton>(u"cmdGenerateCert"_s)->isVisibleTo(f.panel.get()));

        mode->setCurrentIndex(2);
        typeAndLeave(u"txtTlsPort"_s, u"990"_s);
        reuse->click();
        f.child<QComboBox>(u"cboTlsMax"_s)->setCurrentIndex(1);
        host->pickerAnswer = u"/etc/ssl/server.pem"_s;
        button(u"cmdBrowseCert"_s)->click();
        QCOMPARE(host->filePickerCalls.last().prompt, u"Seleziona il file del certificato:"_s);
        QCOMPARE(f.child<QLineEdit>(u"txtTlsCert"_s)->text(), u"/etc/ssl/server.pem"_s);
        host->pickerAnswer.clear();
        button(u"cmdBrowseKey"_s)->click(); // cancelled: nothing changes
        QVERIFY(f.child<QLineEdit>(u"txtTlsKey"_s)->text().isEmpty());
        QVERIFY(host->recorder.shown.isEmpty());
        // Like the settings row, nothing is written before the views are committed.
        QCOMPARE(options(), (QStringList{"tls=on", "tls_max_version=1.2"}));
        host->core().views().commitAll();
        QCOMPARE(options(), (QStringList{"tls=required", "tls_certificate=/etc/ssl/server.pem",
                                         "tls_implicit_port=990", "tls_max_version=1.3",
                                         "tls_session_reuse=0"}));
    }

    void ftpsGroupRefusesInvalidValues() {
        build();
        typeAndLeave(u"txtTlsPort"_s, u"70000"_s);
        QCOMPARE(reason(u"tls_implicit_port"_s),
                 u"Opzione tls_implicit_port: 70000 non è una porta valida (1-65535, "
                 u"0 = nessuna)"_s);
        QCOMPARE(f.child<QLineEdit>(u"txtTlsPort"_s)->text(), u"70000"_s);
        // A box left with a valid value first, then mistyped without leaving
        // it: the mistyped text is never kept, the value left is.
        typeAndLeave(u"txtTlsPort"_s, u"990"_s);
        QCOMPARE(reason(u"tls_implicit_port"_s), QString());
        f.type(u"txtTlsPort"_s, u"99x"_s);
        f.child<QComboBox>(u"cboTlsMin"_s)->setCurrentIndex(1);
        f.child<QComboBox>(u"cboTlsMax"_s)->setCurrentIndex(0); // crossed: refused
        QCOMPARE(f.child<QComboBox>(u"cboTlsMax"_s)->currentText(), u"1.3"_s);
        QVERIFY(reason(u"tls_versions"_s).contains(u"la versione minima (1.3)"_s));
        host->core().views().commitAll();
        QCOMPARE(options(), (QStringList{u"tls_implicit_port=990"_s, u"tls_min_version=1.3"_s}));
        QVERIFY(host->recorder.shown.isEmpty());
        f.child<QComboBox>(u"cboTlsMin"_s)->setCurrentIndex(0);
        QCOMPARE(reason(u"tls_versions"_s), QString());
    }

    void ftpsGroupGeneratesTheCertificate() {
        QStringList generated;
        kv::CertificateTools tools;
        tools.describe = [](const QString& file) { return u"Impronta di "_s + file; };
        tools.generate = [&generated](const QString& cert, const QString& key) {
            generated.append(cert + u"|"_s + key);
            return QString();
        };
        f.build({}, [&](PanelTestHost& h) { h.core().setCertificateTools(tools); });
        host = f.host.get();
        const QString folder = host->core().dataFolder();
        auto* line = f.child<QLabel>(u"lblTlsCertificate"_s);
        auto* generate = f.child<QPushButton>(u"cmdGenerateCert"_s);
        // Nothing is said of a certificate until FTPS is chosen.
        QCOMPARE(line->text(), QString());
        f.child<QComboBox>(u"cboTls"_s)->setCurrentIndex(1);
        QCOMPARE(line->text(), u"Impronta di "_s + folder + u"/kestrova-cert.pem"_s);
        QVERIFY(generate->isVisibleTo(f.panel.get()) && generate->isEnabled());
        generate->click();
        QCOMPARE(host->recorder.asked.size(), 1);
        QVERIFY(generated.isEmpty());
        host->recorder.answer = true;
        generate->click();
        QCOMPARE(generated,
                 QStringList{folder + u"/kestrova-cert.pem|"_s + folder + u"/kestrova-key.pem"_s});
        QCOMPARE(host->recorder.texts().last(), u"Nuovo certificato generato."_s);
        typeAndLeave(u"txtTlsCert"_s, u"/etc/ssl/mine.pem"_s);
        QCOMPARE(line->text(), u"Impronta di /etc/ssl/mine.pem"_s);
        QVERIFY(!generate->isEnabled());
    }

    // SFTP is switched on from the panel: a port typed is kept; one out of
    // range stays in the box with the catalog's reason and is never kept.
    void sftpGroupTurnsSftpOnAndRefusesABadPort() {
        build();
        auto* port = f.child<QLineEdit>(u"txt_sftp_port"_s);
        auto* passwords = f.child<QCheckBox>(u"chkSftpPassword"_s);
        auto* state = f.child<QLabel>(u"lblSftpState"_s);
        QCOMPARE(port->text(), u"0"_s); // a new database: SFTP off
        QVERIFY(passwords->isChecked());
        QVERIFY(state->text().startsWith(u"SFTP disattivato"_s));
        QVERIFY(f.child<QLabel>(u"lblSftpFingerprints"_s)->text().startsWith(u"Nessuna chiave"_s));

        // The window's layout moves the rows: the reason still shows right below.
        QWidget* row = f.child<QWidget>(u"pic_sftp_port"_s);
        row->move(row->x(), 5000);
        typeAndLeave(u"txt_sftp_port"_s, u"70000"_s);
        QCOMPARE(port->text(), u"70000"_s);
        QCOMPARE(f.child<QLabel>(u"lblRefusal_sftp_port"_s)->y(), 5001);
        QCOMPARE(reason(u"sftp_port"_s),
                 u"Opzione sftp_port: 70000 non è una porta valida (1-65535, 0 = nessuna)"_s);
        QVERIFY(state->text().startsWith(u"SFTP disattivato"_s));
        host->core().views().commitAll();
        QCOMPARE(host->column(u"SELECT value FROM options WHERE name = 'sftp_port'"_s),
                 QStringList{u"0"_s});
        QTest::keyClick(port, Qt::Key_Escape);
        QCOMPARE(port->text(), u"0"_s);
        QCOMPARE(reason(u"sftp_port"_s), QString());

        typeAndLeave(u"txt_sftp_port"_s, u"02222"_s);
        QCOMPARE(port->text(), u"2222"_s);
        passwords->click();
        QCOMPARE(
            state->text(),
            u"SFTP attivo sulla porta 2222: accesso solo con chiave (password non ammesse)."_s);
        QVERIFY(host->recorder.shown.isEmpty());
        host->core().views().commitAll();
        QCOMPARE(host->column(u"SELECT name || '=' || value FROM options WHERE name LIKE 'sftp%' "
                              u"ORDER BY name"_s),
                 (QStringList{u"sftp_password_auth=0"_s, u"sftp_port=2222"_s}));
    }

    // The FTPS group holds the acme options (once: not in "Altre opzioni"),
    // the state the server tells and "Rinnova ora", which asks it for an
    // attempt; a failure shows in red, and a refused request says why there.
    void ftpsGroupShowsTheAcmeStateAndRenews() {
        const QJsonObject issued{{"enabled", true},
                                 {"names", QJsonArray{"ftp.example.org"}},
                                 {"issuer", "Pebble Intermediate"},
                                 {"notAfter", "2027-03-01T10:00:00Z"},
                                 {"nextAttempt", "2027-01-30T10:00:00Z"},
                                 {"lastError", ""},
                                 {"working", false}};
        f.build({}, [&issued](PanelTestHost& h) {
            h.acmeReply = QJsonObject{{"ok", true}, {"acme", issued}};
        });
        host = f.host.get();
        for (const QString& name : kv::admin::acmeOptions())
            QCOMPARE(f.panel->findChildren<QLineEdit*>(u"txt_"_s + name).size(), 1);
        auto* state = f.child<QLabel>(u"lblAcmeState"_s);
        auto* error = f.child<QLabel>(u"lblAcmeError"_s);
        QCOMPARE(state->text(), kv::admin::acmeStateLine(issued));
        QVERIFY(state->text().contains(u"ftp.example.org"_s));
        QCOMPARE(error->text(), QString());
        QCOMPARE(host->acmeAsks, QList<bool>{false});

        QJsonObject failed = issued;
        failed["lastError"] = u"la porta 80 del router deve essere inoltrata a questo PC"_s;
        host->acmeReply = QJsonObject{{"ok", true}, {"acme", failed}};
        QPushButton* renew = button(u"cmdAcmeRenew"_s);
        QVERIFY(renew->isEnabled());
        renew->click();
        QCOMPARE(host->acmeAsks, (QList<bool>{false, true}));
        QCOMPARE(error->text(), failed["lastError"].toString());
        QVERIFY(error->styleSheet().contains(u"red"_s));

        host->acmeReply = QJsonObject{{"ok", false}, {"error", u"Server non raggiungibile"_s}};
        renew->click();
        QCOMPARE(error->text(), u"Server non raggiungibile"_s);
        QVERIFY(!renew->isEnabled()); // nothing says acme is on
    }

    // "Altre opzioni" holds every setting no other group shows, from the
    // catalog, each with its default; its boxes keep the panels' one rule.
    void otherOptionsFromTheCatalog() {
        build();
        for (const QString& name : {u"log_max_mib"_s, u"log_keep"_s, u"debugmode"_s,
                                    u"resolvelinks"_s, u"datalingertime"_s})
            QVERIFY2(f.panel->findChild<QLineEdit*>(u"txt_"_s + name), qPrintable(name));
        // Shown once: on their own group or here, never twice.
        for (const QString& name : {u"txt_mail_server"_s, u"txt_sftp_port"_s})
            QCOMPARE(f.panel->findChildren<QLineEdit*>(name).size(), 1);
        QVERIFY(!f.panel->findChild<QLineEdit*>(u"txt_ban_attempts"_s)); // Sicurezza's
        QCOMPARE(f.child<QLineEdit>(u"txt_log_max_mib"_s)->text(), u"10"_s);
        QCOMPARE(f.child<QWidget>(u"pic_log_keep"_s)->findChild<QLabel*>()->text(),
                 u"File di log precedenti conservati (ftp.log.1 ...) (predefinito: 5)"_s);

        typeAndLeave(u"txt_log_keep"_s, u"0"_s);
        QCOMPARE(reason(u"log_keep"_s), u"Opzione log_keep: 0 non è un numero intero da 1 a 100"_s);
        QCOMPARE(f.child<QLineEdit>(u"txt_log_keep"_s)->text(), u"0"_s);
        typeAndLeave(u"txt_log_keep"_s, u"7"_s);
        typeAndLeave(u"txt_resolvelinks"_s, u"0"_s);
        QCOMPARE(field(u"resolvelinks"_s), u"0"_s);
        QVERIFY(host->recorder.shown.isEmpty());
        host->core().views().commitAll();
        QCOMPARE(host->column(u"SELECT value FROM options WHERE name = 'log_keep'"_s),
                 QStringList{u"7"_s});
        QCOMPARE(host->column(u"SELECT resolvelinks FROM settings"_s), QStringList{u"0"_s});
    }

    void routerGroupAdvisesKeepsAndRefuses() {
        build();
        auto* advice = f.child<QLabel>(u"lblForwarding"_s);
        auto* ports = f.child<QLineEdit>(u"txtPassivePorts"_s);
        f.child<QComboBox>(u"cboPorta"_s)->setEditText(u"2121"_s);
        QVERIFY(
            advice->text().startsWith(u"Sul router inoltrare a questo PC la porta TCP 2121. "_s));
        typeAndLeave(u"txtPassivePorts"_s, u"50000-50010"_s); // the words: test_routersettingslogic
        QVERIFY(advice->text().contains(u"2121 (controllo) e le porte TCP da 50000 a 50010"_s));
        typeAndLeave(u"txtPassivePorts"_s, u"80-90"_s);
        QCOMPARE(reason(u"passive_ports"_s),
                 u"Opzione passive_ports: 80-90 non è un intervallo di porte valido "
                 u"(PRIMA-ULTIMA, porte da 1024 a 65535, per esempio 50000-50100)"_s);
        // As in every box, a refused value stays to be corrected but is never
        // kept: the advice goes on with the range kept.
        QCOMPARE(ports->text(), u"80-90"_s);
        QVERIFY(advice->text().contains(u"da 50000 a 50010"_s));
        typeAndLeave(u"txtPassivePorts"_s, u"50000-50010"_s);
        typeAndLeave(u"txtPassiveAddress"_s, u"Casa.Example.NET"_s);
        // Accepted, the box shows the catalog's form, as every box does.
        QCOMPARE(f.child<QLineEdit>(u"txtPassiveAddress"_s)->text(), u"casa.example.net"_s);
        host->core().views().commitAll();
        QCOMPARE(host->column(u"SELECT name || '=' || value FROM options WHERE name LIKE "
                              u"'passive%' ORDER BY name"_s),
                 (QStringList{"passive_address=casa.example.net", "passive_ports=50000-50010"}));
    }

    // The rates group: each rate with its Mbit/s beside it as it is typed, a
    // speed typed in Mbit/s kept in KiB/s, the catalog's refusal, the
    // exemption of the local network, and the summary of which way is which.
    void speedLimitsGroupShowsMbitAndKeepsKib() {
        build();
        auto* down = f.child<QLineEdit>(u"txt_rate_down_kib"_s);
        auto* downMbit = f.child<QLabel>(u"lblMbit_rate_down_kib"_s);
        auto* summary = f.child<QLabel>(u"lblRateSummary"_s);
        QCOMPARE(down->text(), u"0"_s);
        QCOMPARE(downMbit->text(), u"nessun limite"_s);
        QCOMPARE(f.child<QLineEdit>(u"txt_quota_warn_percent"_s)->text(), u"80"_s);
        QVERIFY(summary->text().startsWith(u"In ricezione (upload dai client): "_s));

        f.type(u"txt_rate_down_kib"_s, u"10240"_s);
        QCOMPARE(downMbit->text(), u"≈ 83,9 Mbit/s"_s);
        kv::testing::leaveBox(down);
        QVERIFY(summary->text().contains(
            u"In invio (download verso i client): tutto il server 10240 KiB/s ≈ 83,9 Mbit/s"_s));
        typeAndLeave(u"txt_rate_ip_up_kib"_s, u"8 Mbit/s"_s);
        QCOMPARE(f.child<QLineEdit>(u"txt_rate_ip_up_kib"_s)->text(), u"977"_s);
        QCOMPARE(f.child<QLabel>(u"lblMbit_rate_ip_up_kib"_s)->text(), u"≈ 8,0 Mbit/s"_s);
        typeAndLeave(u"txt_rate_up_kib"_s, u"-3"_s);
        QCOMPARE(reason(u"rate_up_kib"_s),
                 u"Opzione rate_up_kib: -3 non è un numero intero da 0 a 16777216"_s);
        QCOMPARE(f.child<QLabel>(u"lblMbit_rate_up_kib"_s)->text(), QString());
        QTest::keyClick(f.child<QLineEdit>(u"txt_rate_up_kib"_s), Qt::Key_Escape);
        f.child<QCheckBox>(u"chkRateLocalExempt"_s)->click();
        QVERIFY(summary->text().endsWith(u"I client della rete locale non sono limitati."_s));
        QVERIFY(host->recorder.shown.isEmpty());
        host->core().views().commitAll();
        QCOMPARE(host->column(u"SELECT name || '=' || value FROM options WHERE name LIKE "
                              u"'rate%' ORDER BY name"_s),
                 (QStringList{u"rate_down_kib=10240"_s, u"rate_ip_up_kib=977"_s,
                              u"rate_local_exempt=1"_s}));
        // Shown here, not again among "Altre opzioni".
        QCOMPARE(f.panel->findChildren<QLineEdit*>(u"txt_rate_down_kib"_s).size(), 1);
    }
};

QTEST_MAIN(TestSettingsPanel)
#include "test_settingspanel.moc"
