// The FTPS group's behaviour without a window.
#include "panels/logic/FtpsSettingsLogic.h"

#include "core/AcmePairStore.h"
#include "ftp/TlsCertificate.h"
#include "tests/support/OptionsFixture.h"
#include "tests/support/RecordingMessages.h"

#include <QTest>

using namespace kv;
using namespace kv::admin;

namespace {

struct Fixture : testing::OptionsFixture {
    QStringList described;
    QStringList generated;
    QString generateProblem;
    CertificateTools tools;
    std::unique_ptr<FtpsSettingsLogic> logic;

    explicit Fixture(const QStringList& rows = {}) : OptionsFixture(rows) {
        tools.describe = [this](const QString& file) {
            described << file;
            return "SHA-256 AB:CD, scade il 01-01-2036";
        };
        tools.generate = [this](const QString& cert, const QString& key) {
            generated << cert + "|" + key;
            return generateProblem;
        };
        logic = std::make_unique<FtpsSettingsLogic>(views->options(), dir.path(), tools);
    }
    // The TLS rows and an unknown one; the rows a new database gets are left out.
    QStringList stored() const {
        return storedWhere("name LIKE 'tls%' OR name = 'passive_colour'");
    }
};

QString insert(const QString& name, const QString& value) {
    return QStringLiteral("INSERT INTO options VALUES ('%1', '%2')").arg(name, value);
}

} // namespace

