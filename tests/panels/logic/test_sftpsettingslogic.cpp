// The SFTP group's options and its state line without a window.

#include "panels/logic/SftpSettingsLogic.h"
#include "tests/support/OptionsFixture.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestSftpSettingsLogic : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stateLine_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("passwords");
        QTest::addColumn<QString>("line");
        QTest::newRow("off") << u"0"_s << u"1"_s
                             << u"SFTP disattivato: indicare una porta (per esempio 2222) per "
                                u"attivarlo."_s;
        QTest::newRow("on, passwords") << u"2222"_s << u"1"_s
                                       << u"SFTP attivo sulla porta 2222: accesso con password o "
                                          u"con chiave."_s;
        QTest::newRow("on, keys only")
            << u"22022"_s << u"0"_s
            << u"SFTP attivo sulla porta 22022: accesso solo con chiave (password non ammesse)."_s;
        QTest::newRow("a stored port the start refuses")
            << u"ssh"_s << u"1"_s
            << u"Opzione sftp_port: ssh non è una porta valida (1-65535, 0 = nessuna)"_s;
    }
    void stateLine() {
        QFETCH(QString, port);
        QFETCH(QString, passwords);
        kv::testing::OptionsFixture f(
            {u"INSERT OR REPLACE INTO options VALUES ('sftp_port', '%1'), "
             u"('sftp_password_auth', '%2')"_s.arg(port, passwords)});
        kv::admin::SftpSettingsLogic logic(f.views->options());
        QTEST(logic.stateText(), "line");
        QCOMPARE(logic.passwordLogins(), passwords == u"1"_s);
    }

    // Changes wait on the table, as every group's do.
    void changesArePending() {
        kv::testing::OptionsFixture f;
        kv::admin::SftpSettingsLogic logic(f.views->options());
        QCOMPARE(logic.port(), u"0"_s); // a new database: SFTP off
        QCOMPARE(logic.change(u"sftp_port"_s, u"2222"_s), std::nullopt);
        QCOMPARE(logic.setPasswordLogins(false), std::nullopt);
        QCOMPARE(logic.port(), u"2222"_s);
        QVERIFY(!logic.passwordLogins());
        QCOMPARE(f.storedWhere(u"name LIKE 'sftp%'"_s), QStringList{u"sftp_port=0"_s});
        QCOMPARE(f.views->options().commit(), std::nullopt);
        QCOMPARE(f.storedWhere(u"name LIKE 'sftp%'"_s),
                 (QStringList{u"sftp_password_auth=0"_s, u"sftp_port=2222"_s}));
    }
};

QTEST_GUILESS_MAIN(TestSftpSettingsLogic)
#include "test_sftpsettingslogic.moc"
