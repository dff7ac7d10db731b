// The settings service: the settings row and the options by their catalog
// names, the address lists and their switches. A refused value (with the
// catalog's or the entry checks' reason) leaves accounts.dat as it was.

#include "access/AccountDatabase.h"
#include "access/EntryChecks.h"
#include "access/SettingsService.h"
#include "settings/OptionCatalog.h"
#include "tests/support/DataRow.h"
#include "tests/support/DbTestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace Qt::StringLiterals;
using kv::access::AddressList;
using kv::access::SettingsService;
namespace setting = kv::settings::setting;
namespace option = kv::settings::option;

class TestSettingsService : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<kv::access::AccountDatabase> db_;

    QString file() const { return db_->filePath(); }
    QStringList read(const QString& sql) const {
        return kv::testing::texts(kv::testing::column(file(), sql));
    }
    QStringList snapshot() const {
        return read(u"SELECT ip || port || ifnull(rootdir, '') || IPok || IPko FROM settings"_s) +
               read(u"SELECT group_concat(name || '=' || value, ';') FROM options"_s) +
               read(u"SELECT group_concat(IP, ';') FROM IPok"_s) +
               read(u"SELECT group_concat(IP, ';') FROM IPko"_s);
    }

private Q_SLOTS:
    void init() {
        QFile::remove(dir_.filePath(u"accounts.dat"_s));
        QVERIFY(QDir(dir_.path()).mkpath(u"shared"_s));
        db_ = std::make_unique<kv::access::AccountDatabase>(dir_.filePath(u"accounts.dat"_s));
        QVERIFY(db_->open());
        QCOMPARE(kv::testing::runSql(file(), {u"INSERT INTO IPok VALUES ('10.9.9.9')"_s}),
                 QString());
    }
    void cleanup() { db_.reset(); }

    void settingsRow_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("wholeDisk");
        QTest::addColumn<QString>("stored"); // what the row holds after; refusal: unchanged
        QTest::addColumn<QString>("refusal");
        QTest::newRow("port") << setting::kPort << u" 2121 "_s << false << u"2121"_s << QString();
        addRow("port out of range", setting::kPort, u"70000"_s, false, QString(),
               u"Porta non valida: \"70000\" (1-65535)"_s);
        addRow("unknown column", u"password"_s, u"x"_s, false, QString(),
               kv::settings::optionCatalog()
                   .check(u"password"_s, u"x"_s, kv::settings::OptionStore::SettingsRow)
                   .error);
        addRow("root", setting::kRootDir, u"{dir}/shared/"_s, false, u"{dir}/shared"_s, QString());
        addRow("whole disk not chosen", setting::kRootDir, u"/"_s, false, QString(),
               kv::access::wholeDiskRefusal(kv::access::defaultRootOwner()));
        addRow("whole disk by name", setting::kRootDir, u"/"_s, true, u"/"_s, QString());
    }
    void settingsRow() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(bool, wholeDisk);
        QFETCH(QString, stored);
        QFETCH(QString, refusal);
        text.replace(u"{dir}"_s, dir_.path());
        stored.replace(u"{dir}"_s, dir_.path());
        SettingsService service(db_->connection());
        const QStringList before = snapshot();
        QString written;
        const std::optional<QString> result = service.setSetting(name, text, wholeDisk, &written);
        if (!refusal.isEmpty()) {
            QCOMPARE(result, std::optional(refusal));
            QCOMPARE(snapshot(), before);
            return;
        }
        QCOMPARE(result, std::nullopt);
        QCOMPARE(written, stored);
        QCOMPARE(service.setting(name), stored);
        QVERIFY(service.settingsRow().contains(std::pair{name, stored}));
    }

    void options_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("limit") << option::kMaxConnections << u"50"_s << QString();
        addRow("limit out of range", option::kMaxConnections, u"-1"_s,
               kv::settings::optionCatalog().check(option::kMaxConnections, u"-1"_s).error);
        addRow("unknown option", u"no_such"_s, u"1"_s,
               kv::settings::optionCatalog().check(u"no_such"_s, u"1"_s).error);
        // Judged with the stored rows: a minimum above the maximum.
        addRow(
            "against another option", option::kTlsMinVersion, u"1.3"_s,
            kv::settings::optionCatalog()
                .checkAll({{option::kTlsMinVersion, u"1.3"_s}, {option::kTlsMaxVersion, u"1.2"_s}})
                .errors.join(u"; "_s));
    }
    void options() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, refusal);
        QCOMPARE(kv::testing::runSql(file(), {u"INSERT OR REPLACE INTO options VALUES "
                                              "('tls_max_version', '1.2')"_s}),
                 QString());
        SettingsService service(db_->connection());
        const QStringList before = snapshot();
        const std::optional<QString> result = service.setOption(name, text);
        if (!refusal.isEmpty()) {
            QVERIFY(result);
            QVERIFY2(result->contains(refusal.section(u':', 0, 0)), qPrintable(*result));
            QCOMPARE(snapshot(), before);
            return;
        }
        QCOMPARE(result, std::nullopt);
        QCOMPARE(service.options().value(name), text);
        QCOMPARE(service.unsetOption(name), std::nullopt);
        QCOMPARE(service.options().value(name),
                 kv::settings::optionCatalog().find(name)->defaultValue);
    }

    void listEntries_data() {
        QTest::addColumn<int>("list");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("allow: CIDR") << 0 << u" 192.168.1.0/24 "_s << QString();
        addRow("allow: listed", 0, u"10.9.9.9"_s,
               u"L'indirizzo \"10.9.9.9\" è già inserito nella lista"_s);
        QTest::newRow("block: same address, other list") << 1 << u"10.9.9.9"_s << QString();
        addRow("block: host name", 1, u"server.example"_s,
               u"Voce non valida: \"server.example\" non è un indirizzo, un blocco CIDR, un "
               "intervallo o un indirizzo con *"_s);
    }
    void listEntries() {
        QFETCH(int, list);
        QFETCH(QString, entry);
        QFETCH(QString, refusal);
        const AddressList which = list == 0 ? AddressList::Allow : AddressList::Block;
        SettingsService service(db_->connection());
        const QStringList before = snapshot();
        const QStringList entriesBefore = service.listEntries(which);
        if (!refusal.isEmpty()) {
            QCOMPARE(service.addListEntry(which, entry), std::optional(refusal));
            QCOMPARE(snapshot(), before);
            return;
        }
        QCOMPARE(service.addListEntry(which, entry), std::nullopt);
        QCOMPARE(service.listEntries(which), entriesBefore + QStringList{entry.trimmed()});
        QCOMPARE(service.removeListEntry(which, entry), std::nullopt);
        QCOMPARE(service.listEntries(which), entriesBefore);
        QCOMPARE(service.removeListEntry(which, entry),
                 std::optional(u"\"%1\" non è nella lista"_s.arg(entry.trimmed())));
    }

    void switchesAreStored() {
        SettingsService service(db_->connection());
        QVERIFY(!service.listOn(AddressList::Allow) && !service.listOn(AddressList::Block));
        QCOMPARE(service.setListOn(AddressList::Block, true), std::nullopt);
        QCOMPARE(read(u"SELECT IPok || IPko FROM settings"_s), QStringList{u"01"_s});
        QVERIFY(service.listOn(AddressList::Block) && !service.listOn(AddressList::Allow));
        QCOMPARE(service.listSwitch(AddressList::Block), std::optional(true));
    }
};

QTEST_GUILESS_MAIN(TestSettingsService)
#include "test_settingsservice.moc"