class TestFtpsSettingsLogic : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void showsTheStoredValues_data() {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("form"); // mode|port|certificate|reuse|min|max
        QTest::newRow("no rows") << QStringList() << "0|||1|0|1";
        QTest::newRow("every option")
            << QStringList{insert("tls", "required"), insert("tls_implicit_port", "990"),
                           insert("tls_certificate", "/etc/c.pem"),
                           insert("tls_session_reuse", "0"), insert("tls_min_version", "1.3")}
            << "2|990|/etc/c.pem|0|1|1";
        QTest::newRow("port 0 shows as none, words in any case")
            << QStringList{insert("tls", " ON"), insert("tls_implicit_port", "0")} << "1|||1|0|1";
        QTest::newRow("invalid values show as stored")
            << QStringList{insert("tls", "bogus"), insert("tls_implicit_port", "70000"),
                           insert("tls_max_version", "1.1")}
            << "-1|70000||1|0|-1";
    }
    void showsTheStoredValues() {
        QFETCH(QStringList, rows);
        Fixture f(rows);
        const FtpsForm form = f.logic->load();
        const auto n = [](int value) { return QString::number(value); };
        const QStringList shown = {n(form.mode),         form.implicitPort,  form.certificateFile,
                                   n(form.sessionReuse), n(form.minVersion), n(form.maxVersion)};
        QTEST(shown.join(u'|'), "form");
        QVERIFY(!f.views->options().isDirty()); // showing changes nothing
    }

    void changesWaitForTheCommitAndRefusalsLeaveNothing() {
        Fixture f({insert("tls_implicit_port", "990"), insert("passive_colour", "red")});
        QCOMPARE(f.logic->changeMode(2), std::nullopt);
        QCOMPARE(f.logic->change("tls_implicit_port", " 0990 "), std::nullopt); // same as stored
        QCOMPARE(f.logic->changeReuse(true), std::nullopt);                     // the default
        QCOMPARE(f.logic->change("tls_certificate", "certs/c.pem"), std::nullopt);
        QCOMPARE(f.views->options().pending(),
                 (QMap<QString, QString>{{"tls", "required"}, {"tls_certificate", "certs/c.pem"}}));
        QCOMPARE(f.logic->load().mode, 2);
        QCOMPARE(f.stored(), (QStringList{"passive_colour=red", "tls_implicit_port=990"}));

        QVERIFY(f.logic->change("tls_implicit_port", "70000")); // its words: test_settingspanel
        QCOMPARE(f.logic->change("tls_private_key", "a\tb"),
                 QString("Opzione tls_private_key: il percorso contiene caratteri di controllo "
                         "non ammessi"));
        QCOMPARE(f.logic->load().implicitPort, QString("990"));
        QVERIFY(!f.views->options().pending().contains("tls_implicit_port"));

        // An empty port box means none.
        QCOMPARE(f.logic->change("tls_implicit_port", ""), std::nullopt);
        f.views->commitAll();
        QCOMPARE(f.stored(), (QStringList{"passive_colour=red", "tls=required",
                                          "tls_certificate=certs/c.pem", "tls_implicit_port=0"}));
        QVERIFY(!f.views->options().isDirty());

        // Going back to what is stored drops the pending edit.
        QCOMPARE(f.logic->changeMode(1), std::nullopt);
        QCOMPARE(f.logic->changeMode(2), std::nullopt);
        QVERIFY(!f.views->options().isDirty());
    }

    void versionsMayNotCross() {
        Fixture f;
        const QString crossed = "Opzioni tls_min_version e tls_max_version: la versione minima "
                                "(1.3) è più alta della massima (1.2)";
        QCOMPARE(f.logic->changeVersion("tls_max_version", 0), std::nullopt);
        QCOMPARE(f.logic->changeVersion("tls_min_version", 1), crossed);
        QCOMPARE(f.logic->load().minVersion, 0);
        QCOMPARE(f.logic->changeVersion("tls_max_version", 1), std::nullopt);
        QCOMPARE(f.logic->changeVersion("tls_min_version", 1), std::nullopt);
        QCOMPARE(f.logic->changeVersion("tls_max_version", 0), crossed);
        // A bad value stored elsewhere does not block an unrelated change.
        QCOMPARE(kv::testing::runSql(f.path, {insert("tls", "bogus")}), QString());
        QCOMPARE(f.logic->changeReuse(false), std::nullopt);
    }

    // The line, the question, the files made and the group without tools are
    // the panel test's (test_settingspanel); here what the panel cannot show.
    void certificateLineAndGeneration() {
        Fixture f;
        // With FTPS off the certificate is not looked at.
        QCOMPARE(f.logic->certificateLine(), QString());
        QVERIFY(f.described.isEmpty());
        QCOMPARE(f.logic->change("tls", "on"), std::nullopt);
        testing::RecordingMessages messages;
        messages.answer = true;
        f.generateProblem = "impossibile scrivere " + f.dir.filePath("kestrova-cert.pem");
        QCOMPARE(f.logic->generate(messages), f.generateProblem);
        // Files the operator names are never replaced.
        QCOMPARE(f.logic->change("tls_certificate", "/etc/ssl/mine.pem"), std::nullopt);
        QCOMPARE(f.logic->generate(messages), QString());
        QCOMPARE(f.generated.size(), 1);
    }

    // With a certificate from ACME in use, the generated file (perhaps never
    // made) is not described as if it served FTPS.
    void certificateFromAcmeIsNotTheGeneratedOne() {
        Fixture f({insert("tls", "on"), insert("acme", "on")});
        QVERIFY(!f.logic->certificateLine().isEmpty()); // none obtained yet: the generated serves
        QTemporaryDir scratch;
        const QString cert = scratch.filePath(QStringLiteral("c.pem"));
        const QString key = scratch.filePath(QStringLiteral("k.pem"));
        QVERIFY(
            ftp::generateSelfSignedCertificate(cert, key, QStringLiteral("kv.test"), {}).summary);
        QFile chain(cert), secret(key);
        QVERIFY(chain.open(QIODevice::ReadOnly) && secret.open(QIODevice::ReadOnly));
        QCOMPARE(AcmePairStore(f.dir.path()).install(chain.readAll(), secret.readAll()),
                 std::nullopt);
        f.described.clear();
        QCOMPARE(f.logic->certificateLine(), QString());
        QVERIFY(f.described.isEmpty());
        QCOMPARE(f.logic->change("acme", "off"), std::nullopt);
        QVERIFY(!f.logic->certificateLine().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFtpsSettingsLogic)
#include "test_ftpssettingslogic.moc"
