// What a database the program makes starts with: a default root made for
// sharing (the desktop's public folder, else "Condivisi" in the home, made
// with the database; the service's /srv/kestrova, made only by its
// package), never the whole disk; an existing database is left as it is.
#include "core/NewDatabase.h"

#include "core/DataFolder.h"
#include "settings/SharedRoot.h"
#include "tests/support/DbTestSupport.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace kv;
using namespace kv::testing;

namespace {

QString storedRoot(const QString& folder) {
    QVariantList values;
    rawSql(accountsFile(folder), {"SELECT rootdir FROM settings"}, true, &values);
    return values.value(0).toString();
}

} // namespace

class TestNewDatabase : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aNewDatabaseSharesAFolderMadeForIt_data() {
        QTest::addColumn<bool>("publicFolder");
        QTest::addColumn<QString>("root"); // below the home
        QTest::newRow("no public folder: Condivisi, made") << false << "/Condivisi";
        QTest::newRow("the desktop's public folder") << true << "/Pubblici";
    }
    void aNewDatabaseSharesAFolderMadeForIt() {
        QFETCH(bool, publicFolder);
        QFETCH(QString, root);
        QTemporaryDir home, data;
        if (publicFolder)
            QVERIFY(QDir(home.path()).mkdir("Pubblici"));
        const auto values = newDatabaseValues(data.path(), home.path(), home.path() + "/Pubblici");
        QCOMPARE(values.defaultRoot, home.path() + root);
        access::AccountDatabase db(accountsFile(data.path()),
                                   access::AccountDatabase::kShortBusyWaitMs, values);
        QVERIFY(openAccountDatabase(db, data.path()));
        QCOMPARE(storedRoot(data.path()), home.path() + root);
        QVERIFY(QFileInfo(home.path() + root).isDir());
        QVERIFY(!settings::sharesWholeDisk(storedRoot(data.path())));
        // The other one is never made.
        QCOMPARE(QFileInfo::exists(home.path() + "/Condivisi"), !publicFolder);
    }

    // An existing database keeps its root, and nothing is made for it.
    void anExistingDatabaseIsLeftAsItIs() {
        QTemporaryDir home, data;
        QCOMPARE(runSql(accountsFile(data.path()),
                        accountSchema() << "INSERT INTO settings (rootdir) VALUES ('')"),
                 QString());
        access::AccountDatabase db(accountsFile(data.path()),
                                   access::AccountDatabase::kShortBusyWaitMs,
                                   newDatabaseValues(data.path(), home.path(), QString()));
        QVERIFY(openAccountDatabase(db, data.path()));
        QCOMPARE(storedRoot(data.path()), QString());
        QVERIFY(!QFileInfo::exists(home.path() + "/Condivisi"));
    }

    // The service's database shares /srv/kestrova, which its package makes:
    // the program never makes it (a missing one is named by the start).
    void theServiceSharesTheFolderItsPackageMakes() {
        QTemporaryDir home, data;
        QVERIFY(isServiceDataFolder(kServiceDataFolder));
        QVERIFY(isServiceDataFolder(kServiceDataFolder + "/"));
        QVERIFY(!isServiceDataFolder(data.path()));
        QCOMPARE(newDatabaseValues(kServiceDataFolder, home.path(), QString()).defaultRoot,
                 settings::kServiceSharedFolder);
        // Opened as the service's (its folder named so), a root is not made.
        const QString root = home.path() + "/srv-kestrova";
        access::AccountDatabase db(accountsFile(data.path()),
                                   access::AccountDatabase::kShortBusyWaitMs, {root});
        QVERIFY(openAccountDatabase(db, kServiceDataFolder));
        QCOMPARE(storedRoot(data.path()), root);
        QVERIFY(!QFileInfo::exists(root));
    }
};

QTEST_GUILESS_MAIN(TestNewDatabase)
#include "test_newdatabase.moc"
