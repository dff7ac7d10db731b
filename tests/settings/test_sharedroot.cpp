// What a new database shares by default, and what counts as the whole disk.
#include "settings/SharedRoot.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace kv::settings;

class TestSharedRoot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void wholeDisk_data() {
        QTest::addColumn<QString>("root");
        QTest::addColumn<bool>("whole");
        QTest::newRow("empty, the old default") << "" << true;
        QTest::newRow("blanks") << "  " << true;
        QTest::newRow("root") << "/" << true;
        QTest::newRow("root written twice") << "//" << true;
        QTest::newRow("root with a dot") << "/." << true;
        QTest::newRow("root climbed back to") << "/srv/.." << true;
        QTest::newRow("backslash") << "\\" << true;
        QTest::newRow("a folder") << "/srv/ftp" << false;
        QTest::newRow("a folder with a slash") << "/home/a/" << false;
    }
    void wholeDisk() {
        QFETCH(QString, root);
        QFETCH(bool, whole);
        QCOMPARE(sharesWholeDisk(root), whole);
    }

    void defaultRootPrefersTheDesktopsPublicFolder() {
        QTemporaryDir home;
        const QString pub = home.path() + "/Pubblici";
        QVERIFY(QDir().mkdir(pub));
        const QString condivisi = home.path() + "/Condivisi";
        QCOMPARE(safeDefaultRoot(false, home.path(), pub), pub);
        // Missing, the home itself (a turned-off folder), the whole disk, or unset.
        QCOMPARE(safeDefaultRoot(false, home.path(), home.path() + "/Assente"), condivisi);
        QCOMPARE(safeDefaultRoot(false, home.path(), home.path() + "/"), condivisi);
        QCOMPARE(safeDefaultRoot(false, home.path(), "/"), condivisi);
        QCOMPARE(safeDefaultRoot(false, home.path(), QString()), condivisi);
        QCOMPARE(safeDefaultRoot(true, home.path(), pub), kServiceSharedFolder);
    }

    void sharedFolderIsMadeOnceAndNeverOverAFile() {
        QTemporaryDir home;
        const QString folder = home.path() + "/Condivisi";
        QCOMPARE(makeSharedFolder(folder), QString());
        QVERIFY(QFileInfo(folder).isDir());
        QVERIFY(QFile(folder + "/tenuto").open(QIODevice::WriteOnly));
        QCOMPARE(makeSharedFolder(folder), QString());
        QVERIFY(QFileInfo::exists(folder + "/tenuto"));

        const QString file = home.path() + "/file";
        QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        QVERIFY(makeSharedFolder(file).contains("non è una cartella"));
        QVERIFY(QFileInfo(file).isFile());
    }
};

QTEST_GUILESS_MAIN(TestSharedRoot)
#include "test_sharedroot.moc"
